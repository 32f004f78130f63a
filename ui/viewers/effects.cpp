#include "ui/viewers/effects.h"

#include <limits>

namespace {

platform::Rect WindowRect(wsys::Form* window) {
  return window != nullptr ? window->WindowRect() : platform::Rect{};
}

}  // namespace

void ZoomOpen(wsys::Form* window, std::int16_t& x, std::int16_t& y) {
  wsys::AnimateRects(window, {x, y, 0, 0}, WindowRect(window));
}

void ZoomClose(wsys::Form* window, std::int16_t& x, std::int16_t& y) {
  wsys::AnimateRects(window, WindowRect(window), {x, y, 0, 0});
}

void DrawBevel(platform::PictureBox& box, std::int32_t edge) {
  const gdi::RECT rc{0, 0, box.ScaleWidth(), box.ScaleHeight()};
  gdi::DrawEdge(box.hDC(), rc, unsigned(edge), gdi::BF_RECT);
}

void TakeOrigin(std::int16_t& x, std::int16_t& y) {
  platform::Point p;
  constexpr int lo = std::numeric_limits<std::int16_t>::min();
  constexpr int hi = std::numeric_limits<std::int16_t>::max();
  if (wsys::CursorPosition(p) && p.x >= lo && p.x <= hi && p.y >= lo && p.y <= hi) {
    x = std::int16_t(p.x);
    y = std::int16_t(p.y);
  } else {
    x = 0;
    y = 0;
  }
}

void WindowDrag::MouseDown(wsys::Form* window, platform::MouseButton button) {
  if (button != platform::MouseButton::Left) return;
  DragActive = 1;
  platform::Point p;
  if (!wsys::CursorPosition(p)) return;
  DragOffsetX = p.x - window->Left();
  DragOffsetY = p.y - window->Top();
}

void WindowDrag::Attach(wsys::ImageControl& handle, wsys::Form* window) {
  handle.Mouse.MouseDown = [this, window](const wsys::MouseArgs& a) {
    MouseDown(window, a.button);
  };
  handle.Mouse.MouseMove = [this, window](const wsys::MouseArgs&) { MouseMove(window); };
  handle.Mouse.MouseUp = [this](const wsys::MouseArgs&) { MouseUp(); };
}

void WindowDrag::MouseMove(wsys::Form* window) {
  if (DragActive != 1) return;
  platform::Point p;
  if (!wsys::CursorPosition(p)) return;
  window->Move(p.x - DragOffsetX, p.y - DragOffsetY);
}

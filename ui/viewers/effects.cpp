#include "ui/viewers/effects.h"

#include <QWidget>

#include <cmath>
#include <limits>

#include "platform/qt/runtime.h"

namespace {

QRect WindowRect(QWidget* window) {
  return window != nullptr ? window->frameGeometry() : QRect(0, 0, 0, 0);
}

}  // namespace

void ZoomOpen(QWidget* window, std::int16_t& x, std::int16_t& y) {
  const QRect from(x, y, 0, 0);
  qtplat::DrawAnimatedRects(window, qtplat::IDANI_CAPTION, from, WindowRect(window));
}

void ZoomClose(QWidget* window, std::int16_t& x, std::int16_t& y) {
  const QRect to(x, y, 0, 0);
  qtplat::DrawAnimatedRects(window, qtplat::IDANI_CAPTION, WindowRect(window), to);
}

void DrawBevel(platform::PictureBox& box, std::int32_t edge) {
  const gdi::RECT rc{0, 0, box.ScaleWidth(), box.ScaleHeight()};
  gdi::DrawEdge(box.hDC(), rc, unsigned(edge), gdi::BF_RECT);
}

void TakeOrigin(std::int16_t& x, std::int16_t& y) {
  QPoint p;
  constexpr int lo = std::numeric_limits<std::int16_t>::min();
  constexpr int hi = std::numeric_limits<std::int16_t>::max();
  if (qtplat::GetCursorPos(p) && p.x() >= lo && p.x() <= hi && p.y() >= lo && p.y() <= hi) {
    x = std::int16_t(p.x());
    y = std::int16_t(p.y());
  } else {
    x = 0;
    y = 0;
  }
}

void WindowDrag::MouseDown(QWidget* window, platform::MouseButton button) {
  if (button != platform::MouseButton::Left) return;
  DragActive = 1;
  QPoint p;
  if (!qtplat::GetCursorPos(p)) return;
  DragOffsetX = p.x() - window->x();
  DragOffsetY = p.y() - window->y();
}

void WindowDrag::Attach(qtplat::ImageControl& handle, QWidget* window) {
  handle.Mouse.MouseDown = [this, window](const qtplat::MouseArgs& a) {
    MouseDown(window, a.button);
  };
  handle.Mouse.MouseMove = [this, window](const qtplat::MouseArgs&) { MouseMove(window); };
  handle.Mouse.MouseUp = [this](const qtplat::MouseArgs&) { MouseUp(); };
}

void WindowDrag::MouseMove(QWidget* window) {
  if (DragActive != 1) return;
  QPoint p;
  if (!qtplat::GetCursorPos(p)) return;
  window->move(p.x() - DragOffsetX, p.y() - DragOffsetY);
}

// What the windows and the window side say to each other, the same on every
// system: places and sizes in pixels, and what a mouse event reports.
#pragma once

#include <cmath>

namespace platform {

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// Mouse buttons, as bits where several are held.
enum class MouseButton : unsigned { None = 0, Left = 1, Right = 2, Middle = 4 };

// What a control reports of a mouse event: the button that changed (or, for a
// move, none), the buttons held, and the position inside the control and on
// the screen.
struct MouseArgs {
  MouseButton button = MouseButton::None;
  unsigned buttons = 0;
  Point pos;
  Point globalPos;
};

// The left or top of a window of `sizePx` centred on a screen of `screenPx`,
// worked out in twips as the window system of old did: the difference
// rounded, halved and truncated toward zero, then back to whole pixels.
inline int CentreInTwips(int screenPx, int sizePx, double twipsPerPixel) {
  const double diff =
      std::nearbyint(double(screenPx) * twipsPerPixel - double(sizePx) * twipsPerPixel);
  const double half = std::trunc(diff / 2.0);
  return int(std::lround(half / twipsPerPixel));
}

}  // namespace platform

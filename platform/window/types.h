// What the windows and the window side say to each other, the same on every
// system: places and sizes in pixels, what a mouse event reports, and the
// boundary every handler runs inside.
#pragma once

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

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
using MouseHandler = std::function<void(const MouseArgs&)>;

// The boundary round every handler the window side calls (mouse, click,
// scroll, timer, drop, load and unload): an exception leaving the handler
// (running out of memory, in practice, where a run or a picture load does
// not refuse it itself) ends that handler's step there and never unwinds
// through the window system, which neither expects nor survives it, whatever
// its type. Returns false when it did.
inline bool RunHandler(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Velkor: a handler failed: %s\n", e.what());
    return false;
  } catch (...) {  // whatever else is thrown stops here just the same
    std::fputs("Velkor: a handler failed\n", stderr);
    return false;
  }
}

// The file-open dialog's request, the same on every system, and what the seam
// tests replace the dialog through receives; `Window` is the side's Form.
template <typename Window>
struct OpenFileRequest {
  Window* owner = nullptr;
  std::string title;
  std::string filterDescription;
  std::string pattern;  // "*.gif"; the dialog matches it without regard to case
  std::string initialDir;
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

// The sunken three-dimensional border round a picture box with one, two
// pixels wide, as strips of colour: each system's window side fills them in
// this order, so the border's pixels are the same everywhere.
#pragma once

#include <algorithm>
#include <array>

#include "platform/gdi/gdi.h"
#include "platform/window/types.h"

namespace platform {

struct Strip {
  Rect rect;
  gdi::COLORREF colour;
};

// The strips of a border round a box of width x height pixels; a box too
// small for it gets empty ones.
inline std::array<Strip, 8> SunkenBorder(int width, int height) {
  const int w = std::max(width, 2), h = std::max(height, 2);
  const bool fits = width >= 2 && height >= 2;
  auto strip = [fits](int x, int y, int sw, int sh, gdi::COLORREF c) {
    return Strip{fits ? Rect{x, y, sw, sh} : Rect{}, c};
  };
  const gdi::COLORREF shadow = gdi::RGB(128, 128, 128), light = gdi::RGB(255, 255, 255),
                      dark = gdi::RGB(64, 64, 64), face = gdi::RGB(212, 208, 200);
  return {{
      // The outer edge: shadow above and left, light below and right.
      strip(0, 0, w, 1, shadow),
      strip(0, 0, 1, h, shadow),
      strip(0, h - 1, w, 1, light),
      strip(w - 1, 0, 1, h, light),
      // The inner edge: dark above and left, the face below and right.
      strip(1, 1, w - 2, 1, dark),
      strip(1, 1, 1, h - 2, dark),
      strip(1, h - 2, w - 2, 1, face),
      strip(w - 2, 1, 1, h - 2, face),
  }};
}

}  // namespace platform

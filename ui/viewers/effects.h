// What the skinned windows share: the zoom rectangles when a window opens and
// closes, the raised bevel round a picture box, and dragging a borderless
// window by its title strip.
#pragma once

#include <cstdint>

#include "platform/controls/controls.h"
#include "platform/window/window.h"

// Animates a caption bar from the point (x, y) to the window's rectangle.
void ZoomOpen(wsys::Form* window, std::int16_t& x, std::int16_t& y);
// Animates a caption bar from the window's rectangle back to (x, y).
void ZoomClose(wsys::Form* window, std::int16_t& x, std::int16_t& y);

// A raised edge (style 5) drawn inside the box's drawing area, into its image.
void DrawBevel(platform::PictureBox& box, std::int32_t edge);

// The pointer position at load time as two 16-bit values; (0, 0) when the
// position cannot be read or does not fit.
void TakeOrigin(std::int16_t& x, std::int16_t& y);

// Dragging a window by its title strip. Positions are whole pixels, so the
// grab point stays under the pointer at any screen resolution.
struct WindowDrag {
  std::int16_t DragActive = 0;
  std::int32_t DragOffsetX = 0;
  std::int32_t DragOffsetY = 0;

  void MouseDown(wsys::Form* window, platform::MouseButton button);
  void MouseMove(wsys::Form* window);
  void MouseUp() { DragActive = 0; }
  // Makes `handle` (the title strip) drag `window` through the three handlers.
  void Attach(wsys::ImageControl& handle, wsys::Form* window);
};

// The window side on Linux, in the terms the windows use (see
// platform/window/window.h): Qt's widgets under the controls, Qt's pixmaps
// and pointers as the skin's pictures and pointer.
#pragma once

#include <QCursor>
#include <QPixmap>
#include <QPointer>

#include <string>

#include "platform/picture/picture.h"
#include "platform/qt/controls.h"
#include "platform/qt/runtime.h"
#include "platform/window/types.h"

namespace qtplat {

using Image = QPixmap;  // a skin picture, shown by an image control
using Cursor = QCursor;
// Tells whether a window still exists after a step that may have closed it.
template <typename T>
using Alive = QPointer<T>;

// A skin picture by its file name ("title.png"); empty when there is none.
Image SkinImage(const std::string& name);
// The skin picture `name` as a pointer with its hot spot at (hotX, hotY).
Cursor SkinCursor(const std::string& name, int hotX, int hotY);
// The skin picture `name` as a picture for the drawing layer, without its
// transparency.
platform::Picture SkinPicture(const std::string& name);

// The screen's size in pixels; the pointer's position on the screen (false
// when no screen is there to ask).
platform::Size Screen();
bool CursorPosition(platform::Point& out);

// Animates a caption bar between two screen rectangles (see DrawAnimatedRects).
void AnimateRects(Form* window, const platform::Rect& from, const platform::Rect& to);

// Ends the program's event loop.
void Quit();

}  // namespace qtplat

// The window side, as the windows in ui/ use it: `wsys::Form` and the
// controls (`Frame`, `PictureBoxView`, `ImageControl`, `Label`,
// `ListBoxView`, `VScrollBar`, `Timer`), the skin's pictures and pointer, the
// screen, the pointer's position, the zoom rectangles, message boxes, the
// file dialog and the application. Each system has its own implementation
// under these names; this header picks this build's.
#pragma once

#include "platform/window/types.h"

#ifdef _WIN32
#include "platform/win32/window.h"
namespace wsys = win32;
#else
#include "platform/qt/window.h"
namespace wsys = qtplat;
#endif

#include "platform/window/conformance.h"

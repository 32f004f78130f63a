// The window side on Windows, its pictures: the skin pictures kept in the
// program's resources, and putting the drawing layer's bitmaps and the skin
// on a device context. The pixels shown are the models' own, so a window
// shows what it shows on Linux.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

// windows.h's handles, whose macros the drawing layer's names cannot live with.
struct HDC__;
struct HICON__;

namespace win32 {

// A skin picture as decoded: straight (not premultiplied) 0xAARRGGBB words,
// top row first.
struct SkinPixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> argb;
};

// Decodes the PNG picture `name` ("title.png") kept among the running
// program's resources (resources/skin.rc). None when there is no such resource or it
// is not a picture.
std::optional<SkinPixels> LoadSkinImage(const std::string& name);
// The same from PNG bytes.
std::optional<SkinPixels> DecodePng(const std::uint8_t* data, std::size_t size);

// The picture's colours as a 32-bit bitmap, its transparency dropped (the
// background strip is drawn so into the panel).
platform::Picture PictureOf(const SkinPixels& image);

// Copies `bmp` at its own size to (x, y) of `dc`: 32-bit pixels as they are,
// other formats through their colours. False when the system refused.
bool ShowBitmap(HDC__* dc, int x, int y, const gdi::Bitmap& bmp);

// Draws `image` stretched to w x h at (x, y) of `dc`, blended over what is
// there by its transparency. False when the system refused.
bool ShowSkinImage(HDC__* dc, int x, int y, int w, int h, const SkinPixels& image);

// A pointer of the picture with its hot spot at (hotX, hotY), drawn by its
// transparency (the skin's hand). Null when the system refused; the caller
// destroys it with DestroyCursor.
HICON__* MakeCursor(const SkinPixels& image, int hotX, int hotY);
// The same as a window's icon; the caller destroys it with DestroyIcon.
HICON__* MakeIcon(const SkinPixels& image);

// The screen: its size in pixels and the twips one pixel spans across and
// down (1440 / the logical dots per inch).
struct ScreenMetrics {
  int width = 0, height = 0;
  double twipsPerPixelX = 15, twipsPerPixelY = 15;
};
ScreenMetrics ReadScreen();

}  // namespace win32

#include "platform/win32/pictures.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <png.h>

#include <cstring>

namespace win32 {

namespace {

// A 32-bit top-down device-independent bitmap of w x h.
BITMAPINFO TopDown32(int w, int h) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace

std::optional<SkinPixels> DecodePng(const std::uint8_t* data, std::size_t size) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return std::nullopt;
  // BGRA in memory is 0xAARRGGBB in a little-endian word.
  image.format = PNG_FORMAT_BGRA;
  SkinPixels out;
  out.width = int(image.width);
  out.height = int(image.height);
  try {
    out.argb.resize(std::size_t(image.width) * image.height);
  } catch (const std::bad_alloc&) {
    png_image_free(&image);
    return std::nullopt;
  }
  if (!png_image_finish_read(&image, nullptr, out.argb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

std::optional<SkinPixels> LoadSkinImage(const std::string& name) {
  // The resource's name: the file's in capitals, "_" for any other character.
  std::wstring wide;
  for (const char c : name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    wide += kept ? wchar_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) : L'_';
  }
  HRSRC found = FindResourceW(nullptr, wide.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (found == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return std::nullopt;
  return DecodePng(static_cast<const std::uint8_t*>(bytes), SizeofResource(nullptr, found));
}

platform::Picture PictureOf(const SkinPixels& image) {
  auto bmp = gdi::Bitmap::Create(image.width, image.height, gdi::Format::Rgb32);
  if (!bmp) return {};
  bmp->DiscardPendingZero();
  for (int y = 0; y < image.height; ++y) {
    const std::uint32_t* from = image.argb.data() + std::size_t(y) * std::size_t(image.width);
    std::uint32_t* row = bmp->Row32(y);
    for (int x = 0; x < image.width; ++x) row[x] = from[x] & 0x00FFFFFFu;
  }
  return platform::Picture(std::move(*bmp));
}

bool ShowBitmap(HDC__* dc, int x, int y, const gdi::Bitmap& bmp) {
  const int w = bmp.Width(), h = bmp.Height();
  if (w <= 0 || h <= 0) return true;
  const BITMAPINFO info = TopDown32(w, h);
  // 0x00RRGGBB words are the bytes B, G, R, 0 of a 32-bit DIB row.
  std::vector<std::uint32_t> converted;
  const void* bits = nullptr;
  if (bmp.PixelFormat() == gdi::Format::Rgb32) {
    bits = bmp.Row32(0);
  } else {
    converted.resize(std::size_t(w) * std::size_t(h));
    for (int row = 0; row < h; ++row)
      for (int col = 0; col < w; ++col)
        converted[std::size_t(row) * std::size_t(w) + std::size_t(col)] =
            gdi::ToPixel32(bmp.ColorAt(col, row));
    bits = converted.data();
  }
  return StretchDIBits(dc, x, y, w, h, 0, 0, w, h, bits, &info, DIB_RGB_COLORS, SRCCOPY) == h;
}

bool ShowSkinImage(HDC__* dc, int x, int y, int w, int h, const SkinPixels& image) {
  if (image.width <= 0 || image.height <= 0 || w <= 0 || h <= 0) return true;
  // AlphaBlend takes premultiplied pixels from a section selected into a
  // memory context.
  BITMAPINFO info = TopDown32(image.width, image.height);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) return false;
  auto* out = static_cast<std::uint32_t*>(bits);
  for (std::size_t i = 0; i < image.argb.size(); ++i) {
    const std::uint32_t p = image.argb[i], a = p >> 24;
    auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    out[i] = a << 24 | mul(p >> 16 & 0xFF) << 16 | mul(p >> 8 & 0xFF) << 8 | mul(p & 0xFF);
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, section);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const BOOL ok = AlphaBlend(dc, x, y, w, h, memory, 0, 0, image.width, image.height, blend);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(section);
  return ok != FALSE;
}

namespace {
HICON MakeIconOrCursor(const SkinPixels& image, bool icon, int hotX, int hotY) {
  if (image.width <= 0 || image.height <= 0) return nullptr;
  // A 32-bit colour bitmap with straight alpha, and a mask the system
  // ignores for it but wants all the same.
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = image.width;
  header.bV5Height = -image.height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (colour == nullptr) return nullptr;
  std::memcpy(bits, image.argb.data(), image.argb.size() * sizeof(std::uint32_t));
  HBITMAP mask = CreateBitmap(image.width, image.height, 1, 1, nullptr);
  ICONINFO info{icon ? TRUE : FALSE, DWORD(hotX), DWORD(hotY), mask, colour};
  HICON made = mask != nullptr ? CreateIconIndirect(&info) : nullptr;
  if (mask != nullptr) DeleteObject(mask);
  DeleteObject(colour);
  return made;
}
}  // namespace

HICON__* MakeCursor(const SkinPixels& image, int hotX, int hotY) {
  return MakeIconOrCursor(image, false, hotX, hotY);
}

HICON__* MakeIcon(const SkinPixels& image) { return MakeIconOrCursor(image, true, 0, 0); }

ScreenMetrics ReadScreen() {
  ScreenMetrics m;
  m.width = GetSystemMetrics(SM_CXSCREEN);
  m.height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  if (screen != nullptr) {
    const int x = GetDeviceCaps(screen, LOGPIXELSX), y = GetDeviceCaps(screen, LOGPIXELSY);
    if (x > 0) m.twipsPerPixelX = 1440.0 / x;
    if (y > 0) m.twipsPerPixelY = 1440.0 / y;
    ReleaseDC(nullptr, screen);
  }
  return m;
}

}  // namespace win32

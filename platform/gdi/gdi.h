// The drawing layer: bitmaps, device contexts and the raster operations the
// engine, the thumbnails and the GIF export are built on. It reproduces the
// behaviour of the classic GDI calls of the same names closely enough that the
// masking recipe, the stretch and the 8-bit capture give the same pixels.
//
// Stored pixel values:
//   1-bit     0 or 1, one byte per pixel internally
//   8-bit     palette index, with a colour table of 1..256 entries
//   32-bit    0x00RRGGBB
// Colours passed to the calls (COLORREF) are R + 256*G + 65536*B; a value with
// bit 31 set is a system-colour reference.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/system/large_blocks.h"
#include "platform/system/scoped.h"

namespace gdi {

using COLORREF = std::uint32_t;
using DWORD = std::uint32_t;

constexpr COLORREF RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr std::uint8_t GetRValue(COLORREF c) { return std::uint8_t(c & 0xFF); }
constexpr std::uint8_t GetGValue(COLORREF c) { return std::uint8_t((c >> 8) & 0xFF); }
constexpr std::uint8_t GetBValue(COLORREF c) { return std::uint8_t((c >> 16) & 0xFF); }

// 32-bit stored word <-> COLORREF.
constexpr std::uint32_t ToPixel32(COLORREF c) {
  return (std::uint32_t(GetRValue(c)) << 16) | (std::uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}
constexpr COLORREF FromPixel32(std::uint32_t p) {
  return RGB(std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p));
}

// Raster operations (the real codes).
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;

constexpr int COLORONCOLOR = 3;

constexpr unsigned BDR_RAISEDOUTER = 0x1;
constexpr unsigned BDR_RAISEDINNER = 0x4;
constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr unsigned BF_LEFT = 0x1, BF_TOP = 0x2, BF_RIGHT = 0x4, BF_BOTTOM = 0x8;
constexpr unsigned BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;

constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;

constexpr unsigned DIB_RGB_COLORS = 0;
constexpr std::uint32_t BI_RGB = 0;

struct RGBQUAD {
  std::uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
  bool operator==(const RGBQUAD&) const = default;
};
constexpr RGBQUAD QuadOf(COLORREF c) { return {GetBValue(c), GetGValue(c), GetRValue(c), 0}; }
constexpr COLORREF ColorOf(RGBQUAD q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); }

struct RECT {
  int left = 0, top = 0, right = 0, bottom = 0;
};

enum class Format { Mono1, Indexed8, Rgb32 };

// The largest bitmap any creation call accepts, in pixels. 16384 x 16384 fits
// (a 1 GiB 32-bit canvas); anything a hostile GIF header could ask beyond that
// is refused before a byte is allocated.
constexpr std::int64_t kMaxBitmapPixels = std::int64_t(16384) * 16384;

// Tests and fuzzers may lower the limit so that extreme-but-legal sizes do not
// dominate their memory; it can never be raised above kMaxBitmapPixels.
void SetPixelLimit(std::int64_t pixels);
std::int64_t PixelLimit();
// The limit for the guard's life, then the previous one again.
using ScopedPixelLimit = sys::Scoped<std::int64_t, PixelLimit, SetPixelLimit>;
// True when a bitmap of w x h may be created (sizes non-negative, product
// within the limit).
bool SizeAllowed(std::int64_t w, std::int64_t h);

// Pixel storage: words that are left uninitialised when the vector grows, so
// that a bitmap's first drawing is its first write. Large buffers come from
// sys::AllocateLarge (huge pages where the system has them), except in a
// build with the address sanitizer, which must see every buffer's bounds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kLargeBlocks = false;
#else
inline constexpr bool kLargeBlocks = true;
#endif
#else
inline constexpr bool kLargeBlocks = true;
#endif

template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (kLargeBlocks && n >= sys::kLargeBlockMin / sizeof(T)) {
      if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
      return static_cast<T*>(sys::AllocateLarge(n * sizeof(T)));
    }
    return std::allocator<T>::allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (kLargeBlocks && n >= sys::kLargeBlockMin / sizeof(T)) {
      sys::FreeLarge(p, n * sizeof(T));
      return;
    }
    std::allocator<T>::deallocate(p, n);
  }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PixelBuffer = std::vector<std::uint32_t, UninitialisedAllocator<std::uint32_t>>;

// Pixel storage recycling (used by Bitmap). The buffer's content is undefined.
PixelBuffer TakeBuffer(std::size_t words);
void ReturnBuffer(PixelBuffer&& buffer);

class Bitmap {
 public:
  static std::optional<Bitmap> Create(int width, int height, Format format,
                                      std::vector<RGBQUAD> palette = {});

  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&& other) noexcept;
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  Format PixelFormat() const { return format_; }
  int BitsPerPixel() const;
  const std::vector<RGBQUAD>& Palette() const { return palette_; }

  // Row access (top-down). Mono and 8-bit rows hold one byte per pixel,
  // 32-bit rows one word per pixel.
  std::uint8_t* Row8(int y) {
    ZeroIfPending();
    return reinterpret_cast<std::uint8_t*>(data_.data()) + std::size_t(y) * std::size_t(width_);
  }
  const std::uint8_t* Row8(int y) const {
    ZeroIfPending();
    return reinterpret_cast<const std::uint8_t*>(data_.data()) +
           std::size_t(y) * std::size_t(width_);
  }
  std::uint32_t* Row32(int y) {
    ZeroIfPending();
    return data_.data() + std::size_t(y) * std::size_t(width_);
  }
  const std::uint32_t* Row32(int y) const {
    ZeroIfPending();
    return data_.data() + std::size_t(y) * std::size_t(width_);
  }

  // A new bitmap reads as all zero. The zeroing waits until the pixels are
  // first touched, and is skipped altogether when the first drawing
  // overwrites every pixel (as a loaded picture's rows or a full copy do).
  void ZeroIfPending() const {
    if (zeroPending_) {
      std::fill(data_.begin(), data_.end(), 0u);
      zeroPending_ = false;
    }
  }
  void DiscardPendingZero() { zeroPending_ = false; }

  // Stored value at (x, y); 0 outside.
  std::uint32_t Get(int x, int y) const;
  void Set(int x, int y, std::uint32_t v);
  // The colour shown at (x, y): palette colour, 0x00RRGGBB word, or black/white.
  COLORREF ColorAt(int x, int y) const;

  // Nearest colour-table index: unweighted squared RGB distance, exact match
  // first, ties to the lowest index.
  std::uint8_t NearestIndex(COLORREF c) const;

 private:
  Bitmap() = default;
  int width_ = 0, height_ = 0;
  Format format_ = Format::Rgb32;
  // Pixels: words for 32-bit bitmaps, bytes (viewed through the words) for
  // the others. Large buffers are recycled when a bitmap is destroyed.
  mutable PixelBuffer data_;
  mutable bool zeroPending_ = false;
  std::vector<RGBQUAD> palette_;
};

// What a context draws on. Memory contexts draw into their selected bitmap;
// the screen context (GetDC of no window) draws nowhere but answers queries as
// a true-colour display.
class DC {
 public:
  enum class Kind { Memory, Screen };
  explicit DC(Kind kind = Kind::Memory) : kind_(kind) {}
  DC(const DC&) = delete;
  DC& operator=(const DC&) = delete;

  Kind kind() const { return kind_; }
  Bitmap* selected() const { return selected_; }

  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);

  // Called after every drawing call that targets this context: lets a picture
  // box without a persistent image show each drawing at once.
  std::function<void()> onDraw;

 private:
  friend Bitmap* SelectObject(DC&, Bitmap*);
  Kind kind_;
  Bitmap* selected_ = nullptr;
};

// Selects `bmp` into `dc` and returns what was selected before (nullptr is the
// context's default 1 x 1 monochrome stock bitmap, which nothing draws into).
Bitmap* SelectObject(DC& dc, Bitmap* bmp);

// Puts the previous selection back when it goes out of scope.
class SelectionGuard {
 public:
  SelectionGuard(DC& dc, Bitmap* bmp) : dc_(dc), previous_(SelectObject(dc, bmp)) {}
  ~SelectionGuard() { SelectObject(dc_, previous_); }
  SelectionGuard(const SelectionGuard&) = delete;
  SelectionGuard& operator=(const SelectionGuard&) = delete;

 private:
  DC& dc_;
  Bitmap* previous_;
};

std::unique_ptr<DC> CreateCompatibleDC(const DC* ref);  // nullptr: the screen
std::unique_ptr<DC> GetDC();                            // the screen context
// A bitmap compatible with `dc`: 32-bit for the screen and for contexts with
// a 32-bit (or no colour) bitmap; monochrome for a memory context that still
// holds its stock bitmap; 8-bit with the same table for an 8-bit selection.
std::optional<Bitmap> CreateCompatibleBitmap(const DC& dc, int width, int height);
// A monochrome bitmap (CreateBitmap with 1 plane, 1 bit per pixel).
std::optional<Bitmap> CreateMonoBitmap(int width, int height);

COLORREF SetBkColor(DC& dc, COLORREF c);    // returns the previous colour
COLORREF SetTextColor(DC& dc, COLORREF c);  // returns the previous colour
int SetStretchBltMode(DC& dc, int mode);    // always nearest-neighbour; returns COLORONCOLOR

bool BitBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, DWORD rop);
bool StretchBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, int sw, int sh,
                DWORD rop);

struct Brush {
  COLORREF color = 0;
};
inline Brush CreateSolidBrush(COLORREF c) { return Brush{c}; }
bool FillRect(DC& dc, const RECT& rc, const Brush& brush);

COLORREF GetSysColor(int index);
// Resolves system-colour references (bit 31) through GetSysColor, then gives
// the nearest colour the context can show.
COLORREF GetNearestColor(const DC& dc, COLORREF c);

bool DrawEdge(DC& dc, const RECT& rc, unsigned edge, unsigned flags);

struct BITMAP {
  int bmType = 0;
  int bmWidth = 0;
  int bmHeight = 0;
  int bmWidthBytes = 0;
  int bmPlanes = 0;
  int bmBitsPixel = 0;
};
// Fills `out` and returns true for a bitmap; nullptr gives a zeroed record.
bool GetObject(const Bitmap* bmp, BITMAP& out);

struct BITMAPINFOHEADER {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = BI_RGB;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256] = {};
};

// Row length of an 8-bit scan line, rounded up to a multiple of 4.
constexpr std::int64_t Stride8(std::int64_t width) { return (width + 3) / 4 * 4; }

// An 8-bit section: only 8 bits per pixel with its colour table is supported.
std::optional<Bitmap> CreateDIBSection(const DC& dc, const BITMAPINFO& info, unsigned usage);

// Reads `lines` 8-bit scan lines starting at `start` (0 = bottom line) of an
// 8-bit bitmap into `bits` (bottom-up, each line Stride8(width) long) and fills
// the colour entries of `info`. Returns the number of lines copied; 0 when the
// request is not for 8 bits per pixel or the bitmap is not 8-bit.
int GetDIBits(const DC& dc, const Bitmap& bmp, int start, int lines, std::uint8_t* bits,
              BITMAPINFO& info, unsigned usage);

}  // namespace gdi

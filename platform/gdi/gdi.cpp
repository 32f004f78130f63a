#include "platform/gdi/gdi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace gdi {

namespace {

std::atomic<std::int64_t> g_pixel_limit{kMaxBitmapPixels};

// Classic (Windows Standard) scheme, indices 0..30.
constexpr std::array<COLORREF, 31> kSysColors = {
    RGB(212, 208, 200),  // 0 scroll bar
    RGB(58, 110, 165),   // 1 desktop
    RGB(10, 36, 106),    // 2 active caption
    RGB(128, 128, 128),  // 3 inactive caption
    RGB(212, 208, 200),  // 4 menu
    RGB(255, 255, 255),  // 5 window
    RGB(0, 0, 0),        // 6 window frame
    RGB(0, 0, 0),        // 7 menu text
    RGB(0, 0, 0),        // 8 window text
    RGB(255, 255, 255),  // 9 caption text
    RGB(212, 208, 200),  // 10 active border
    RGB(212, 208, 200),  // 11 inactive border
    RGB(128, 128, 128),  // 12 application workspace
    RGB(10, 36, 106),    // 13 highlight
    RGB(255, 255, 255),  // 14 highlight text
    RGB(212, 208, 200),  // 15 button face
    RGB(128, 128, 128),  // 16 button shadow
    RGB(128, 128, 128),  // 17 grey text
    RGB(0, 0, 0),        // 18 button text
    RGB(212, 208, 200),  // 19 inactive caption text
    RGB(255, 255, 255),  // 20 button highlight
    RGB(64, 64, 64),     // 21 3D dark shadow
    RGB(212, 208, 200),  // 22 3D light
    RGB(0, 0, 0),        // 23 tooltip text
    RGB(255, 255, 225),  // 24 tooltip background
    RGB(181, 181, 181),  // 25 (unused slot)
    RGB(0, 0, 128),      // 26 hot-tracked item
    RGB(166, 202, 240),  // 27 active caption gradient
    RGB(192, 192, 192),  // 28 inactive caption gradient
    RGB(49, 106, 197),   // 29 menu highlight
    RGB(236, 233, 216),  // 30 menu bar
};

// A stored value of `dst`'s format for a colour.
std::uint32_t StoredValueFor(const Bitmap& dst, COLORREF c) {
  switch (dst.PixelFormat()) {
    case Format::Mono1: {
      // Nearest of black and white; ties go to black.
      const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
      const int dBlack = r * r + g * g + b * b;
      const int dWhite = (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
      return dWhite < dBlack ? 1u : 0u;
    }
    case Format::Indexed8:
      return dst.NearestIndex(c);
    case Format::Rgb32:
      return ToPixel32(c);
  }
  return 0;
}

template <typename T, typename Get>
void ApplyRow(T* d, int n, const Get& get, DWORD rop, T notMask) {
  switch (rop) {
    case SRCCOPY:
      for (int i = 0; i < n; ++i) d[i] = get(i);
      break;
    case SRCAND:
      for (int i = 0; i < n; ++i) d[i] &= get(i);
      break;
    case SRCINVERT:
      for (int i = 0; i < n; ++i) d[i] ^= get(i);
      break;
    case NOTSRCCOPY:
      for (int i = 0; i < n; ++i) d[i] = T(~get(i) & notMask);
      break;
    default:
      break;
  }
}

// Nearest-index search for true-colour sources. The colour cube is cut into
// 16 x 16 x 16 cells; for each cell, built when first needed, only the table
// entries that can be nearest to some colour of the cell are kept (an entry
// whose closest possible distance exceeds another entry's farthest one never
// wins). The search over those candidates uses the same rule as NearestIndex:
// smallest squared distance, then lowest index.
class PaletteIndexer {
 public:
  explicit PaletteIndexer(const std::vector<RGBQUAD>& pal) : pal_(pal) { cells_.fill({0, kUnbuilt}); }
  const std::vector<RGBQUAD>& palette() const { return pal_; }

  std::uint8_t Lookup(std::uint32_t word) {
    const int r = int((word >> 16) & 0xFF), g = int((word >> 8) & 0xFF), b = int(word & 0xFF);
    const std::size_t cell = std::size_t(((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4));
    Cell& c = cells_[cell];
    if (c.count == kUnbuilt) Build(cell, c);
    if (c.count == 1) return candidates_[c.start];
    long bestD = -1;
    std::uint8_t best = 0;
    for (std::uint32_t k = 0; k < c.count; ++k) {
      const std::uint8_t i = candidates_[c.start + k];
      const auto& q = pal_[i];
      const long dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
      const long d = dr * dr + dg * dg + db * db;
      if (bestD < 0 || d < bestD) {
        bestD = d;
        best = i;
      }
    }
    return best;
  }

 private:
  static constexpr std::uint32_t kUnbuilt = 0xFFFFFFFFu;
  struct Cell {
    std::uint32_t start, count;
  };
  static long AxisMin(int v, int lo, int hi) { return v < lo ? lo - v : v > hi ? v - hi : 0; }
  static long AxisMax(int v, int lo, int hi) { return std::max(std::abs(v - lo), std::abs(v - hi)); }

  void Build(std::size_t cell, Cell& c) {
    const int r0 = int(cell >> 8) * 16, g0 = int((cell >> 4) & 15) * 16, b0 = int(cell & 15) * 16;
    std::array<long, 256> minD{};
    long bestMax = -1;
    for (std::size_t i = 0; i < pal_.size(); ++i) {
      const auto& q = pal_[i];
      const long mr = AxisMin(q.rgbRed, r0, r0 + 15), mg = AxisMin(q.rgbGreen, g0, g0 + 15),
                 mb = AxisMin(q.rgbBlue, b0, b0 + 15);
      minD[i] = mr * mr + mg * mg + mb * mb;
      const long xr = AxisMax(q.rgbRed, r0, r0 + 15), xg = AxisMax(q.rgbGreen, g0, g0 + 15),
                 xb = AxisMax(q.rgbBlue, b0, b0 + 15);
      const long maxD = xr * xr + xg * xg + xb * xb;
      if (bestMax < 0 || maxD < bestMax) bestMax = maxD;
    }
    c.start = std::uint32_t(candidates_.size());
    for (std::size_t i = 0; i < pal_.size(); ++i) {
      if (minD[i] <= bestMax) candidates_.push_back(std::uint8_t(i));
    }
    c.count = std::uint32_t(candidates_.size()) - c.start;
    if (c.count == 0) {  // an empty table: index 0
      candidates_.push_back(0);
      c.count = 1;
    }
  }

  std::vector<RGBQUAD> pal_;
  std::array<Cell, 4096> cells_{};
  std::vector<std::uint8_t> candidates_;
};

// The indexers of the last few tables: the capture of every exported frame
// uses the same fixed table, so its cells are built once per process.
std::shared_ptr<PaletteIndexer> IndexerFor(const std::vector<RGBQUAD>& pal) {
  thread_local std::vector<std::shared_ptr<PaletteIndexer>> recent;
  for (std::size_t i = 0; i < recent.size(); ++i) {
    if (recent[i]->palette() == pal) {
      auto found = recent[i];
      recent.erase(recent.begin() + std::ptrdiff_t(i));
      recent.insert(recent.begin(), found);
      return found;
    }
  }
  auto made = std::make_shared<PaletteIndexer>(pal);
  recent.insert(recent.begin(), made);
  if (recent.size() > 4) recent.pop_back();
  return made;
}

struct Span {
  int dx0 = 0;   // first destination column (absolute)
  int count = 0; // number of columns
  int sx0 = 0;   // source column of the first destination column (identity case)
  std::vector<int> xmap;  // source column per destination column (stretch case)
  bool identity = true;
};

// One blit with both rectangles already validated as positive. Converts the
// source to the destination's format, stretches by nearest neighbour, then
// applies the raster operation to the stored values.
void Blit(Bitmap& dst, const DC& dstDC, int x, int y, int w, int h, const Bitmap& src,
          const DC& srcDC, int sx, int sy, int sw, int sh, DWORD rop) {
  const bool stretch = (w != sw) || (h != sh);
  const std::int64_t dW = dst.Width(), dH = dst.Height(), sW = src.Width(), sH = src.Height();

  // Columns: destination inside its bitmap and mapped source inside its own.
  Span span;
  span.identity = !stretch;
  std::int64_t i0 = std::max<std::int64_t>(0, -std::int64_t(x));
  std::int64_t i1 = std::min<std::int64_t>(w, dW - x);
  auto srcCol = [&](std::int64_t i) { return sx + (stretch ? i * sw / w : i); };
  while (i0 < i1 && (srcCol(i0) < 0 || srcCol(i0) >= sW)) ++i0;
  while (i1 > i0 && (srcCol(i1 - 1) < 0 || srcCol(i1 - 1) >= sW)) --i1;
  if (i0 >= i1) return;
  span.dx0 = int(x + i0);
  span.count = int(i1 - i0);
  span.sx0 = int(srcCol(i0));
  if (stretch) {
    span.xmap.resize(std::size_t(span.count));
    for (int k = 0; k < span.count; ++k) span.xmap[std::size_t(k)] = int(srcCol(i0 + k));
  }

  std::int64_t j0 = std::max<std::int64_t>(0, -std::int64_t(y));
  std::int64_t j1 = std::min<std::int64_t>(h, dH - y);
  auto srcRow = [&](std::int64_t j) { return sy + (stretch ? j * sh / h : j); };

  const Format df = dst.PixelFormat(), sf = src.PixelFormat();

  // Per-pair translation tables.
  std::array<std::uint32_t, 256> lut{};
  std::uint32_t monoKey32 = 0;
  std::uint8_t monoKey8 = 0;
  if (df == Format::Mono1) {
    if (sf == Format::Rgb32) monoKey32 = ToPixel32(srcDC.bkColor);
    if (sf == Format::Indexed8) monoKey8 = src.NearestIndex(srcDC.bkColor);
  } else if (sf == Format::Mono1) {
    lut[0] = StoredValueFor(dst, dstDC.textColor);
    lut[1] = StoredValueFor(dst, dstDC.bkColor);
  } else if (sf == Format::Indexed8 && df == Format::Indexed8 && src.Palette() == dst.Palette()) {
    // The same table: indices carry over unchanged.
    for (std::uint32_t k = 0; k < 256; ++k) lut[k] = k;
  } else if (sf == Format::Indexed8) {
    const auto& pal = src.Palette();
    for (int k = 0; k < 256; ++k) {
      const COLORREF c = k < int(pal.size()) ? ColorOf(pal[std::size_t(k)]) : 0;
      lut[std::size_t(k)] = StoredValueFor(dst, c);
    }
  }
  std::shared_ptr<PaletteIndexer> indexer;
  if (df == Format::Indexed8 && sf == Format::Rgb32) indexer = IndexerFor(dst.Palette());

  for (std::int64_t j = j0; j < j1; ++j) {
    const std::int64_t syy = srcRow(j);
    if (syy < 0 || syy >= sH) continue;
    const int dy = int(y + j);
    const int n = span.count;
    auto col = [&](int i) { return span.identity ? span.sx0 + i : span.xmap[std::size_t(i)]; };

    if (df == Format::Rgb32) {
      std::uint32_t* d = dst.Row32(dy) + span.dx0;
      if (sf == Format::Rgb32) {
        const std::uint32_t* s = src.Row32(int(syy));
        if (span.identity) {
          const std::uint32_t* ss = s + span.sx0;
          if (rop == SRCCOPY) {
            std::memmove(d, ss, std::size_t(n) * 4);
          } else {
            ApplyRow<std::uint32_t>(d, n, [ss](int i) { return ss[i]; }, rop, 0x00FFFFFFu);
          }
        } else {
          ApplyRow<std::uint32_t>(d, n, [&](int i) { return s[col(i)]; }, rop, 0x00FFFFFFu);
        }
      } else {
        const std::uint8_t* s = src.Row8(int(syy));
        if (span.identity) {
          const std::uint8_t* ss = s + span.sx0;
          ApplyRow<std::uint32_t>(d, n, [&](int i) { return lut[ss[i]]; }, rop, 0x00FFFFFFu);
        } else {
          ApplyRow<std::uint32_t>(d, n, [&](int i) { return lut[s[col(i)]]; }, rop, 0x00FFFFFFu);
        }
      }
      continue;
    }

    std::uint8_t* d = dst.Row8(dy) + span.dx0;
    const std::uint8_t notMask = df == Format::Mono1 ? 1 : 0xFF;
    if (sf == Format::Rgb32) {
      const std::uint32_t* s = src.Row32(int(syy));
      if (df == Format::Mono1) {
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return std::uint8_t(s[col(i)] == monoKey32); }, rop, notMask);
      } else {
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return indexer->Lookup(s[col(i)]); }, rop, notMask);
      }
    } else {
      const std::uint8_t* s = src.Row8(int(syy));
      if (df == Format::Mono1 && sf == Format::Indexed8) {
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return std::uint8_t(s[col(i)] == monoKey8); }, rop, notMask);
      } else if (df == Format::Mono1) {  // mono -> mono: stored bits as they are
        if (span.identity && rop == SRCCOPY) {
          std::memmove(d, s + span.sx0, std::size_t(n));
        } else {
          ApplyRow<std::uint8_t>(d, n, [&](int i) { return s[col(i)]; }, rop, notMask);
        }
      } else {  // into 8-bit from mono or 8-bit: through the table
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return std::uint8_t(lut[s[col(i)]]); }, rop, notMask);
      }
    }
  }
}

bool BlitChecked(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, int sw,
                 int sh, DWORD rop) {
  if (rop != SRCCOPY && rop != SRCAND && rop != SRCINVERT && rop != NOTSRCCOPY) return false;
  Bitmap* d = dst.selected();
  const Bitmap* s = src.selected();
  if (dst.kind() == DC::Kind::Screen) return true;  // the screen shows, keeps nothing
  if (d == nullptr || s == nullptr) return false;
  if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return true;
  Blit(*d, dst, x, y, w, h, *s, src, sx, sy, sw, sh, rop);
  if (dst.onDraw) dst.onDraw();
  return true;
}

void FillPixels(Bitmap& bmp, int left, int top, int right, int bottom, std::uint32_t v) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, bmp.Width());
  bottom = std::min(bottom, bmp.Height());
  for (int y = top; y < bottom; ++y) {
    if (bmp.PixelFormat() == Format::Rgb32) {
      std::fill(bmp.Row32(y) + left, bmp.Row32(y) + std::max(left, right), v);
    } else {
      std::fill(bmp.Row8(y) + left, bmp.Row8(y) + std::max(left, right), std::uint8_t(v));
    }
  }
}

}  // namespace

void SetPixelLimit(std::int64_t pixels) {
  g_pixel_limit = std::clamp<std::int64_t>(pixels, 0, kMaxBitmapPixels);
}
std::int64_t PixelLimit() { return g_pixel_limit; }

bool SizeAllowed(std::int64_t w, std::int64_t h) {
  if (w < 0 || h < 0) return false;
  if (w > kMaxBitmapPixels || h > kMaxBitmapPixels) return false;
  return w * h <= g_pixel_limit;
}

std::optional<Bitmap> Bitmap::Create(int width, int height, Format format,
                                     std::vector<RGBQUAD> palette) {
  if (!SizeAllowed(width, height)) return std::nullopt;
  if (palette.size() > 256) return std::nullopt;
  Bitmap b;
  b.width_ = width;
  b.height_ = height;
  b.format_ = format;
  const std::size_t n = std::size_t(width) * std::size_t(height);
  if (format == Format::Rgb32) {
    b.data32_.assign(n, 0);
  } else {
    b.data8_.assign(n, 0);
  }
  if (format == Format::Indexed8) {
    if (palette.empty()) palette.assign(256, RGBQUAD{});
    b.palette_ = std::move(palette);
  }
  return b;
}

int Bitmap::BitsPerPixel() const {
  switch (format_) {
    case Format::Mono1:
      return 1;
    case Format::Indexed8:
      return 8;
    case Format::Rgb32:
      return 32;
  }
  return 0;
}

void Bitmap::SetPalette(std::vector<RGBQUAD> palette) {
  if (format_ == Format::Indexed8 && !palette.empty() && palette.size() <= 256)
    palette_ = std::move(palette);
}

std::uint32_t Bitmap::Get(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return format_ == Format::Rgb32 ? Row32(y)[x] : Row8(y)[x];
}

void Bitmap::Set(int x, int y, std::uint32_t v) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (format_ == Format::Rgb32) {
    Row32(y)[x] = v;
  } else {
    Row8(y)[x] = std::uint8_t(format_ == Format::Mono1 ? (v & 1) : v);
  }
}

COLORREF Bitmap::ColorAt(int x, int y) const {
  const std::uint32_t v = Get(x, y);
  switch (format_) {
    case Format::Mono1:
      return v ? RGB(255, 255, 255) : RGB(0, 0, 0);
    case Format::Indexed8:
      return v < palette_.size() ? ColorOf(palette_[v]) : 0;
    case Format::Rgb32:
      return FromPixel32(v);
  }
  return 0;
}

std::uint8_t Bitmap::NearestIndex(COLORREF c) const {
  const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  int best = 0;
  long bestD = -1;
  for (std::size_t i = 0; i < palette_.size(); ++i) {
    const auto& q = palette_[i];
    const long dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - b;
    const long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) {
      bestD = d;
      best = int(i);
      if (d == 0) break;
    }
  }
  return std::uint8_t(best);
}

Bitmap* SelectObject(DC& dc, Bitmap* bmp) {
  Bitmap* previous = dc.selected_;
  dc.selected_ = bmp;
  return previous;
}

std::unique_ptr<DC> CreateCompatibleDC(const DC*) { return std::make_unique<DC>(DC::Kind::Memory); }

std::unique_ptr<DC> GetDC() { return std::make_unique<DC>(DC::Kind::Screen); }

std::optional<Bitmap> CreateCompatibleBitmap(const DC& dc, int width, int height) {
  if (dc.kind() == DC::Kind::Screen) return Bitmap::Create(width, height, Format::Rgb32);
  const Bitmap* sel = dc.selected();
  if (sel == nullptr) return Bitmap::Create(width, height, Format::Mono1);
  return Bitmap::Create(width, height, sel->PixelFormat(),
                        sel->PixelFormat() == Format::Indexed8 ? sel->Palette()
                                                               : std::vector<RGBQUAD>{});
}

std::optional<Bitmap> CreateMonoBitmap(int width, int height) {
  return Bitmap::Create(width, height, Format::Mono1);
}

COLORREF SetBkColor(DC& dc, COLORREF c) { return std::exchange(dc.bkColor, c); }
COLORREF SetTextColor(DC& dc, COLORREF c) { return std::exchange(dc.textColor, c); }
int SetStretchBltMode(DC& dc, int mode) { return std::exchange(dc.stretchMode, mode); }

bool BitBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, DWORD rop) {
  return BlitChecked(dst, x, y, w, h, src, sx, sy, w, h, rop);
}

bool StretchBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, int sw,
                int sh, DWORD rop) {
  return BlitChecked(dst, x, y, w, h, src, sx, sy, sw, sh, rop);
}

bool FillRect(DC& dc, const RECT& rc, const Brush& brush) {
  if (dc.kind() == DC::Kind::Screen) return true;
  Bitmap* b = dc.selected();
  if (b == nullptr) return false;
  FillPixels(*b, rc.left, rc.top, rc.right, rc.bottom, StoredValueFor(*b, brush.color));
  if (dc.onDraw) dc.onDraw();
  return true;
}

COLORREF GetSysColor(int index) {
  if (index < 0 || index >= int(kSysColors.size())) return 0;
  return kSysColors[std::size_t(index)];
}

COLORREF GetNearestColor(const DC& dc, COLORREF c) {
  if (c & 0x80000000u) c = GetSysColor(int(c & 0xFFFFFF));
  c &= 0x00FFFFFF;
  const Bitmap* b = dc.selected();
  if (dc.kind() == DC::Kind::Memory && b != nullptr) {
    if (b->PixelFormat() == Format::Indexed8) return ColorOf(b->Palette()[b->NearestIndex(c)]);
    if (b->PixelFormat() == Format::Mono1) return StoredValueFor(*b, c) ? RGB(255, 255, 255) : 0;
  }
  return c;
}

bool DrawEdge(DC& dc, const RECT& rc, unsigned edge, unsigned flags) {
  if (dc.kind() == DC::Kind::Screen) return true;
  Bitmap* b = dc.selected();
  if (b == nullptr) return false;
  // Each ring: light colour on top and left, dark on bottom and right; the
  // dark lines own the top-right and bottom-left corners.
  auto ring = [&](const RECT& r, COLORREF light, COLORREF dark) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    const std::uint32_t lv = StoredValueFor(*b, light), dv = StoredValueFor(*b, dark);
    if (flags & BF_TOP) FillPixels(*b, r.left, r.top, r.right - 1, r.top + 1, lv);
    if (flags & BF_LEFT) FillPixels(*b, r.left, r.top, r.left + 1, r.bottom - 1, lv);
    if (flags & BF_BOTTOM) FillPixels(*b, r.left, r.bottom - 1, r.right, r.bottom, dv);
    if (flags & BF_RIGHT) FillPixels(*b, r.right - 1, r.top, r.right, r.bottom, dv);
  };
  RECT r = rc;
  if (edge & BDR_RAISEDOUTER) {
    ring(r, GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW));
    r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  }
  if (edge & BDR_RAISEDINNER) {
    ring(r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
  }
  if (dc.onDraw) dc.onDraw();
  return true;
}

bool GetObject(const Bitmap* bmp, BITMAP& out) {
  out = BITMAP{};
  if (bmp == nullptr) return false;
  out.bmWidth = bmp->Width();
  out.bmHeight = bmp->Height();
  out.bmPlanes = 1;
  out.bmBitsPixel = bmp->BitsPerPixel();
  out.bmWidthBytes = int((std::int64_t(bmp->Width()) * out.bmBitsPixel + 15) / 16 * 2);
  return true;
}

std::optional<Bitmap> CreateDIBSection(const DC&, const BITMAPINFO& info, unsigned usage) {
  const auto& h = info.bmiHeader;
  if (usage != DIB_RGB_COLORS || h.biBitCount != 8 || h.biCompression != BI_RGB) {
    return std::nullopt;
  }
  const std::int64_t height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
  if (h.biWidth < 0 || height > INT32_MAX) return std::nullopt;
  const std::size_t colors = h.biClrUsed == 0 ? 256 : std::min<std::size_t>(h.biClrUsed, 256);
  std::vector<RGBQUAD> pal(info.bmiColors, info.bmiColors + colors);
  for (auto& q : pal) q.rgbReserved = 0;
  return Bitmap::Create(h.biWidth, int(height), Format::Indexed8, std::move(pal));
}

int GetDIBits(const DC&, const Bitmap& bmp, int start, int lines, std::uint8_t* bits,
              BITMAPINFO& info, unsigned usage) {
  if (usage != DIB_RGB_COLORS || info.bmiHeader.biBitCount != 8) return 0;
  if (bmp.PixelFormat() != Format::Indexed8) return 0;
  const auto& pal = bmp.Palette();
  for (std::size_t i = 0; i < 256; ++i) info.bmiColors[i] = i < pal.size() ? pal[i] : RGBQUAD{};
  if (bits == nullptr || start < 0 || lines <= 0) return 0;
  const int h = bmp.Height(), w = bmp.Width();
  const std::size_t stride = std::size_t(Stride8(w));
  int copied = 0;
  for (int k = 0; k < lines && start + k < h; ++k) {
    const int s = start + k;  // 0 is the bottom line
    std::uint8_t* out = bits + std::size_t(k) * stride;
    std::memcpy(out, bmp.Row8(h - 1 - s), std::size_t(w));
    std::memset(out + w, 0, stride - std::size_t(w));
    ++copied;
  }
  return copied;
}

}  // namespace gdi

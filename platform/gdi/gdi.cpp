#include "platform/gdi/gdi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/system/per_thread.h"

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
// 32 x 32 x 32 cells, each built when first needed. For a cell only the table
// entries that can be nearest to some colour in it are candidates (an entry
// whose closest possible distance exceeds another entry's farthest one never
// wins, nor does a colour an earlier entry already has). A cell with several
// candidates gets its 512 answers worked out in one go with the same rule as
// NearestIndex (smallest squared distance, then lowest index); a cell with one
// shares a block that holds that index 512 times, so that every look-up is the
// same two loads without a branch.
class PaletteIndexer {
 public:
  explicit PaletteIndexer(const std::vector<RGBQUAD>& pal)
      : pal_(pal), cells_(kCells, kUnbuilt), answers_(256 * kBlock) {
    for (std::size_t v = 0; v < 256; ++v)
      std::fill_n(answers_.begin() + std::ptrdiff_t(v * kBlock), kBlock, std::uint8_t(v));
  }
  const std::vector<RGBQUAD>& palette() const { return pal_; }

  std::uint8_t Lookup(std::uint32_t word) {
    const std::uint32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
    const std::size_t cell =
        ((r >> kShift) << (2 * kBits)) | ((g >> kShift) << kBits) | (b >> kShift);
    std::uint32_t& c = cells_[cell];
    if (c == kUnbuilt) c = Build(cell);
    const std::uint32_t m = kSide - 1;
    return answers_[c + (((r & m) << (2 * kShift)) | ((g & m) << kShift) | (b & m))];
  }

 private:
  static constexpr int kBits = 5, kShift = 8 - kBits, kSide = 1 << kShift;
  static constexpr std::size_t kCells = std::size_t(1) << (3 * kBits);
  static constexpr std::size_t kBlock = std::size_t(1) << (3 * kShift);
  static constexpr std::uint32_t kUnbuilt = 0xFFFFFFFFu;
  struct Candidate {
    int r, g, b;
    std::uint8_t index;
  };
  static long AxisMin(int v, int lo, int hi) { return v < lo ? lo - v : v > hi ? v - hi : 0; }
  static long AxisMax(int v, int lo, int hi) {
    return std::max(std::abs(v - lo), std::abs(v - hi));
  }

  // Where the cell's answers start.
  std::uint32_t Build(std::size_t cell) {
    const int r0 = int(cell >> (2 * kBits)) * kSide, g0 = int((cell >> kBits) & 31) * kSide,
              b0 = int(cell & 31) * kSide, e = kSide - 1;
    std::array<long, 256> minD{};
    long bestMax = -1;
    for (std::size_t i = 0; i < pal_.size(); ++i) {
      const auto& q = pal_[i];
      const long mr = AxisMin(q.rgbRed, r0, r0 + e), mg = AxisMin(q.rgbGreen, g0, g0 + e),
                 mb = AxisMin(q.rgbBlue, b0, b0 + e);
      minD[i] = mr * mr + mg * mg + mb * mb;
      const long xr = AxisMax(q.rgbRed, r0, r0 + e), xg = AxisMax(q.rgbGreen, g0, g0 + e),
                 xb = AxisMax(q.rgbBlue, b0, b0 + e);
      const long maxD = xr * xr + xg * xg + xb * xb;
      if (bestMax < 0 || maxD < bestMax) bestMax = maxD;
    }
    std::vector<Candidate> cand;
    for (std::size_t i = 0; i < pal_.size(); ++i) {
      if (minD[i] > bestMax) continue;
      const auto& q = pal_[i];
      bool repeated = false;
      for (const auto& k : cand)
        repeated |= k.r == q.rgbRed && k.g == q.rgbGreen && k.b == q.rgbBlue;
      if (!repeated) cand.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, std::uint8_t(i)});
    }
    if (cand.size() <= 1) {  // an empty table gives 0
      return std::uint32_t((cand.empty() ? 0 : cand[0].index) * kBlock);
    }
    const auto start = std::uint32_t(answers_.size());
    for (int r = r0; r <= r0 + e; ++r)
      for (int g = g0; g <= g0 + e; ++g)
        for (int b = b0; b <= b0 + e; ++b) {
          int bestD = INT32_MAX;
          std::uint8_t best = 0;
          for (const auto& k : cand) {  // in index order: ties keep the lower
            const int d = (k.r - r) * (k.r - r) + (k.g - g) * (k.g - g) + (k.b - b) * (k.b - b);
            if (d < bestD) {
              bestD = d;
              best = k.index;
            }
          }
          answers_.push_back(best);
        }
    return start;
  }

  std::vector<RGBQUAD> pal_;
  std::vector<std::uint32_t> cells_;
  std::vector<std::uint8_t> answers_;
};

// The indexers of the last few tables: the capture of every exported frame
// uses the same fixed table, so its cells are built once per process.
std::shared_ptr<PaletteIndexer> IndexerFor(const std::vector<RGBQUAD>& pal) {
  auto& recent = sys::PerThread<std::vector<std::shared_ptr<PaletteIndexer>>>();
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

// The source column of destination column i: a plain offset for a copy, a
// table for a stretch. A template parameter, so that copies compile to loops
// the compiler can vectorise.
template <bool Stretch>
struct Columns {
  int sx0;
  const int* xmap;
  int operator()(int i) const {
    if constexpr (Stretch) {
      return xmap[i];
    } else {
      return sx0 + i;
    }
  }
};

struct Conversion {
  std::array<std::uint32_t, 256> lut{};  // 8-bit source -> destination value
  std::uint32_t mono0 = 0, mono1 = 0;    // mono source -> destination value
  std::uint32_t key32 = 0;               // colour -> mono: the source background
  std::uint8_t key8 = 0;
  std::shared_ptr<PaletteIndexer> indexer;  // true colour -> 8-bit
};

template <bool Stretch>
void BlitRows(Bitmap& dst, int dx0, int count, std::int64_t j0, std::int64_t j1, int y,
              const std::function<std::int64_t(std::int64_t)>& srcRow, const Bitmap& src,
              Columns<Stretch> col, const Conversion& cv, DWORD rop) {
  const Format df = dst.PixelFormat(), sf = src.PixelFormat();
  const std::int64_t sH = src.Height();
  const int n = count;
  for (std::int64_t j = j0; j < j1; ++j) {
    const std::int64_t sy = srcRow(j);
    if (sy < 0 || sy >= sH) continue;
    const int dy = int(y + j);
    if (df == Format::Rgb32) {
      std::uint32_t* d = dst.Row32(dy) + dx0;
      constexpr std::uint32_t m = 0x00FFFFFFu;
      if (sf == Format::Rgb32) {
        const std::uint32_t* s = src.Row32(int(sy));
        if (!Stretch && rop == SRCCOPY) {
          std::memmove(d, s + col(0), std::size_t(n) * 4);
        } else {
          ApplyRow<std::uint32_t>(
              d, n, [&](int i) { return s[col(i)]; }, rop, m);
        }
      } else if (sf == Format::Mono1) {
        const std::uint8_t* s = src.Row8(int(sy));
        const std::uint32_t v0 = cv.mono0, v1 = cv.mono1;
        ApplyRow<std::uint32_t>(
            d, n, [&](int i) { return s[col(i)] ? v1 : v0; }, rop, m);
      } else {
        const std::uint8_t* s = src.Row8(int(sy));
        const std::uint32_t* lut = cv.lut.data();
        ApplyRow<std::uint32_t>(
            d, n, [&](int i) { return lut[s[col(i)]]; }, rop, m);
      }
      continue;
    }
    std::uint8_t* d = dst.Row8(dy) + dx0;
    const std::uint8_t m = df == Format::Mono1 ? 1 : 0xFF;
    if (sf == Format::Rgb32) {
      const std::uint32_t* s = src.Row32(int(sy));
      if (df == Format::Mono1) {
        const std::uint32_t key = cv.key32;
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return std::uint8_t(s[col(i)] == key); }, rop, m);
      } else {
        PaletteIndexer& ix = *cv.indexer;
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return ix.Lookup(s[col(i)]); }, rop, m);
      }
    } else if (df == Format::Mono1 && sf == Format::Indexed8) {
      const std::uint8_t* s = src.Row8(int(sy));
      const std::uint8_t key = cv.key8;
      ApplyRow<std::uint8_t>(
          d, n, [&](int i) { return std::uint8_t(s[col(i)] == key); }, rop, m);
    } else if (df == Format::Mono1) {  // mono -> mono: the stored bits as they are
      const std::uint8_t* s = src.Row8(int(sy));
      if (!Stretch && rop == SRCCOPY) {
        std::memmove(d, s + col(0), std::size_t(n));
      } else {
        ApplyRow<std::uint8_t>(
            d, n, [&](int i) { return s[col(i)]; }, rop, m);
      }
    } else if (sf == Format::Mono1) {
      const std::uint8_t* s = src.Row8(int(sy));
      const auto v0 = std::uint8_t(cv.mono0), v1 = std::uint8_t(cv.mono1);
      ApplyRow<std::uint8_t>(
          d, n, [&](int i) { return s[col(i)] ? v1 : v0; }, rop, m);
    } else {
      const std::uint8_t* s = src.Row8(int(sy));
      const std::uint32_t* lut = cv.lut.data();
      ApplyRow<std::uint8_t>(
          d, n, [&](int i) { return std::uint8_t(lut[s[col(i)]]); }, rop, m);
    }
  }
}

// One blit with both rectangles already validated as positive. Converts the
// source to the destination's format, stretches by nearest neighbour, then
// applies the raster operation to the stored values.
void Blit(Bitmap& dst, const DC& dstDC, int x, int y, int w, int h, const Bitmap& src,
          const DC& srcDC, int sx, int sy, int sw, int sh, DWORD rop) {
  const bool stretch = (w != sw) || (h != sh);
  const std::int64_t dW = dst.Width(), dH = dst.Height(), sW = src.Width();

  // Columns: destination inside its bitmap and mapped source inside its own.
  std::int64_t i0 = std::max<std::int64_t>(0, -std::int64_t(x));
  std::int64_t i1 = std::min<std::int64_t>(w, dW - x);
  auto srcCol = [&](std::int64_t i) { return sx + (stretch ? i * sw / w : i); };
  while (i0 < i1 && (srcCol(i0) < 0 || srcCol(i0) >= sW)) ++i0;
  while (i1 > i0 && (srcCol(i1 - 1) < 0 || srcCol(i1 - 1) >= sW)) --i1;
  if (i0 >= i1) return;
  const int dx0 = int(x + i0), count = int(i1 - i0);

  const std::int64_t j0 = std::max<std::int64_t>(0, -std::int64_t(y));
  const std::int64_t j1 = std::min<std::int64_t>(h, dH - y);
  const std::function<std::int64_t(std::int64_t)> srcRow = [&](std::int64_t j) {
    return sy + (stretch ? j * sh / h : j);
  };

  const Format df = dst.PixelFormat(), sf = src.PixelFormat();
  Conversion cv;
  if (df == Format::Mono1) {
    if (sf == Format::Rgb32) cv.key32 = ToPixel32(srcDC.bkColor);
    if (sf == Format::Indexed8) cv.key8 = src.NearestIndex(srcDC.bkColor);
  } else if (sf == Format::Mono1) {
    cv.mono0 = StoredValueFor(dst, dstDC.textColor);
    cv.mono1 = StoredValueFor(dst, dstDC.bkColor);
  } else if (sf == Format::Indexed8 && df == Format::Indexed8 && src.Palette() == dst.Palette()) {
    // The same table: indices carry over unchanged.
    for (std::uint32_t k = 0; k < 256; ++k) cv.lut[k] = k;
  } else if (sf == Format::Indexed8) {
    const auto& pal = src.Palette();
    for (int k = 0; k < 256; ++k) {
      const COLORREF c = k < int(pal.size()) ? ColorOf(pal[std::size_t(k)]) : 0;
      cv.lut[std::size_t(k)] = StoredValueFor(dst, c);
    }
  } else if (df == Format::Indexed8) {
    cv.indexer = IndexerFor(dst.Palette());
  }

  // A drawing that sets every destination pixel without reading it makes any
  // pending zeroing moot.
  if ((rop == SRCCOPY || rop == NOTSRCCOPY) && &src != &dst && dx0 == 0 && count == dW &&
      y + j0 == 0 && y + j1 == dH && j0 < j1 && srcRow(j0) >= 0 && srcRow(j1 - 1) < src.Height()) {
    dst.DiscardPendingZero();
  }

  if (stretch) {
    std::vector<int> xmap(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) xmap[std::size_t(k)] = int(srcCol(i0 + k));
    BlitRows<true>(dst, dx0, count, j0, j1, y, srcRow, src, Columns<true>{0, xmap.data()}, cv, rop);
  } else {
    BlitRows<false>(dst, dx0, count, j0, j1, y, srcRow, src,
                    Columns<false>{int(srcCol(i0)), nullptr}, cv, rop);
  }
}

bool BlitChecked(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, int sw, int sh,
                 DWORD rop) {
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

// Pixel buffers of destroyed bitmaps, kept for the next bitmap of a similar
// size: the masked draw makes and drops four frame-sized bitmaps per frame,
// and fresh memory from the system costs a page fault per page.
namespace {
constexpr std::size_t kPoolMinWords = std::size_t(1) << 14;
constexpr std::size_t kPoolBuffers = 8;
constexpr std::size_t kPoolMaxWords = std::size_t(64) << 20;  // 256 MiB kept at most

struct BufferPool {
  std::mutex mutex;
  std::vector<PixelBuffer> buffers;
};
// Never destroyed, so that bitmaps in static storage may still return their
// buffers when the program ends.
BufferPool& Pool() {
  static BufferPool* pool = new BufferPool;
  return *pool;
}
}  // namespace

PixelBuffer TakeBuffer(std::size_t words) {
  PixelBuffer out;
  if (words >= kPoolMinWords) {
    BufferPool& pool = Pool();
    std::lock_guard lock(pool.mutex);
    auto& buffers = pool.buffers;
    std::size_t best = buffers.size();
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      const std::size_t cap = buffers[i].capacity();
      if (cap >= words && cap <= words * 2 &&
          (best == buffers.size() || cap < buffers[best].capacity()))
        best = i;
    }
    if (best < buffers.size()) {
      out = std::move(buffers[best]);
      buffers.erase(buffers.begin() + std::ptrdiff_t(best));
      out.resize(words);
      return out;
    }
  }
  out.resize(words);
  return out;
}

void ReturnBuffer(PixelBuffer&& buffer) {
  if (buffer.capacity() < kPoolMinWords || buffer.capacity() > kPoolMaxWords) return;
  BufferPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  auto& buffers = pool.buffers;
  buffers.push_back(std::move(buffer));
  std::size_t total = 0;
  for (const auto& b : buffers) total += b.capacity();
  while (buffers.size() > kPoolBuffers || total > kPoolMaxWords) {  // the oldest go
    total -= buffers.front().capacity();
    buffers.erase(buffers.begin());
  }
}

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
  // A size within the limit can still find no memory: that bitmap cannot be
  // made, like one over the limit.
  try {
    b.data_ = TakeBuffer(format == Format::Rgb32 ? n : (n + 3) / 4);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  b.zeroPending_ = true;
  if (format == Format::Indexed8) {
    if (palette.empty()) palette.assign(256, RGBQUAD{});
    b.palette_ = std::move(palette);
  }
  return b;
}

Bitmap::~Bitmap() { ReturnBuffer(std::move(data_)); }

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
  if (this != &other) {
    ReturnBuffer(std::move(data_));
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    format_ = other.format_;
    data_ = std::move(other.data_);
    zeroPending_ = std::exchange(other.zeroPending_, false);
    palette_ = std::move(other.palette_);
  }
  return *this;
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
  return Bitmap::Create(
      width, height, sel->PixelFormat(),
      sel->PixelFormat() == Format::Indexed8 ? sel->Palette() : std::vector<RGBQUAD>{});
}

std::optional<Bitmap> CreateMonoBitmap(int width, int height) {
  return Bitmap::Create(width, height, Format::Mono1);
}

COLORREF SetBkColor(DC& dc, COLORREF c) { return std::exchange(dc.bkColor, c); }
COLORREF SetTextColor(DC& dc, COLORREF c) { return std::exchange(dc.textColor, c); }
// Stretching is always nearest-neighbour without merging, the only mode this
// program asks for; the call succeeds and changes nothing.
int SetStretchBltMode(DC&, int) { return COLORONCOLOR; }

bool BitBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, DWORD rop) {
  return BlitChecked(dst, x, y, w, h, src, sx, sy, w, h, rop);
}

bool StretchBlt(DC& dst, int x, int y, int w, int h, const DC& src, int sx, int sy, int sw, int sh,
                DWORD rop) {
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

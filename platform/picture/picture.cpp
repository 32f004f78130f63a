#include "platform/picture/picture.h"

#include <gif_lib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/picture/gif_blocks.h"
#include "platform/picture/lzw.h"
#include "platform/system/system.h"

namespace platform {

namespace {

// Two byte ranges read one after the other: the header and global table, then
// the stream from the first image descriptor on.
struct GifSource {
  const std::uint8_t* a;
  std::size_t aLen;
  const std::uint8_t* b;
  std::size_t bLen;
  std::size_t pos = 0;
};

int ReadGifSource(GifFileType* gif, GifByteType* out, int want) {
  auto* src = static_cast<GifSource*>(gif->UserData);
  std::size_t n = 0, left = want > 0 ? std::size_t(want) : 0;
  if (src->pos < src->aLen) {
    const std::size_t k = std::min(left, src->aLen - src->pos);
    std::memcpy(out, src->a + src->pos, k);
    src->pos += k;
    n += k;
    left -= k;
  }
  const std::size_t inB = src->pos - src->aLen;
  if (left > 0 && src->pos >= src->aLen && inB < src->bLen) {
    const std::size_t k = std::min(left, src->bLen - inB);
    std::memcpy(out + n, src->b + inB, k);
    src->pos += k;
    n += k;
  }
  return int(n);
}

struct GifCloser {
  void operator()(GifFileType* g) const {
    int err = 0;
    DGifCloseFile(g, &err);
  }
};

// Offset of the first image separator, found as the engine's walk finds it.
std::optional<std::size_t> FindFirstImage(const std::uint8_t* d, std::size_t n, std::size_t p) {
  const auto end = gifblocks::WalkToImage(d, n, p, [](std::size_t, std::uint8_t) {});
  if (end.stop != gifblocks::Stop::Image) return std::nullopt;
  return end.at;
}

// Whether the first n bytes of a GIF hold its whole first image, up to the
// end of the image's data: decoding a shorter prefix would only fail after
// doing most of the work.
bool FirstImageComplete(const std::uint8_t* d, std::size_t n) {
  const auto header = gifblocks::HeaderLength(d, n);
  if (!header) return false;
  const auto image = FindFirstImage(d, n, *header);
  if (!image || *image + gifblocks::kImageDescriptorSize > n) return false;
  const std::uint8_t flags = d[*image + gifblocks::kImageFlagsAt];
  const std::size_t data = *image + gifblocks::CodeSizeOffset(flags) + 1;
  return gifblocks::SkipSubBlocks(d, n, data).has_value();
}

std::vector<gdi::RGBQUAD> TableOf(const ColorMapObject* map) {
  std::vector<gdi::RGBQUAD> pal(256);
  if (map == nullptr) {
    pal[1] = {255, 255, 255, 0};
    return pal;
  }
  const int count = std::clamp(map->ColorCount, 0, 256);
  for (int i = 0; i < count; ++i) {
    const GifColorType c = map->Colors[i];
    pal[std::size_t(i)] = {c.Blue, c.Green, c.Red, 0};
  }
  return pal;
}

// Packs 0x00RRGGBB words into B G R byte triples, sixteen pixels at a time;
// returns how many pixels it packed (a multiple of 16, 0 where the processor
// lacks the byte shuffle). Writes only the bytes of the pixels it packs.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) std::uint32_t PackBgrSsse3(const std::uint32_t* s, std::uint8_t* d,
                                                            std::uint32_t w) {
  const __m128i pick = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  std::uint32_t x = 0;
  for (; x + 16 <= w; x += 16, d += 48) {
    const auto* in = reinterpret_cast<const __m128i*>(s + x);
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), pick);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), pick);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), pick);
    const __m128i e = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), pick);
    auto* out = reinterpret_cast<__m128i*>(d);
    _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
  }
  return x;
}

std::uint32_t PackBgr(const std::uint32_t* s, std::uint8_t* d, std::uint32_t w) {
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  return ssse3 ? PackBgrSsse3(s, d, w) : 0;
}
#else
std::uint32_t PackBgr(const std::uint32_t*, std::uint8_t*, std::uint32_t) { return 0; }
#endif

std::atomic<bool> g_ownDecoder{true};
std::atomic<std::int64_t> g_ownDecodes{0};

// Decodes the image whose data starts at `at` (its first sub-block's size
// byte, after the code size byte) with the own decoder, into `bmp`; false,
// with `bmp` to be written again, when the stream is one the own decoder
// leaves to giflib.
bool DecodeOwn(const std::uint8_t* data, std::size_t size, std::size_t at, bool interlaced,
               gdi::Bitmap& bmp) {
  if (at == 0 || at > size) return false;
  const int codeSize = data[at - 1];
  // giflib reads a code size of 1 its own way (the format's smallest is 2):
  // those streams are its to decode.
  if (codeSize < 2) return false;
  thread_local std::vector<std::uint8_t> joined, rows;
  joined.clear();
  // giflib reads the sub-blocks to their terminator after the last pixel: a
  // chain that ends early is its to refuse.
  if (!lzw::JoinSubBlocks(data, size, at, joined)) return false;
  const int w = bmp.Width(), h = bmp.Height();
  const std::size_t pixels = std::size_t(w) * std::size_t(h);
  if (!interlaced) {  // rows are contiguous: the whole image in one call
    return lzw::Decode(codeSize, joined.data(), joined.size(), bmp.Row8(0), pixels);
  }
  rows.resize(pixels);
  if (!lzw::Decode(codeSize, joined.data(), joined.size(), rows.data(), pixels)) return false;
  static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const std::uint8_t* row = rows.data();
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = kStart[pass]; y < h; y += kStep[pass], row += w) {
      std::memcpy(bmp.Row8(y), row, std::size_t(w));
    }
  }
  return true;
}

std::uint32_t Le16(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
}
std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | (Le16(p + 2) << 16); }

}  // namespace

std::optional<Picture> LoadGif(const std::uint8_t* data, std::size_t size) {
  const auto header = gifblocks::HeaderLength(data, size);
  if (!header) return std::nullopt;
  const auto image = FindFirstImage(data, size, *header);
  if (!image) return std::nullopt;

  GifSource src{data, *header, data + *image, size - *image};
  int err = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, ReadGifSource, &err));
  // giflib's own allocations failing are no fault of the file.
  if (!gif && err == D_GIF_ERR_NOT_ENOUGH_MEM) throw std::bad_alloc();
  if (!gif) return std::nullopt;
  GifRecordType type{};
  if (DGifGetRecordType(gif.get(), &type) != GIF_OK || type != IMAGE_DESC_RECORD_TYPE) {
    return std::nullopt;
  }
  if (DGifGetImageDesc(gif.get()) != GIF_OK) {
    if (gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM) throw std::bad_alloc();
    return std::nullopt;
  }
  const int w = gif->Image.Width, h = gif->Image.Height;
  if (!gdi::SizeAllowed(w, h)) return std::nullopt;
  const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
  auto bmp = gdi::Bitmap::Create(w, h, gdi::Format::Indexed8, TableOf(map));
  if (!bmp) throw std::bad_alloc();  // a size the drawing layer allows: no memory
  if (w > 0 && h > 0) {
    // Every row is written below, or the picture is dropped.
    bmp->DiscardPendingZero();
    // giflib has read up to the code size byte and nothing of the data: if
    // the own decoder leaves the stream, giflib decodes it from there.
    const std::size_t at = *image + (src.pos - src.aLen);
    if (g_ownDecoder.load(std::memory_order_relaxed) && src.pos >= src.aLen &&
        DecodeOwn(data, size, at, gif->Image.Interlace, *bmp)) {
      g_ownDecodes.fetch_add(1, std::memory_order_relaxed);
      return Picture(std::move(*bmp));
    }
    if (gif->Image.Interlace) {
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < h; y += kStep[pass]) {
          if (DGifGetLine(gif.get(), bmp->Row8(y), w) != GIF_OK) return std::nullopt;
        }
      }
    } else if (DGifGetLine(gif.get(), bmp->Row8(0), w * h) != GIF_OK) {
      return std::nullopt;  // rows are contiguous: the whole image in one call
    }
  }
  return Picture(std::move(*bmp));
}

void UseOwnLzwDecoder(bool own) { g_ownDecoder = own; }
std::int64_t OwnLzwDecodes() { return g_ownDecodes.load(); }

std::optional<Picture> LoadBmp(const std::uint8_t* data, std::size_t size) {
  if (size < 26 || data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const std::uint32_t offBits = Le32(data + 10);
  const std::uint32_t hdrSize = Le32(data + 14);
  std::int64_t w = 0, h = 0;
  std::uint32_t bpp = 0, compression = 0, clrUsed = 0;
  std::size_t palEntry = 4;
  if (hdrSize == 12) {  // the old core header
    w = Le16(data + 18);
    h = std::int16_t(Le16(data + 20));
    bpp = Le16(data + 24);
    palEntry = 3;
  } else if (hdrSize >= 40 && 14 + std::size_t(hdrSize) <= size) {
    w = std::int32_t(Le32(data + 18));
    h = std::int32_t(Le32(data + 22));
    bpp = Le16(data + 28);
    compression = Le32(data + 30);
    clrUsed = Le32(data + 46);
  } else {
    return std::nullopt;
  }
  const bool topDown = h < 0;
  if (topDown) h = -h;
  // A picture with no pixels is refused with the oversized ones, before any
  // loop over its rows: a header can claim two thousand million empty rows.
  if (w <= 0 || h <= 0 || !gdi::SizeAllowed(w, h)) return std::nullopt;
  const bool bitfields32 = compression == 3 && bpp == 32 && hdrSize >= 52 &&
                           Le32(data + 54) == 0x00FF0000 && Le32(data + 58) == 0x0000FF00 &&
                           Le32(data + 62) == 0x000000FF;
  if (compression != 0 && !bitfields32) return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return std::nullopt;

  const std::uint64_t stride = (std::uint64_t(w) * bpp + 31) / 32 * 4;
  if (offBits > size || stride * std::uint64_t(h) > size - offBits) return std::nullopt;

  std::optional<gdi::Bitmap> bmp;
  if (bpp <= 8) {
    std::size_t colours = clrUsed == 0 ? (std::size_t(1) << bpp) : clrUsed;
    if (colours > 256) return std::nullopt;
    const std::size_t palStart = 14 + hdrSize;
    if (palStart + colours * palEntry > offBits) colours = 0;  // no room: black table
    std::vector<gdi::RGBQUAD> pal(256);
    for (std::size_t i = 0; i < colours; ++i) {
      const std::uint8_t* q = data + palStart + i * palEntry;
      pal[i] = {q[0], q[1], q[2], 0};
    }
    bmp = gdi::Bitmap::Create(int(w), int(h), gdi::Format::Indexed8, std::move(pal));
  } else {
    bmp = gdi::Bitmap::Create(int(w), int(h), gdi::Format::Rgb32);
  }
  if (!bmp) throw std::bad_alloc();  // the size was allowed above: no memory
  for (std::int64_t row = 0; row < h; ++row) {
    const std::uint8_t* s = data + offBits + std::size_t(row) * stride;
    const int y = int(topDown ? row : h - 1 - row);
    if (bpp <= 8) {
      std::uint8_t* d = bmp->Row8(y);
      const unsigned perByte = 8 / bpp, mask = (1u << bpp) - 1;
      for (std::int64_t x = 0; x < w; ++x) {
        const std::uint8_t byte = s[std::size_t(x) / perByte];
        const unsigned shift = 8 - bpp * (unsigned(x % perByte) + 1);
        d[x] = std::uint8_t((byte >> shift) & mask);
      }
    } else {
      std::uint32_t* d = bmp->Row32(y);
      const std::size_t step = bpp / 8;
      for (std::int64_t x = 0; x < w; ++x) {
        const std::uint8_t* p = s + std::size_t(x) * step;
        d[x] = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
      }
    }
  }
  return Picture(std::move(*bmp));
}

std::optional<Picture> LoadPictureFromMemory(const std::uint8_t* data, std::size_t size,
                                             LoadFailure* why) {
  // A picture there is no memory for is one that cannot be loaded, for a
  // reason of the system's, not of its bytes.
  try {
    std::optional<Picture> pic;
    if (size >= 3 && std::memcmp(data, "GIF", 3) == 0) pic = LoadGif(data, size);
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') pic = LoadBmp(data, size);
    if (!pic && why != nullptr) *why = {};
    return pic;
  } catch (const std::bad_alloc&) {
    if (why != nullptr) *why = {LoadFailure::Kind::OutOfMemory, ENOMEM};
  }
  return std::nullopt;
}

namespace {

std::optional<Picture> ReadAndLoad(const std::string& path, LoadFailure* why) {
  // A GIF's first image usually sits near the start of a file that may hold
  // hundreds of frames more: read a prefix, and more only while the image
  // runs past what has been read.
  int error = 0;
  const auto file = sys::InputFile::Open(path, &error);
  if (!file) {
    if (why != nullptr) *why = {LoadFailure::Kind::CannotRead, error};
    return std::nullopt;
  }
  const std::size_t size = std::size_t(file->Size());
  std::vector<std::uint8_t> bytes;
  std::size_t want = std::size_t(256) << 10;
  std::optional<Picture> pic;
  while (true) {
    const std::size_t target = std::min(size, want);
    const std::size_t had = bytes.size();
    bytes.resize(target);
    const std::int64_t n = file->ReadAt(had, bytes.data() + had, target - had);
    if (n < 0) {
      if (why != nullptr) *why = {LoadFailure::Kind::CannotRead, errno};
      return std::nullopt;
    }
    const std::size_t got = had + std::size_t(std::max<std::int64_t>(n, 0));
    bytes.resize(got);
    const bool whole = got < target || got == size;
    const bool complete = FirstImageComplete(bytes.data(), bytes.size());
    if (complete || whole) {
      pic = LoadPictureFromMemory(bytes.data(), bytes.size(), why);
      break;
    }
    want *= 4;
  }
  return pic;
}

}  // namespace

std::optional<Picture> LoadPicture(const std::string& path, LoadFailure* why) {
  try {
    return ReadAndLoad(path, why);
  } catch (const std::bad_alloc&) {  // the prefix read found no memory
    if (why != nullptr) *why = {LoadFailure::Kind::OutOfMemory, ENOMEM};
    return std::nullopt;
  }
}

void EncodeBmp24(const gdi::Bitmap& bmp, std::vector<std::uint8_t>& out) {
  const std::uint32_t w = std::uint32_t(bmp.Width()), h = std::uint32_t(bmp.Height());
  const std::uint64_t stride = (std::uint64_t(w) * 3 + 3) / 4 * 4;
  const std::uint64_t imageSize = stride * h;
  // A buffer of the same size from the previous frame is overwritten as it
  // is: every byte below is set, row padding included.
  out.resize(std::size_t(54 + imageSize));
  std::uint8_t* head = out.data();
  auto put16 = [&head](std::uint32_t v) {
    head[0] = std::uint8_t(v);
    head[1] = std::uint8_t(v >> 8);
    head += 2;
  };
  auto put32 = [&put16](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  *head++ = 'B';
  *head++ = 'M';
  put32(std::uint32_t(54 + imageSize));
  put32(0);
  put32(54);
  put32(40);
  put32(w);
  put32(h);  // positive: bottom-up
  put16(1);
  put16(24);
  put32(0);
  put32(std::uint32_t(imageSize));
  put32(2835);  // 72 dpi
  put32(2835);
  put32(0);
  put32(0);
  const std::size_t header = 54;
  for (std::int64_t y = std::int64_t(h) - 1, row = 0; y >= 0; --y, ++row) {
    std::uint8_t* d = out.data() + header + std::size_t(row) * std::size_t(stride);
    std::fill(d + std::size_t(w) * 3, d + stride, std::uint8_t(0));  // row padding
    if (bmp.PixelFormat() == gdi::Format::Rgb32) {
      const std::uint32_t* s = bmp.Row32(int(y));
      std::uint32_t x = PackBgr(s, d, w);
      d += std::size_t(x) * 3;
      // Four 0x00RRGGBB words make twelve bytes B G R B G R ...: three
      // little-endian stores.
      for (; x + 4 <= w; x += 4, d += 12) {
        const std::uint32_t p0 = s[x], p1 = s[x + 1], p2 = s[x + 2], p3 = s[x + 3];
        const std::uint32_t out[3] = {(p0 & 0xFFFFFFu) | (p1 << 24),
                                      ((p1 >> 8) & 0xFFFFu) | (p2 << 16),
                                      ((p2 >> 16) & 0xFFu) | (p3 << 8)};
        std::memcpy(d, out, sizeof out);
      }
      for (; x < w; ++x, d += 3) {
        d[0] = std::uint8_t(s[x]);
        d[1] = std::uint8_t(s[x] >> 8);
        d[2] = std::uint8_t(s[x] >> 16);
      }
    } else {
      for (std::uint32_t x = 0; x < w; ++x, d += 3) {
        const gdi::COLORREF c = bmp.ColorAt(int(x), int(y));
        d[0] = gdi::GetBValue(c);
        d[1] = gdi::GetGValue(c);
        d[2] = gdi::GetRValue(c);
      }
    }
  }
}

std::vector<std::uint8_t> EncodeBmp24(const gdi::Bitmap& bmp) {
  std::vector<std::uint8_t> out;
  EncodeBmp24(bmp, out);
  return out;
}

bool SavePicture(const Picture& pic, const std::string& path) {
  if (!pic) return false;
  return sys::WriteBinaryFile(path, EncodeBmp24(*pic.Handle()));
}

}  // namespace platform

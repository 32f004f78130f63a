#include "encoder/png_writer.h"

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

#include "platform/system/per_thread.h"

namespace png {

// A colour with its transparency: 0x00RRGGBB when opaque, with bit 24 set
// when transparent, so that a transparent and an opaque pixel of the same
// colour stay apart.
constexpr std::uint32_t kTransparentBit = 0x01000000u;

// The colours of a picture of at most 256 of them, each with its palette
// index in the order first seen; gives up at the 257th.
class ColourTable {
 public:
  ColourTable() { slots_.fill(kEmpty); }
  // The index of `key`, adding it when new; -1 once there are too many.
  // Most pixels find their colour in its first slot.
  int IndexOf(std::uint32_t key) {
    const std::size_t first = Hash(key);
    if (slots_[first] == key) [[likely]]
      return index_[first];
    return Probe(key, first);
  }
  int Count() const { return count_; }
  std::uint32_t Key(int i) const { return keys_[std::size_t(i)]; }

 private:
  int Probe(std::uint32_t key, std::size_t s) {
    while (true) {
      if (slots_[s] == kEmpty) {
        if (count_ == 256) return -1;
        slots_[s] = key;
        index_[s] = std::uint8_t(count_);
        keys_[std::size_t(count_)] = key;
        return count_++;
      }
      if (slots_[s] == key) return index_[s];
      s = (s + 1) & (kSlots - 1);
    }
  }
  static constexpr std::size_t kSlots = 4096;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static std::size_t Hash(std::uint32_t k) { return (k * 2654435761u) >> 20; }
  std::array<std::uint32_t, kSlots> slots_;
  std::array<std::uint8_t, kSlots> index_{};
  std::array<std::uint32_t, 256> keys_{};
  int count_ = 0;
};

namespace {

struct Chunks {
  int width = 0, height = 0, bitDepth = 8, colourType = 0;
  png_color palette[256]{};
  int colours = 0;
  png_byte trns[256]{};
  int trnsCount = 0;
  const std::uint8_t* idat = nullptr;
  std::size_t idatSize = 0;
};

void Append(png_structp p, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
  try {
    out->insert(out->end(), data, data + size);
  } catch (const std::bad_alloc&) {
    png_error(p, "out of memory");
  }
}
void NoFlush(png_structp) {}
void Quiet(png_structp, png_const_charp) {}

// libpng writes the signature and every chunk, its length and CRC; the
// image data arrives already deflated. Only plain data lives here, as
// libpng reports errors by longjmp.
bool WriteChunks(const Chunks& c, std::vector<std::uint8_t>& out) {
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
  if (p == nullptr) return false;
  png_infop info = png_create_info_struct(p);
  if (info == nullptr || setjmp(png_jmpbuf(p))) {
    png_destroy_write_struct(&p, &info);
    return false;
  }
  png_set_write_fn(p, &out, Append, NoFlush);
  png_set_IHDR(p, info, png_uint_32(c.width), png_uint_32(c.height), c.bitDepth, c.colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(p, info, c.palette, c.colours);
    if (c.trnsCount > 0) png_set_tRNS(p, info, c.trns, c.trnsCount, nullptr);
  }
  png_write_info(p, info);
  png_write_chunk(p, reinterpret_cast<png_const_bytep>("IDAT"), c.idat, c.idatSize);
  png_write_chunk(p, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  png_destroy_write_struct(&p, &info);
  return true;
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Deflates the filtered rows into a zlib stream at libdeflate's `level`.
// Level 1 for frames: on the frames this program writes it packs as tightly
// as zlib's levels 1 to 6 do, far faster (see the notes of
// bench/split-compare.sh).
bool Deflate(const std::vector<std::uint8_t>& rows, std::vector<std::uint8_t>& out, int level) {
  using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;
  auto& compressors = sys::PerThread<std::array<Compressor, 13>>();
  auto& compressor = compressors[std::size_t(std::clamp(level, 1, 12))];
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(std::clamp(level, 1, 12)));
  if (!compressor) return false;
  out.resize(libdeflate_zlib_compress_bound(compressor.get(), rows.size()));
  const std::size_t n =
      libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(), out.data(), out.size());
  if (n == 0) return false;
  out.resize(n);
  return true;
}

}  // namespace

namespace {

// Each pixel's index in `table`, after each row's filter byte; false at the
// 257th colour.
bool IndexRows(const Image& image, ColourTable& table, std::vector<std::uint8_t>& rows) {
  const std::size_t w = std::size_t(image.width), h = std::size_t(image.height);
  rows.resize((w + 1) * h);
  for (std::size_t y = 0; y < h; ++y) {
    const std::uint32_t* in = image.pixels + y * image.stride;
    const std::uint8_t* alpha = image.alpha != nullptr ? image.alpha + y * w : nullptr;
    std::uint8_t* row = rows.data() + y * (w + 1);
    *row++ = 0;  // filter: none
    for (std::size_t x = 0; x < w; ++x) {
      std::uint32_t k = in[x] & 0xFFFFFFu;
      if (alpha != nullptr && alpha[x] == 0) k |= kTransparentBit;
      const int index = table.IndexOf(k);
      if (index < 0) return false;
      row[x] = std::uint8_t(index);
    }
  }
  return true;
}

// Renumbers the indexed rows by `order` and packs them `bitDepth` bits a
// pixel, in place: every byte is written at or before the place it is read
// from.
void PackRows(std::vector<std::uint8_t>& rows, std::size_t w, std::size_t h,
              const std::array<std::uint8_t, 256>& order, int bitDepth) {
  const std::size_t perByte = std::size_t(8 / bitDepth);
  const std::size_t rowBytes = (w + perByte - 1) / perByte;
  for (std::size_t y = 0; y < h; ++y) {
    const std::uint8_t* in = rows.data() + y * (w + 1) + 1;
    std::uint8_t* o = rows.data() + y * (rowBytes + 1);
    *o++ = 0;
    if (bitDepth == 8) {
      for (std::size_t x = 0; x < w; ++x) o[x] = order[in[x]];
      continue;
    }
    unsigned byte = 0;
    for (std::size_t x = 0; x < w; ++x) {
      byte = (byte << bitDepth) | order[in[x]];
      if (x % perByte == perByte - 1) {
        o[x / perByte] = std::uint8_t(byte);
        byte = 0;
      }
    }
    if (w % perByte != 0) {
      o[w / perByte] = std::uint8_t(byte << (bitDepth * int(perByte - w % perByte)));
    }
  }
  rows.resize((rowBytes + 1) * h);
}

}  // namespace

bool Encoder::Prepare(const Image& image) {
  ready_ = false;
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return false;
  try {
    width_ = image.width;
    height_ = image.height;
    // The colours, and each pixel's index, unless there are more than 256.
    auto table = std::make_unique<ColourTable>();
    trnsCount_ = 0;
    if (IndexRows(image, *table, rows_)) {
      PreparePalette(*table);
    } else {
      PrepareTrueColour(image);
    }
    ready_ = true;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void Encoder::PreparePalette(const ColourTable& table) {
  // Transparent entries first, so that tRNS is as short as it can be.
  std::array<std::uint8_t, 256> order{};
  int next = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < table.Count(); ++i) {
      const bool clear = (table.Key(i) & kTransparentBit) != 0;
      if (clear != (pass == 0)) continue;
      order[std::size_t(i)] = std::uint8_t(next);
      const std::uint32_t rgb = table.Key(i) & 0xFFFFFFu;
      palette_[next][0] = std::uint8_t(rgb >> 16);
      palette_[next][1] = std::uint8_t(rgb >> 8);
      palette_[next][2] = std::uint8_t(rgb);
      if (clear) ++trnsCount_;
      ++next;
    }
  }
  colours_ = table.Count();
  colourType_ = PNG_COLOR_TYPE_PALETTE;
  bitDepth_ = colours_ <= 2 ? 1 : colours_ <= 4 ? 2 : colours_ <= 16 ? 4 : 8;
  PackRows(rows_, std::size_t(width_), std::size_t(height_), order, bitDepth_);
}

void Encoder::PrepareTrueColour(const Image& image) {
  const std::size_t w = std::size_t(width_), h = std::size_t(height_);
  bool transparent = false;
  for (std::size_t i = 0; i < w * h && !transparent && image.alpha != nullptr; ++i) {
    transparent = image.alpha[i] == 0;
  }
  const std::size_t channels = transparent ? 4 : 3;
  colourType_ = transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  bitDepth_ = 8;
  colours_ = 0;
  const std::size_t rowBytes = w * channels;
  rows_.resize((rowBytes + 1) * h);
  for (std::size_t y = 0; y < h; ++y) {
    std::uint8_t* o = rows_.data() + y * (rowBytes + 1);
    *o++ = 0;  // filter: none
    const std::uint32_t* in = image.pixels + y * image.stride;
    for (std::size_t x = 0; x < w; ++x) {
      *o++ = std::uint8_t(in[x] >> 16);
      *o++ = std::uint8_t(in[x] >> 8);
      *o++ = std::uint8_t(in[x]);
      if (transparent) *o++ = image.alpha[y * w + x] == 0 ? 0 : 255;
    }
  }
}

bool Encoder::Finish(std::vector<std::uint8_t>& out) {
  if (!ready_) return false;
  ready_ = false;
  try {
    if (!Deflate(rows_, deflated_, level_)) return false;
    Chunks c;
    c.width = width_;
    c.height = height_;
    c.bitDepth = bitDepth_;
    c.colourType = colourType_;
    c.colours = colours_;
    for (int i = 0; i < colours_; ++i)
      c.palette[i] = {palette_[i][0], palette_[i][1], palette_[i][2]};
    c.trnsCount = trnsCount_;  // every transparent entry is fully transparent: tRNS 0
    c.idat = deflated_.data();
    c.idatSize = deflated_.size();
    out.clear();
    if (!WriteChunks(c, out)) return false;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace png

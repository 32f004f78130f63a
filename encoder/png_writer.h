// Lossless PNG frames in the smallest exact form: an indexed image (1, 2, 4
// or 8 bits, with tRNS only when a pixel is transparent) when the frame has at
// most 256 colours, else RGB, or RGBA when a pixel is transparent. libpng
// writes the chunks; the image data is deflated with libdeflate, which packs
// as tightly as zlib at its fastest level in a third of the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace png {

// A picture to write: width x height pixels of 0x00RRGGBB, `stride` pixels
// from one row to the next; `alpha`, when given, holds one byte per pixel
// (row after row, `width` apart), 0 for transparent and anything else for
// opaque.
struct Image {
  const std::uint32_t* pixels = nullptr;
  std::size_t stride = 0;
  int width = 0;
  int height = 0;
  const std::uint8_t* alpha = nullptr;
};

// Encodes in two steps, so that the picture is free again before the slow
// part: Prepare reads the pixels into the encoder's own rows (the picture may
// change once it returns), Finish deflates them and writes the PNG file's
// bytes into `out`. Both return false when the picture has no pixels or there
// is no memory for it. One encoder keeps its storage from one frame to the
// next; it serves one thread at a time.
class ColourTable;

class Encoder {
 public:
  bool Prepare(const Image& image);
  bool Finish(std::vector<std::uint8_t>& out);
  // How hard Finish deflates: libdeflate's level, 1 (the frames') to 12.
  void Level(int level) { level_ = level; }

 private:
  // The rows as palette indices of `table`, or as RGB(A) samples.
  void PreparePalette(const ColourTable& table);
  void PrepareTrueColour(const Image& image);
  bool ready_ = false;
  int level_ = 1;
  int width_ = 0, height_ = 0, bitDepth_ = 8, colourType_ = 0, colours_ = 0, trnsCount_ = 0;
  std::uint8_t palette_[256][3] = {};
  std::vector<std::uint8_t> rows_, deflated_;
};

}  // namespace png

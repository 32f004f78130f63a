// Frames composed as web browsers show an animated GIF, beside the window's
// own composition rules (which differ on purpose):
//   - the canvas is the logical screen, grown to hold a first image that runs
//     past it; it starts transparent, and the background colour is never
//     painted;
//   - each image is drawn from its own or the global table; an index past the
//     table is opaque black, unless it is the transparent index (which marks
//     its pixels transparent wherever it lies);
//   - after an image is shown, disposal 2 clears its rectangle to transparent
//     and disposal 3 puts back what lay there before it; any other value
//     leaves it;
//   - an image of no pixels is a frame that draws nothing.
// Nothing here touches the drawing layer or the window system: the canvas is
// plain RGBA, so a frame array for other programs can sit on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace browser {

// One image as the stream describes it, with the graphic control extension
// that came before it (only that one: each image starts from no control).
struct Image {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  bool transparent = false;
  std::uint8_t transparentIndex = 0;
  std::uint8_t disposal = 0;
  std::int64_t start = 0;     // offset of its first block (a control or the separator)
  std::int64_t dataAt = 0;    // offset of its LZW minimum code size byte
  int codeSize = 0;           // that byte
  std::int64_t tableAt = -1;  // offset of its local table, -1: it has none
  int tableEntries = 0;       // entries of its local table
  std::int64_t dataEnd = 0;   // offset of the terminator of its sub-blocks
};

// Rows of an interlaced image in the order they are stored: row r of the
// stored order is image row InterlacedRow(r, height).
int InterlacedRow(int r, int height);

// The canvas size: the logical screen, grown to hold the first image.
void CanvasSize(int screenWidth, int screenHeight, const Image& first, int& width, int& height);

class Canvas {
 public:
  // RGBA bytes, 4 per pixel, rows top to bottom; all transparent.
  Canvas(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  const std::vector<std::uint8_t>& Rgba() const { return rgba_; }

  // Composes the next image: the previous image's disposal first, then
  // `indices` (width x height of `image`, rows top to bottom) through
  // `table` (3 bytes an entry, `entries` of them).
  void Draw(const Image& image, const std::uint8_t* indices, const std::uint8_t* table,
            int entries);

 private:
  void Dispose();
  int width_, height_;
  std::vector<std::uint8_t> rgba_;
  std::vector<std::uint8_t> saved_;  // what disposal 3 puts back
  bool drawn_ = false;
  Image last_;
};

}  // namespace browser

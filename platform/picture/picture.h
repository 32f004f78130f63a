// Picture objects: shared ownership of one bitmap, loaded from GIF or Windows
// bitmap files, saved as 24-bit Windows bitmaps.
//
// Loader policy (GIF):
//   - the first image only; what follows it is never read, so any bytes after
//     the image data (for example 21 F9 3B) are accepted;
//   - before that image, bytes that start no block are skipped one at a time,
//     and extensions are stepped over, the same way the engine's block walk does;
//   - the result is an 8-bit bitmap of the image's own size whose colour table is
//     the local table, else the global one, padded to 256 entries with black:
//     an index beyond the table shows black;
//   - an image with no colour table at all gets black (index 0), white (index 1)
//     and black for every other index;
//   - an image of zero width or height loads as an empty picture of that size;
//   - an image larger than the drawing layer allows is refused before any pixel
//     memory is allocated, as is truncated or corrupt image data.
// Loader policy (Windows bitmap): a bitmap of zero width or height is refused
// at once, with the oversized ones, before anything loops over its rows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"

namespace platform {

class Picture {
 public:
  Picture() = default;
  explicit Picture(gdi::Bitmap bmp) : bmp_(std::make_shared<gdi::Bitmap>(std::move(bmp))) {}
  explicit Picture(std::shared_ptr<gdi::Bitmap> bmp) : bmp_(std::move(bmp)) {}

  // The bitmap; nullptr for "no picture".
  gdi::Bitmap* Handle() const { return bmp_.get(); }
  explicit operator bool() const { return bmp_ != nullptr; }
  int Width() const { return bmp_ ? bmp_->Width() : 0; }
  int Height() const { return bmp_ ? bmp_->Height() : 0; }
  int BitsPerPixel() const { return bmp_ ? bmp_->BitsPerPixel() : 0; }

 private:
  std::shared_ptr<gdi::Bitmap> bmp_;
};

// Why a picture could not be loaded: what the bytes hold, or the system
// (no memory, a file that cannot be opened or read).
struct LoadFailure {
  enum class Kind { Undecodable, OutOfMemory, CannotRead };
  Kind kind = Kind::Undecodable;
  int error = 0;  // errno for CannotRead
};
// None when the picture cannot be loaded, and why in `*why` when given.
std::optional<Picture> LoadPicture(const std::string& path, LoadFailure* why = nullptr);
std::optional<Picture> LoadPictureFromMemory(const std::uint8_t* data, std::size_t size,
                                             LoadFailure* why = nullptr);
// These two throw std::bad_alloc when memory runs out. LoadGif decodes the
// image data with the own decoder (platform/picture/lzw.h) and leaves to
// giflib only the streams that decoder does not finish; the pictures are
// giflib's either way.
std::optional<Picture> LoadGif(const std::uint8_t* data, std::size_t size);
// Tests compare the two: false decodes every GIF picture with giflib alone.
void UseOwnLzwDecoder(bool own);
// How many pictures the own decoder has decoded whole so far.
std::int64_t OwnLzwDecodes();
std::optional<Picture> LoadBmp(const std::uint8_t* data, std::size_t size);

// Writes an uncompressed 24-bit bottom-up Windows bitmap, replacing an
// existing file of that name.
bool SavePicture(const Picture& pic, const std::string& path);
// The bytes SavePicture writes.
std::vector<std::uint8_t> EncodeBmp24(const gdi::Bitmap& bmp);
// The same into `out`, whose storage a caller encoding many pictures of one
// size keeps from one to the next.
void EncodeBmp24(const gdi::Bitmap& bmp, std::vector<std::uint8_t>& out);

}  // namespace platform

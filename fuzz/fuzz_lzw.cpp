// The own LZW decoder against giflib on arbitrary bytes: the picture loader
// gives the same picture (size, table, pixels) with it and with giflib alone,
// or refuses both; anything else aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gdi::SetPixelLimit(std::int64_t(2048) * 2048);
  platform::UseOwnLzwDecoder(true);
  const auto own = platform::LoadPictureFromMemory(data, size);
  platform::UseOwnLzwDecoder(false);
  const auto giflib = platform::LoadPictureFromMemory(data, size);
  if (bool(own) != bool(giflib)) std::abort();
  if (!own) return 0;
  const gdi::Bitmap& a = *own->Handle();
  const gdi::Bitmap& b = *giflib->Handle();
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Palette() != b.Palette())
    std::abort();
  for (int y = 0; y < a.Height(); ++y) {
    if (!std::equal(a.Row8(y), a.Row8(y) + a.Width(), b.Row8(y))) std::abort();
  }
  return 0;
}

// The break-out with and without salvage over the same bytes, with the
// decoding on threads of its own or on the calling thread: a file without
// damage gives the same frames both ways, damage is never told without
// salvage, and what salvage keeps is the frames a plain break-out reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/salvage_pair.h"

namespace {

bool SamePicture(const platform::Picture& a, const platform::Picture& b) {
  const gdi::Bitmap *x = a.Handle(), *y = b.Handle();
  if (x == nullptr || y == nullptr) return x == y;
  if (x->Width() != y->Width() || x->Height() != y->Height()) return false;
  if (x->Palette().size() != y->Palette().size()) return false;
  for (std::size_t i = 0; i < x->Palette().size(); ++i) {
    const auto &p = x->Palette()[i], &q = y->Palette()[i];
    if (p.rgbRed != q.rgbRed || p.rgbGreen != q.rgbGreen || p.rgbBlue != q.rgbBlue) return false;
  }
  for (int row = 0; row < x->Height(); ++row) {
    if (std::memcmp(x->Row8(row), y->Row8(row), std::size_t(x->Width())) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SalvagePair runs(data, size, "salvage", clsGif24bit::Composition::Window);
  const clsGif24bit &plain = runs.plain, &salvaged = runs.salvaged;
  if (plain.BrokenOut()) {
    // Nothing a plain break-out reads whole is lost or changed by salvage.
    if (!salvaged.BrokenOut()) std::abort();
    if (salvaged.Frames.size() != plain.Frames.size()) std::abort();
    for (std::size_t k = 0; k < plain.Frames.size(); ++k) {
      if (!SamePicture(plain.Frames[k].FramePicture, salvaged.Frames[k].FramePicture)) {
        std::abort();
      }
      if (plain.Frames[k].FrameKeyColor != salvaged.Frames[k].FrameKeyColor) std::abort();
    }
  } else if (salvaged.BrokenOut() && !salvaged.Damage()) {
    std::abort();  // a refused file that salvage takes whole must say what was damaged
  }
  return 0;
}

// The break-out with and without salvage over the same bytes, with the
// decoding on threads of its own or on the calling thread: a file without
// damage gives the same frames both ways, damage is never told without
// salvage, and what salvage keeps is the frames a plain break-out reads.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"

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
  gdi::SetPixelLimit(std::int64_t(2048) * 2048);
  static const std::string path =
      sys::TempFolder() + "velkor-fuzz-salvage-" + std::to_string(::getpid()) + ".gif";
  if (!sys::WriteBinaryFile(path, data, size)) std::abort();
  // The first byte picks the threads (it is the "G" of any real GIF, so
  // the fuzzer's mutations of it cover both).
  const bool ownThreads = size > 0 && (data[0] & 1) != 0;
  platform::PictureBox plainBox(MasterBoxOptions()), salvageBox(MasterBoxOptions());
  auto plain = std::make_unique<clsGif24bit>(plainBox);
  auto salvaged = std::make_unique<clsGif24bit>(salvageBox);
  for (clsGif24bit* engine : {plain.get(), salvaged.get()}) {
    engine->Options.DecoderPath = path;
    engine->OwnThreads = ownThreads;
    engine->DecodeThreads = 2;
  }
  salvaged->Salvage = true;
  plain->fGifBreakOutFrames();
  salvaged->fGifBreakOutFrames();
  sys::DeleteFile(path);

  if (plain->Damage()) std::abort();  // damage is told only to a salvage
  if (salvaged->Damage() && (!salvaged->BrokenOut() || salvaged->Frames.empty())) std::abort();
  if (plain->BrokenOut()) {
    // Nothing a plain break-out reads whole is lost or changed by salvage.
    if (!salvaged->BrokenOut()) std::abort();
    if (salvaged->Frames.size() != plain->Frames.size()) std::abort();
    for (std::size_t k = 0; k < plain->Frames.size(); ++k) {
      if (!SamePicture(plain->Frames[k].FramePicture, salvaged->Frames[k].FramePicture)) {
        std::abort();
      }
      if (plain->Frames[k].FrameKeyColor != salvaged->Frames[k].FrameKeyColor) std::abort();
    }
  } else if (salvaged->BrokenOut() && !salvaged->Damage()) {
    std::abort();  // a refused file that salvage takes whole must say what was damaged
  }
  return 0;
}

// The whole frame break-out on arbitrary bytes: the block walk, the repair,
// the single-frame files, their loading, and the canvas.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gdi::SetPixelLimit(std::int64_t(2048) * 2048);
  static const std::string path =
      sys::TempFolder() + "velkor-fuzz-breakout-" + std::to_string(::getpid()) + ".gif";
  if (!sys::WriteBinaryFile(path, data, size)) std::abort();
  platform::PictureBox master(MasterBoxOptions());
  clsGif24bit engine(master);
  engine.Options.DecoderPath = path;
  engine.fGifBreakOutFrames();
  // A file that breaks out has a picture for every frame.
  if (engine.BrokenOut()) {
    for (const auto& frame : engine.Frames) {
      if (!frame.FramePicture) std::abort();
    }
  }
  sys::DeleteFile(path);
  return 0;
}

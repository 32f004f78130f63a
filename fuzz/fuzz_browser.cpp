// The browser composition over any bytes: its break-out with and without
// salvage and its play. Nothing crashes or reads outside a buffer, damage is
// told only to a salvage, a file read whole is read the same by a salvage,
// and every frame kept is composed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gdi::SetPixelLimit(std::int64_t(2048) * 2048);
  sys::SetSleepHook([](std::int64_t) {});  // the play waits no delays here
  static const std::string path =
      sys::TempFolder() + "velkor-fuzz-browser-" + std::to_string(::getpid()) + ".gif";
  if (!sys::WriteBinaryFile(path, data, size)) std::abort();
  // The first byte picks the threads (the "G" of any real GIF, so the
  // fuzzer's mutations of it cover both).
  const bool ownThreads = size > 0 && (data[0] & 1) != 0;
  platform::PictureBox plainBox(MasterBoxOptions()), salvageBox(MasterBoxOptions());
  auto plain = std::make_unique<clsGif24bit>(plainBox);
  auto salvaged = std::make_unique<clsGif24bit>(salvageBox);
  for (clsGif24bit* engine : {plain.get(), salvaged.get()}) {
    engine->Options.DecoderPath = path;
    engine->Compose = clsGif24bit::Composition::Browser;
    engine->OwnThreads = ownThreads;
    engine->DecodeThreads = 2;
  }
  salvaged->Salvage = true;
  plain->fGifBreakOutFrames();
  salvaged->fGifBreakOutFrames();

  if (plain->Damage()) std::abort();
  if (salvaged->Damage() && (!salvaged->BrokenOut() || salvaged->Frames.empty())) std::abort();
  if (plain->BrokenOut()) {
    if (!salvaged->BrokenOut() || salvaged->Damage()) std::abort();
    if (salvaged->Frames.size() != plain->Frames.size()) std::abort();
    if (salvaged->BrowserCanvasWidth() != plain->BrowserCanvasWidth()) std::abort();
  }
  // The canvas holds every frame the break-out kept (no frame files: the
  // engine has no export box here).
  for (clsGif24bit* engine : {plain.get(), salvaged.get()}) {
    if (!engine->BrokenOut()) continue;
    if (engine->BrowserCanvasWidth() < 1 || engine->BrowserCanvasHeight() < 1) std::abort();
    const RunResult result = engine->RenderGif();
    if (!result.BrokenOut() || !result.Complete()) std::abort();
  }
  sys::DeleteFile(path);
  return 0;
}

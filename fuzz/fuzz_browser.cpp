// The browser composition over any bytes: its break-out with and without
// salvage and its play. Nothing crashes or reads outside a buffer, damage is
// told only to a salvage, a file read whole is read the same by a salvage,
// and every frame kept is composed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/salvage_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sys::SetSleepHook([](std::int64_t) {});  // the play waits no delays here
  SalvagePair runs(data, size, "browser", clsGif24bit::Composition::Browser);
  clsGif24bit &plain = runs.plain, &salvaged = runs.salvaged;
  if (plain.BrokenOut()) {
    if (!salvaged.BrokenOut() || salvaged.Damage()) std::abort();
    if (salvaged.Frames.size() != plain.Frames.size()) std::abort();
    if (salvaged.BrowserCanvasWidth() != plain.BrowserCanvasWidth()) std::abort();
  }
  // The canvas holds every frame the break-out kept (no frame files: the
  // engine has no export box here).
  for (clsGif24bit* engine : {&plain, &salvaged}) {
    if (!engine->BrokenOut()) continue;
    if (engine->BrowserCanvasWidth() < 1 || engine->BrowserCanvasHeight() < 1) std::abort();
    const RunResult result = engine->RenderGif();
    if (!result.BrokenOut() || !result.Complete()) std::abort();
  }
  return 0;
}

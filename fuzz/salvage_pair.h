// The fuzzer's bytes broken out twice, as a plain break-out and as a salvage:
// the two runs the salvage targets hold to agree.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"

struct SalvagePair {
  // Writes the bytes to a file of this process's own (named after `target`)
  // and breaks it out both ways in `compose`. The first byte picks the
  // threads: it is the "G" of any real GIF, so the fuzzer's mutations of it
  // cover both.
  SalvagePair(const std::uint8_t* data, std::size_t size, const char* target,
              clsGif24bit::Composition compose)
      : path(sys::TempFolder() + "velkor-fuzz-" + target + "-" + std::to_string(::getpid()) +
             ".gif") {
    gdi::SetPixelLimit(std::int64_t(2048) * 2048);
    if (!sys::WriteBinaryFile(path, data, size)) std::abort();
    const bool ownThreads = size > 0 && (data[0] & 1) != 0;
    for (clsGif24bit* engine : {&plain, &salvaged}) {
      engine->Options.DecoderPath = path;
      engine->Options.Compose = compose;
      engine->Options.OwnThreads = ownThreads;
      engine->Options.DecodeThreads = 2;
    }
    salvaged.Options.Salvage = true;
    plain.fGifBreakOutFrames();
    salvaged.fGifBreakOutFrames();
    // Damage is told only to a salvage, and only with frames kept.
    if (plain.Damage()) std::abort();
    if (salvaged.Damage() && (!salvaged.BrokenOut() || salvaged.Frames.empty())) std::abort();
  }
  ~SalvagePair() { sys::DeleteFile(path); }
  SalvagePair(const SalvagePair&) = delete;
  SalvagePair& operator=(const SalvagePair&) = delete;

  std::string path;
  platform::PictureBox plainBox{MasterBoxOptions()}, salvageBox{MasterBoxOptions()};
  clsGif24bit plain{plainBox}, salvaged{salvageBox};
};

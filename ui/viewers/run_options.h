// What a run of the preview window is asked to do, from the program's record:
// the one place the record's fields become the engine's options.
#pragma once

#include "engine/gif24bit.h"
#include "settings/settings.h"

inline RunOptions RunOptionsOf(const SharedState& state) {
  RunOptions options;
  options.DecoderPath = state.DecoderPath;
  options.Split = state.RunMode == 1;
  options.GifFiles = state.OutputFileType == 1;
  options.Transparent = state.TransparentRun != 0;
  options.OutputBaseName = state.OutputBaseName;
  return options;
}

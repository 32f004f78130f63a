// A run around the engine as the preview window makes it, shared with the
// command line: the boxes are prepared when the window loads, the break-out
// and the play happen on its first timer tick.
#pragma once

#include <memory>
#include <string>

#include "engine/gif24bit.h"

// Box settings of the preview window: `Display` is hidden, sizes itself and
// keeps a persistent image on a light-blue back colour; `Master` sizes itself,
// shows each drawing at once, on black.
platform::PictureBoxOptions DisplayBoxOptions();
platform::PictureBoxOptions MasterBoxOptions();

// The boxes one run draws into: the engine draws the animation in `Master`
// and copies each exported frame into `Display`.
struct RunBoxes {
  platform::PictureBox Display{DisplayBoxOptions()};
  platform::PictureBox Master{MasterBoxOptions()};
};

// Loads `path` into `display` and gives `master` the same picture. Returns
// false when the picture could not be loaded; the boxes then keep what they
// had, as the window's load step does.
bool PrepareRunBoxes(const std::string& path, platform::PictureBox& display,
                     platform::PictureBox& master);

// The run in its two halves: the break-out (false when the file could not be
// broken into frames: the engine's LastFailure says why), then the play with
// UserDelay 0 and StopRender false.
bool BreakOutRun(clsGif24bit& engine);
RunResult PlayRun(clsGif24bit& engine, ExportSink* sink);
// Both, the play only when the break-out succeeded.
RunResult PerformRun(clsGif24bit& engine, ExportSink* sink);

// A run without a window (the command line's): the boxes are made here and
// never shown.
class HeadlessRun {
 public:
  explicit HeadlessRun(const RunOptions& options);
  clsGif24bit& Engine() { return engine_; }
  // The export box holds each frame as written: its size is the frames'.
  const RunBoxes& Boxes() const { return boxes_; }

 private:
  RunBoxes boxes_;
  clsGif24bit engine_;
};

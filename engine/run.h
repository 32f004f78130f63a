// What the preview window does around the engine, shared with the command line:
// the boxes are prepared when the window loads, the run happens on its first
// timer tick.
#pragma once

#include "engine/gif24bit.h"

// Loads SourcePath (as DecoderPath) into `display` and gives `master` the same
// picture. Returns false when the picture could not be loaded; the boxes then
// keep what they had, as the window's load step does.
bool PrepareRunBoxes(SharedState& state, platform::PictureBox& display,
                     platform::PictureBox& master);

// CleanUp, a cleared NotAnimatedFlag, the break-out, then (only when the file
// was broken into frames) UserDelay 0, StopRender false and RenderGif. Returns
// false when the file could not be broken into frames.
bool PerformRun(clsGif24bit& engine, SharedState& state);
// The run in its two halves: the break-out (false when the file could not be
// broken into frames), then the play.
bool BreakOutRun(clsGif24bit& engine, SharedState& state);
void PlayRun(clsGif24bit& engine);

// Box settings of the preview window: `Display` is hidden, sizes itself and
// keeps a persistent image on a light-blue back colour; `Master` sizes itself,
// shows each drawing at once, on black.
platform::PictureBoxOptions DisplayBoxOptions();
platform::PictureBoxOptions MasterBoxOptions();

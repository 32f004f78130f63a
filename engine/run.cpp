#include "engine/run.h"

bool PrepareRunBoxes(SharedState& state, platform::PictureBox& display,
                     platform::PictureBox& master) {
  state.DecoderPath = state.SourcePath;
  auto pic = platform::LoadPicture(state.DecoderPath);  // none, also when out of memory
  if (!pic) return false;
  display.Picture(*pic);
  master.Picture(display.Picture());
  return true;
}

bool BreakOutRun(clsGif24bit& engine, SharedState& state) {
  engine.CleanUp();
  state.NotAnimatedFlag = 0;
  engine.fGifBreakOutFrames();
  return state.NotAnimatedFlag == 0;
}

void PlayRun(clsGif24bit& engine) {
  engine.UserDelay(0);
  engine.StopRender(0);
  engine.RenderGif();
}

bool PerformRun(clsGif24bit& engine, SharedState& state) {
  if (!BreakOutRun(engine, state)) return false;
  PlayRun(engine);
  return true;
}

platform::PictureBoxOptions DisplayBoxOptions() {
  return {32, 32, /*autoSize=*/true, /*persistent=*/true, gdi::RGB(128, 128, 255)};
}

platform::PictureBoxOptions MasterBoxOptions() {
  return {32, 32, /*autoSize=*/true, /*persistent=*/false, gdi::RGB(0, 0, 0)};
}

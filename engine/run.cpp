#include "engine/run.h"

bool PrepareRunBoxes(const std::string& path, platform::PictureBox& display,
                     platform::PictureBox& master) {
  auto pic = platform::LoadPicture(path);  // none, also when out of memory
  if (!pic) return false;
  display.Picture(*pic);
  master.Picture(display.Picture());
  return true;
}

bool BreakOutRun(clsGif24bit& engine) {
  engine.CleanUp();
  engine.fGifBreakOutFrames();
  return engine.BrokenOut();
}

RunResult PlayRun(clsGif24bit& engine, ExportSink* sink) {
  engine.UserDelay(0);
  engine.StopRender(0);
  return engine.RenderGif(sink);
}

RunResult PerformRun(clsGif24bit& engine, ExportSink* sink) {
  if (!BreakOutRun(engine)) {
    RunResult result;
    result.breakOut = engine.LastFailure();
    return result;
  }
  return PlayRun(engine, sink);
}

platform::PictureBoxOptions DisplayBoxOptions() {
  return {32, 32, /*autoSize=*/true, /*persistent=*/true, gdi::RGB(128, 128, 255)};
}

platform::PictureBoxOptions MasterBoxOptions() {
  return {32, 32, /*autoSize=*/true, /*persistent=*/false, gdi::RGB(0, 0, 0)};
}

HeadlessRun::HeadlessRun(const RunOptions& options) : engine_(boxes_.Master, &boxes_.Display) {
  PrepareRunBoxes(options.DecoderPath, boxes_.Display, boxes_.Master);
  engine_.Options = options;
  engine_.ImageCtl(boxes_.Master);
}

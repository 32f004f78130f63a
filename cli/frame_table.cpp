#include "cli/frame_table.h"

namespace {

// The file's unsigned 16-bit value, which the engine keeps in signed storage.
std::uint16_t U16(std::int16_t v) { return static_cast<std::uint16_t>(v); }

int TableEntries(bool present, std::uint8_t size) { return present ? 2 << size : 0; }

}  // namespace

nlohmann::ordered_json FrameTable(const clsGif24bit& engine, const std::string& file,
                                  std::int64_t fileSize, bool split) {
  using json = nlohmann::ordered_json;
  json table;
  table["file"] = file;
  table["size"] = fileSize;
  table["splits"] = split;
  const bool header = engine.LastFailure().reason != BreakOutReason::CannotRead &&
                      engine.LastFailure().reason != BreakOutReason::Empty &&
                      engine.LastFailure().reason != BreakOutReason::BadSignature &&
                      engine.LastFailure().reason != BreakOutReason::TruncatedHeader;
  if (header) {
    table["screen"] = {
        {"width", U16(engine.ScreenWidth)},
        {"height", U16(engine.ScreenHeight)},
        {"background_index", engine.BackgroundIndex},
        {"pixel_aspect", engine.PixelAspect},
        {"global_table", TableEntries(engine.GlobalTableFlag != 0, engine.GlobalTableSize)}};
  } else {
    table["screen"] = nullptr;
  }
  if (engine.Options.Compose == clsGif24bit::Composition::Browser) {
    // The canvas browser frames are composed on, once the file is known to split.
    table["canvas"] = engine.BrokenOut() ? json{{"width", engine.BrowserCanvasWidth()},
                                                {"height", engine.BrowserCanvasHeight()}}
                                         : json(nullptr);
  }
  table["loop_count"] = engine.LoopCount >= 0 ? json(engine.LoopCount) : json(nullptr);
  table["comments"] = engine.Comments;

  json frames = json::array();
  for (std::size_t k = 0; k < engine.Frames.size(); ++k) {
    const bool transparent = engine.Frames[k].TransparentFlag != 0;
    frames.push_back({
        {"number", k + 1},
        {"offset", engine.Frames[k].FrameStart - 1},
        {"left", U16(engine.Frames[k].FrameLeft)},
        {"top", U16(engine.Frames[k].FrameTop)},
        {"width", U16(engine.Frames[k].FrameWidth)},
        {"height", U16(engine.Frames[k].FrameHeight)},
        {"delay", U16(engine.Frames[k].DelayTime)},
        {"wait_ms", engine.FrameWait(k)},
        {"disposal", engine.Frames[k].DisposalMethod},
        {"transparent_index",
         transparent ? json(engine.Frames[k].TransparentIndex) : json(nullptr)},
        {"local_table",
         TableEntries(engine.Frames[k].LocalTableFlag != 0, engine.Frames[k].LocalTableSize)},
        {"interlaced", engine.Frames[k].InterlaceFlag != 0},
        {"user_input", engine.Frames[k].UserInputFlag != 0},
    });
  }
  table["frames"] = std::move(frames);

  const BreakOutFailure& f = engine.LastFailure();
  if (f.reason == BreakOutReason::None) {
    table["error"] = nullptr;
  } else {
    table["error"] = {{"reason", ReasonId(f.reason)},
                      {"message", DescribeFailure(f)},
                      {"byte", f.byte >= 0 ? json(f.byte) : json(nullptr)},
                      {"frame", f.frame > 0 ? json(f.frame) : json(nullptr)}};
  }
  return table;
}

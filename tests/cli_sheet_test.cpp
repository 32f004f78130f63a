// velkor-split --sheet: one PNG and its atlas holding the frames --png
// writes, written whole or not at all, with the options checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/cli_run.h"
#include "tests/support/png_read.h"
#include "tests/support/testutil.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

// Screen 4 x 2, global table {red, green, blue, white}: a red 2 x 2 square
// kept (delay 7), a green pixel cleared after it is shown, a blue pixel.
Bytes Sample() {
  return Cat({Header(4, 2, 0x81),
              Table({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}),
              Gce(0x04, 7, 0),
              Image(0, 0, 2, 2, 0x00, 0),
              Gce(0x08, 0, 0),
              Image(3, 1, 1, 1, 0x00, 1),
              Image(2, 0, 1, 1, 0x00, 2),
              {0x3B}});
}

nlohmann::json ReadJson(const std::string& path) {
  const Bytes bytes = ReadFile(path);
  return nlohmann::json::parse(bytes.begin(), bytes.end());
}

// Every frame of the atlas, cut from its sheet and put back on its canvas,
// against the frame file of the same name in `frames`.
void ExpectFramesOf(const std::string& atlasPath, const std::string& frames) {
  const nlohmann::json atlas = ReadJson(atlasPath);
  const Png sheet = ReadPng(fs::path(atlasPath).parent_path() / atlas["meta"]["image"]);
  for (const auto& [label, entry] : atlas["frames"].items()) {
    const Png frame = ReadPng(frames + "/" + label + ".png");
    ASSERT_EQ(entry["sourceSize"], (nlohmann::json{{"w", frame.width}, {"h", frame.height}}));
    const auto& r = entry["frame"];
    const auto& at = entry["spriteSourceSize"];
    for (int y = 0; y < frame.height; ++y) {
      for (int x = 0; x < frame.width; ++x) {
        const int sx = x - int(at["x"]), sy = y - int(at["y"]);
        const bool inside = sx >= 0 && sy >= 0 && sx < int(r["w"]) && sy < int(r["h"]);
        const auto want = frame.At(x, y);
        if (!inside) {
          EXPECT_EQ(want[3], 0) << label << " " << x << "," << y << ": cut off but shown";
          continue;
        }
        const auto got = sheet.At(int(r["x"]) + sx, int(r["y"]) + sy);
        EXPECT_EQ(got[3] != 0, want[3] != 0) << label << " " << x << "," << y;
        if (want[3] != 0) {
          EXPECT_EQ(got, want) << label << " " << x << "," << y;
        }
      }
    }
  }
}

}  // namespace

TEST(CliSheet, ASheetHoldsTheFramesPngWritesWithTheirPlacesAndDelays) {
  TempDir dir;
  WriteFile(dir.File("s.gif"), Sample());
  const std::string s = Quote(dir.File("s.gif"));
  for (const std::string compose : {"browser", "window"}) {
    const std::string sheets = dir.File("sheet-" + compose), frames = dir.File("png-" + compose);
    ASSERT_EQ(Split("--png --compose " + compose + " -q -o " + Quote(frames) + " " + s).status, 0);
    // The browser's frames unless the window's are asked for.
    const std::string asked = compose == "browser" ? "" : "--compose window ";
    for (const std::string trim : {"", "--sheet-trim --sheet-extrude 1 --sheet-padding 1 "}) {
      const Result r = Split("--sheet " + asked + trim + "-o " + Quote(sheets) + " " + s);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Lines(r.out), (std::vector<std::string>{sheets + "/s.png", sheets + "/s.json"}));
      EXPECT_EQ(ListDir(sheets), (std::vector<std::string>{"s.json", "s.png"}));
      ExpectFramesOf(sheets + "/s.json", frames);
      const nlohmann::json atlas = ReadJson(sheets + "/s.json");
      EXPECT_EQ(atlas["animations"]["s"], (nlohmann::json{"s_001", "s_002", "s_003"}));
      EXPECT_EQ(atlas["frames"]["s_001"]["duration"], 70);
      EXPECT_EQ(atlas["frames"]["s_002"]["duration"], 0);
      EXPECT_EQ(atlas["meta"]["loop_count"], nullptr);
      // The window's frames cover the canvas: nothing to cut.
      EXPECT_EQ(atlas["frames"]["s_001"]["trimmed"], !trim.empty() && compose == "browser");
    }
  }
  // --frames chooses what goes in; their names and numbers stay.
  const Result r = Split("--sheet --frames 2-3 --json -o " + Quote(dir.File("some")) + " " + s);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  const auto record = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(record["type"], "sheet");
  EXPECT_EQ(record["image"], dir.File("some/s.png"));
  EXPECT_EQ(record["atlas"], dir.File("some/s.json"));
  EXPECT_EQ(record["frames"], 2);
  EXPECT_EQ(nlohmann::json::parse(lines[1])["written"], 2);
  EXPECT_EQ(ReadJson(dir.File("some/s.json"))["animations"]["s"],
            (nlohmann::json{"s_002", "s_003"}));
}

TEST(CliSheet, ASheetIsWrittenWholeOrNotAtAll) {
  TempDir dir;
  WriteFile(dir.File("s.gif"), Sample());
  const std::string s = Quote(dir.File("s.gif"));
  // An atlas that cannot be written takes its page with it.
  fs::create_directories(dir.File("a/s.json"));
  Result r = Split("--sheet -o " + Quote(dir.File("a")) + " " + s);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a/s.json: cannot write: "), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ListDir(dir.File("a")), (std::vector<std::string>{"s.json"}));
  // -n keeps a sheet any of whose files is there, whole.
  fs::create_directories(dir.File("n"));
  WriteFile(dir.File("n/s.json"), {'x'});
  r = Split("--sheet -n -o " + Quote(dir.File("n")) + " " + s);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("n/s.json: not written: exists"), std::string::npos) << r.err;
  EXPECT_EQ(ListDir(dir.File("n")), (std::vector<std::string>{"s.json"}));
  EXPECT_EQ(ReadFile(dir.File("n/s.json")), Bytes{'x'});
  // A layout the limit cannot hold is said before anything is written.
  r = Split("--sheet --sheet-max 3 -o " + Quote(dir.File("m")) + " " + s);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("4x2 pixels does not fit in a sheet of at most 3"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir.File("m")));
  // Damage: nothing without --salvage, the frames before it with.
  Bytes cut = Sample();
  cut.resize(cut.size() - 6);
  WriteFile(dir.File("cut.gif"), cut);
  r = Split("--sheet -o " + Quote(dir.File("d")) + " " + Quote(dir.File("cut.gif")));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(dir.File("d")));
  r = Split("--sheet --salvage -o " + Quote(dir.File("d")) + " " + Quote(dir.File("cut.gif")));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("damaged: frames 1 to 2 in the sheet"), std::string::npos) << r.err;
  EXPECT_EQ(ReadJson(dir.File("d/cut.json"))["animations"]["cut"],
            (nlohmann::json{"cut_001", "cut_002"}));
}

TEST(CliSheet, TheOptionsAndTheNamesOfSeveralFilesAreChecked) {
  TempDir dir;
  WriteFile(dir.File("s.gif"), Sample());
  fs::create_directories(dir.File("b"));
  WriteFile(dir.File("b/s.gif"), Sample());
  const std::string s = Quote(dir.File("s.gif"));
  const std::pair<std::string, std::string> wrong[] = {
      {"--sheet-columns 2 ", "--sheet-columns goes with --sheet"},
      {"--sheet-trim ", "--sheet-trim goes with --sheet"},
      {"--sheet --png ", "--sheet and --png cannot go together"},
      {"--sheet --sheet-padding x ", "--sheet-padding x: not a number of 0 to 65535"},
      {"--sheet --sheet-columns 0 ", "--sheet-columns 0: not a number of 1 to 65535"},
  };
  for (const auto& [options, words] : wrong) {
    const Result r = Split(options + s);
    EXPECT_EQ(r.status, 64) << options;
    EXPECT_NE(r.err.find(words), std::string::npos) << options << ": " << r.err;
  }
  // Two files of one name would write one sheet: refused before anything.
  Result r =
      Split("--sheet -o " + Quote(dir.File("o")) + " " + s + " " + Quote(dir.File("b/s.gif")));
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("would both write the sheet s.png into " + dir.File("o")), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir.File("o")));
  // Beside their sources they do not meet; side by side they are the same
  // bytes as one by one.
  r = Split("--sheet -j2 " + s + " " + Quote(dir.File("b/s.gif")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("s.png")), ReadFile(dir.File("b/s.png")));
  EXPECT_EQ(ReadFile(dir.File("s.json")), ReadFile(dir.File("b/s.json")));
}

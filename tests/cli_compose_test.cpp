// velkor-split --compose: the window's rules stay the default byte for byte;
// the browser's give their own frames, with the same reasons, salvage and
// outputs. (tests/browser/ compares those frames with Chromium itself.)
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>

#include "tests/support/cli_run.h"
#include "tests/support/png_read.h"
#include "tests/support/testutil.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

// Screen 4 x 2, global table {red, green, blue, white}: frame 1 a red 2 x 2
// square at the left, kept; frame 2 a green pixel at (3, 1), cleared after it
// is shown (disposal 2); frame 3 a blue pixel at (2, 0).
Bytes Sample() {
  return Cat({Header(4, 2, 0x81),
              Table({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}),
              Gce(0x04, 0, 0),
              Image(0, 0, 2, 2, 0x00, 0),
              Gce(0x08, 0, 0),
              Image(3, 1, 1, 1, 0x00, 1),
              Image(2, 0, 1, 1, 0x00, 2),
              {0x3B}});
}

// A 24-bit bitmap's pixel (x, y) as {r, g, b}: rows bottom up, 4-byte aligned.
std::array<int, 3> BmpPixel(const Bytes& bmp, int x, int y) {
  const int w = bmp[18] | bmp[19] << 8, h = bmp[22] | bmp[23] << 8;
  const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
  const std::size_t at = 54 + std::size_t(h - 1 - y) * stride + std::size_t(x) * 3;
  return {bmp[at + 2], bmp[at + 1], bmp[at]};
}

std::array<std::uint8_t, 4> Rgba(int r, int g, int b, int a) {
  return {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), std::uint8_t(a)};
}

}  // namespace

TEST(CliCompose, TheWindowsRulesStayTheDefaultAndTheOptionsAreChecked) {
  TempDir dir;
  WriteFile(dir.File("s.gif"), Sample());
  for (const std::string mode : {"", "--bmp", "--png", "--stored"}) {
    const std::string a = dir.File("a" + mode), w = dir.File("w" + mode);
    ASSERT_EQ(Split(mode + " -q -o " + Quote(a) + " " + Quote(dir.File("s.gif"))).status, 0);
    ASSERT_EQ(
        Split(mode + " --compose window -q -o " + Quote(w) + " " + Quote(dir.File("s.gif"))).status,
        0);
    ASSERT_EQ(ListDir(a), ListDir(w));
    for (const auto& name : ListDir(a)) {
      EXPECT_EQ(ReadFile(a + "/" + name), ReadFile(w + "/" + name)) << mode << " " << name;
    }
  }
  const std::string s = Quote(dir.File("s.gif"));
  Result r = Split("--compose web " + s);
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(Lines(r.err).front(), "velkor-split: --compose web: window or browser");
  r = Split("--background white " + s);
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(Lines(r.err).front(), "velkor-split: --background goes with --compose browser");
  r = Split("--compose browser --background '#12345g' " + s);
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("--background #12345g: not a colour"), std::string::npos) << r.err;
  EXPECT_EQ(Split("--compose browser --info --background white " + s).status, 64);
  EXPECT_EQ(ListDir(dir.path()),
            (std::vector<std::string>{"a", "a--bmp", "a--png", "a--stored", "s.gif", "w", "w--bmp",
                                      "w--png", "w--stored"}));
}

TEST(CliCompose, BrowserFramesAreTransparentWhereNothingIsDrawnOrShowTheBackground) {
  TempDir dir;
  WriteFile(dir.File("s.gif"), Sample());
  const std::string s = Quote(dir.File("s.gif"));
  Result r = Split("--compose browser --png -o " + Quote(dir.File("p")) + " " + s);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 3u);
  const Png p1 = ReadPng(dir.File("p/s_001.png")), p2 = ReadPng(dir.File("p/s_002.png")),
            p3 = ReadPng(dir.File("p/s_003.png"));
  ASSERT_EQ(p1.width, 4);
  ASSERT_EQ(p1.height, 2);
  EXPECT_EQ(p1.At(1, 1), Rgba(255, 0, 0, 255));
  EXPECT_EQ(p1.At(2, 0)[3], 0);  // the screen outside the first frame
  EXPECT_EQ(p2.At(3, 1), Rgba(0, 255, 0, 255));
  EXPECT_EQ(p3.At(3, 1)[3], 0);  // frame 2 cleared after it was shown
  EXPECT_EQ(p3.At(2, 0), Rgba(0, 0, 255, 255));
  EXPECT_EQ(p3.At(0, 0), Rgba(255, 0, 0, 255));

  // No transparency in bitmaps: the background colour shows.
  r = Split("--compose browser --bmp --background '#102030' -o " + Quote(dir.File("b")) + " " + s);
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes b3 = ReadFile(dir.File("b/s_003.bmp"));
  EXPECT_EQ(BmpPixel(b3, 3, 1), (std::array<int, 3>{0x10, 0x20, 0x30}));
  EXPECT_EQ(BmpPixel(b3, 2, 0), (std::array<int, 3>{0, 0, 255}));
  r = Split("--compose browser --bmp -o " + Quote(dir.File("k")) + " " + s);
  EXPECT_EQ(BmpPixel(ReadFile(dir.File("k/s_001.bmp")), 3, 0), (std::array<int, 3>{0, 0, 0}));
  // GIF frames too, one after another or side by side.
  r = Split("--compose browser --background white -j2 -o " + Quote(dir.File("g")) + " " + s + " " +
            Quote(dir.File("b/s_003.bmp")));
  EXPECT_EQ(r.status, 1);  // the bitmap is no GIF
  EXPECT_EQ(ListDir(dir.File("g")),
            (std::vector<std::string>{"s_001.gif", "s_002.gif", "s_003.gif"}));
  r = Split("--compose browser --background white -o " + Quote(dir.File("h")) + " " + s);
  for (const auto& name : ListDir(dir.File("g"))) {
    EXPECT_EQ(ReadFile(dir.File("g/" + name)), ReadFile(dir.File("h/" + name))) << name;
  }
}

TEST(CliCompose, TheBrowsersStreamEndsWhereItsRulesSayAndDamageKeepsItsReasons) {
  TempDir dir;
  const Bytes head = Cat({Header(4, 2, 0x81), Table({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0, 0, 0}})});
  const Bytes one = Image(0, 0, 4, 2, 0x00, 1), two = Image(1, 0, 2, 2, 0x00, 2);
  // A first image larger than the screen grows the canvas; --info says so.
  WriteFile(dir.File("big.gif"), Cat({head, Image(2, 1, 5, 3, 0x00, 1), two, {0x3B}}));
  Result r = Split("--info --compose browser " + Quote(dir.File("big.gif")));
  ASSERT_EQ(r.status, 0) << r.err;
  auto table = nlohmann::json::parse(r.out);
  EXPECT_EQ(table["canvas"], (nlohmann::json{{"width", 7}, {"height", 4}}));
  r = Split("--info " + Quote(dir.File("big.gif")));
  EXPECT_FALSE(nlohmann::json::parse(r.out).contains("canvas"));

  // A byte that starts no block ends the stream: the frames before it are
  // the whole file, with or without --salvage.
  WriteFile(dir.File("junk.gif"), Cat({head, one, two, {0x00}, one, {0x3B}}));
  for (const std::string salvage : {"", "--salvage "}) {
    r = Split("--compose browser " + salvage + "-o " + Quote(dir.File("j")) + " " +
              Quote(dir.File("junk.gif")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 2u) << salvage;
  }
  // An image of no pixels is a frame that draws nothing.
  WriteFile(dir.File("zero.gif"), Cat({head, one, Image(1, 1, 0, 0, 0x00, 0), two, {0x3B}}));
  r = Split("--compose browser --png -o " + Quote(dir.File("z")) + " " +
            Quote(dir.File("zero.gif")));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(dir.File("z/zero_002.png")).rgba, ReadPng(dir.File("z/zero_001.png")).rgba);

  // Cut short, or image data that cannot be decoded: refused as ever, and
  // --salvage keeps the frames before; a first frame that cannot be decoded
  // is no animation at all.
  // Code size 2, then a first code that names no entry (7 of 3 bits).
  Bytes bad(two.begin(), two.begin() + 10);
  bad.insert(bad.end(), {0x02, 0x01, 0x07, 0x00});
  const Bytes cut = Cat({head, one, two, {0x2C, 0}});
  WriteFile(dir.File("cut.gif"), cut);
  WriteFile(dir.File("bad.gif"), Cat({head, one, bad, two, {0x3B}}));
  WriteFile(dir.File("bad1.gif"), Cat({head, bad, two, {0x3B}}));
  struct Case {
    std::string file, message;
    int status, salvaged, frames;
  } cases[] = {
      {"cut.gif", "truncated in the image descriptor", 1, 3, 2},
      {"bad.gif", "the frame cannot be decoded", 1, 3, 1},
      {"bad1.gif", "the first image cannot be decoded", 1, 1, 0},
  };
  for (const auto& c : cases) {
    const std::string out = Quote(dir.File("o-" + c.file));
    r = Split("--compose browser -o " + out + " " + Quote(dir.File(c.file)));
    EXPECT_EQ(r.status, c.status) << c.file;
    EXPECT_NE(r.err.find("cannot be split: " + c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.File("o-" + c.file))) << c.file;
    r = Split("--compose browser --salvage -o " + out + " " + Quote(dir.File(c.file)));
    EXPECT_EQ(r.status, c.salvaged) << c.file << ": " << r.err;
    EXPECT_EQ(Lines(r.out).size(), std::size_t(c.frames)) << c.file;
  }
}

// The break-out decodes its frames on several threads: the frames, the
// failure rule and the temporary-file rules must be those of one thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;

namespace {

struct BreakOutResult {
  int flag = 0;
  std::string reason;         // why the file was refused
  std::vector<Bytes> frames;  // palette then pixels, per frame
};

BreakOutResult BreakOut(const std::string& path, unsigned threads) {
  SharedState state;
  state.DecoderPath = path;
  platform::PictureBox master(MasterBoxOptions());
  clsGif24bit engine(master, state);
  engine.DecodeThreads = threads;
  engine.fGifBreakOutFrames();
  BreakOutResult r;
  r.flag = state.NotAnimatedFlag;
  r.reason = DescribeFailure(engine.LastFailure());
  if (r.flag != 0) return r;
  for (const auto& pic : engine.FramePicture) {
    Bytes b;
    const gdi::Bitmap* bmp = pic.Handle();
    if (bmp == nullptr) {
      r.frames.push_back(b);
      continue;
    }
    for (const auto& q : bmp->Palette()) b.insert(b.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
    for (int y = 0; y < bmp->Height(); ++y) {
      for (int x = 0; x < bmp->Width(); ++x) {
        const std::uint32_t v = bmp->Get(x, y);
        b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)});
      }
    }
    r.frames.push_back(std::move(b));
  }
  return r;
}

// Sets TMPDIR to a private folder for the test, and checks it is left empty.
class PrivateTemp : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp_.path().c_str(), 1);
  }
  void TearDown() override {
    EXPECT_TRUE(ListDir(tmp_.path()).empty()) << "a temporary frame file was left behind";
    if (old_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", old_.c_str(), 1);
    }
  }
  TempDir tmp_;
  std::string old_;
};

}  // namespace

TEST_F(PrivateTemp, ThreadedBreakOutGivesTheFramesOfOneThreadOnEveryCorpusFile) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  int animated = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file);
    const BreakOutResult one = BreakOut(file, 1);
    const BreakOutResult many = BreakOut(file, 4);
    ASSERT_EQ(one.flag, many.flag);
    ASSERT_EQ(one.reason, many.reason);
    ASSERT_EQ(one.frames.size(), many.frames.size());
    for (std::size_t k = 0; k < one.frames.size(); ++k) {
      ASSERT_TRUE(one.frames[k] == many.frames[k]) << "frame " << k;
    }
    animated += one.flag == 0;
  }
  EXPECT_GT(animated, 100);
}

TEST_F(PrivateTemp, ACorruptFiftiethFrameRefusesTheWholeFileAndIsTheOneNamed) {
  TempDir dir;
  Bytes gif = gifgen::Encode(gifgen::Moving(48, 32, 80));
  // Walk the blocks to the 50th and 70th images and give them an impossible
  // LZW code size.
  std::size_t p = 13 + (std::size_t(3) << ((gif[10] & 7) + 1));
  int images = 0;
  std::size_t fiftieth = 0;
  while (p < gif.size() && gif[p] != 0x3B) {
    if (gif[p] == 0x21) {
      p += 2;
      while (gif[p] != 0) p += gif[p] + 1u;
      p += 1;
    } else {
      ASSERT_EQ(gif[p], 0x2C);
      // A frame starts at the graphic control extension right before its image.
      if (++images == 50) fiftieth = p - 8;
      p += 10;
      if (images == 50 || images == 70) gif[p] = 12;
      p += 1;
      while (gif[p] != 0) p += gif[p] + 1u;
      p += 1;
    }
  }
  ASSERT_EQ(images, 80);
  const std::string file = dir.File("bad.gif");
  WriteFile(file, gif);
  // Whichever thread meets a corrupt frame first, the lowest one is named.
  const std::string reason = "the frame cannot be decoded (byte " + std::to_string(fiftieth) +
                             " of " + std::to_string(gif.size()) + ", frame 50)";
  for (unsigned threads : {1u, 2u, 8u}) {
    const BreakOutResult r = BreakOut(file, threads);
    EXPECT_EQ(r.flag, -1) << threads << " threads";
    EXPECT_EQ(r.reason, reason) << threads << " threads";
  }

  // A split run of it writes nothing.
  SharedState state;
  state.SourcePath = file;
  state.RunMode = 1;
  state.OutputFileType = 0;
  ApplySourceNames(state, file);
  platform::PictureBox display(DisplayBoxOptions()), master(MasterBoxOptions());
  platform::ListBox list;
  PrepareRunBoxes(state, display, master);
  clsGif24bit engine(master, state, &display, &list);
  EXPECT_FALSE(PerformRun(engine, state));
  EXPECT_EQ(list.ListCount(), 0);
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"bad.gif"});
}

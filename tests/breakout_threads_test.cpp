// The break-out decodes its frames on several threads: the frames, the
// failure rule and the temporary-file rules must be those of one thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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

BreakOutResult BreakOut(const std::string& path, unsigned threads,
                        clsGif24bit::FrameFileObserver observe = {}) {
  platform::PictureBox master(MasterBoxOptions());
  clsGif24bit engine(master);
  engine.Options.DecoderPath = path;
  engine.Options.DecodeThreads = threads;
  engine.ObserveFrameFile = std::move(observe);
  engine.fGifBreakOutFrames();
  BreakOutResult r;
  r.flag = engine.BrokenOut() ? 0 : -1;
  r.reason = DescribeFailure(engine.LastFailure());
  if (r.flag != 0) return r;
  for (const auto& frame : engine.Frames) {
    Bytes b;
    const gdi::Bitmap* bmp = frame.FramePicture.Handle();
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

// Points the temporary folder at a private one for the test, and checks it is
// left empty.
class PrivateTemp : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(ListDir(tmp_.path()).empty()) << "a temporary frame file was left behind";
  }
  TempDir tmp_;
  ScopedTempFolder privateTemp_{tmp_.path()};
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

namespace {

// Where each frame of `gif` starts: the graphic control extension right
// before its image.
std::vector<std::size_t> FrameStarts(const Bytes& gif) {
  std::vector<std::size_t> starts;
  std::size_t p = 13 + (std::size_t(3) << ((gif[10] & 7) + 1));
  while (p < gif.size() && gif[p] != 0x3B) {
    if (gif[p] == 0x21) {
      p += 2;
      while (gif[p] != 0) p += gif[p] + 1u;
      p += 1;
    } else {
      starts.push_back(p - 8);
      p += 11;
      while (gif[p] != 0) p += gif[p] + 1u;
      p += 1;
    }
  }
  return starts;
}

// An impossible LZW code size for frame `n` (from 1).
void Corrupt(Bytes& gif, std::size_t n) { gif[FrameStarts(gif)[n - 1] + 8 + 10] = 12; }

// Runs a split of `file` to GIF frames beside it: whether it succeeded, and
// how many frames it listed.
std::pair<bool, int> SplitRun(const std::string& file, unsigned threads = 0,
                              clsGif24bit::FrameFileObserver observe = {}) {
  RunOptions options;
  options.DecoderPath = file;
  options.Split = true;
  options.GifFiles = false;
  options.OutputBaseName = file.substr(0, file.rfind('.'));
  HeadlessRun run(options);
  run.Engine().Options.DecodeThreads = threads;
  run.Engine().ObserveFrameFile = std::move(observe);
  const RunResult result = PerformRun(run.Engine(), nullptr);
  return {result.BrokenOut(), int(result.framesWritten + std::int64_t(result.failed.size()))};
}

}  // namespace

TEST_F(PrivateTemp, ACorruptFrameRefusesTheWholeFileAndTheLowestIsNamed) {
  TempDir dir;
  const Bytes good = gifgen::Encode(gifgen::Moving(48, 32, 80));
  const auto starts = FrameStarts(good);
  ASSERT_EQ(starts.size(), 80u);
  struct Case {
    std::vector<std::size_t> corrupt;
    std::size_t named;
  };
  // Whichever thread meets a corrupt frame first, the lowest one is named;
  // the last frame is cut out when every other one already has its picture.
  for (const Case& c : {Case{{50, 70}, 50}, Case{{80}, 80}}) {
    Bytes gif = good;
    for (std::size_t n : c.corrupt) Corrupt(gif, n);
    const std::string file = dir.File("bad.gif");
    WriteFile(file, gif);
    const std::string reason =
        "the frame cannot be decoded (byte " + std::to_string(starts[c.named - 1]) + " of " +
        std::to_string(gif.size()) + ", frame " + std::to_string(c.named) + ")";
    for (unsigned threads : {1u, 2u, 8u}) {
      const BreakOutResult r = BreakOut(file, threads);
      EXPECT_EQ(r.flag, -1) << threads << " threads";
      EXPECT_EQ(r.reason, reason) << threads << " threads";
    }
    // A split run of it writes nothing.
    EXPECT_EQ(SplitRun(file), std::make_pair(false, 0));
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"bad.gif"});
  }
}

TEST_F(PrivateTemp, AFileCutShortAfterItsWalkIsRefusedWithNothingWritten) {
  // The walk reads the file in pieces and each frame is read again when it is
  // cut out: a file that loses its end in between is one that cannot be read.
  TempDir dir;
  const Bytes gif = gifgen::Encode(gifgen::Moving(48, 32, 60));
  const std::size_t keep = FrameStarts(gif)[39] + 30;  // inside frame 40
  const std::string file = dir.File("shrinking.gif");
  auto cut = [&](std::size_t k, const std::string&, const Bytes&) {
    if (k == 0) std::filesystem::resize_file(file, keep);
  };
  WriteFile(file, gif);
  const BreakOutResult one = BreakOut(file, 1, cut);
  EXPECT_EQ(one.flag, -1);
  EXPECT_EQ(one.reason, "cannot read the file (byte " + std::to_string(keep) + " of " +
                            std::to_string(gif.size()) + ", frame 40)");
  // (On one thread, so that no frame beyond the cut is read before it.)
  WriteFile(file, gif);
  EXPECT_EQ(SplitRun(file, 1, cut), std::make_pair(false, 0));
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"shrinking.gif"});
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/frame_threads.h"
#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;

namespace {

// Black, red, green, blue, white.
const Bytes kTable = Table({{0, 0, 0},
                            {255, 0, 0},
                            {0, 255, 0},
                            {0, 0, 255},
                            {255, 255, 255},
                            {0, 0, 0},
                            {0, 0, 0},
                            {0, 0, 0}});
constexpr std::uint8_t kGlobal8 = 0x82;  // global table of 8 entries

Bytes Frame(int l, int t, int w, int h, std::uint8_t pixel, int disposal = 1, int delay = 0,
            int transparent = -1, const Bytes& local = {}) {
  const std::uint8_t packed = std::uint8_t(disposal << 2 | (transparent >= 0 ? 1 : 0));
  std::uint8_t desc = 0;
  if (!local.empty()) desc = std::uint8_t(0x80 | (local.size() == 24 ? 2 : 1));
  return Cat({Gce(packed, delay, std::uint8_t(transparent < 0 ? 0 : transparent)),
              Image(l, t, w, h, desc, pixel, local)});
}

// A split or preview run on `gif`, written as "anim.gif" in a fresh folder.
class Render : public ::testing::Test {
 protected:
  // Waits are recorded instead of slept; both hooks are put back afterwards.
  sys::ScopedSleepHook sleep_{[this](std::int64_t ms) { waits_.push_back(ms); }};
  sys::ScopedYieldHook yield_{{}};

  bool Run(const Bytes& gif, int runMode, int fileType = 0, int transparentRun = 0) {
    Prepare(gif, runMode, fileType, transparentRun);
    return Perform();
  }
  // The engine of a run on `gif`, ready for Perform.
  void Prepare(const Bytes& gif, int runMode, int fileType = 0, int transparentRun = 0) {
    source_ = dir_.File("anim.gif");
    WriteFile(source_, gif);
    PrepareRunBoxes(source_, display_, master_);
    engine_ = std::make_unique<clsGif24bit>(master_, &display_);
    engine_->ImageCtl(master_);
    engine_->Options.DecoderPath = source_;
    engine_->Options.Split = runMode == 1;
    engine_->Options.GifFiles = fileType == 1;
    engine_->Options.Transparent = transparentRun != 0;
    engine_->Options.OutputBaseName = dir_.File("anim");
  }
  bool Perform() {
    result_ = PerformRun(*engine_, &sink_);
    return result_.BrokenOut();
  }
  // The files a run could not write, in the order reported.
  std::vector<std::string> Failed() const {
    std::vector<std::string> paths;
    for (const auto& f : result_.failed) paths.push_back(f.path);
    return paths;
  }

  // Lists what was written, as the window does; keeps every report.
  struct Sink : ExportSink {
    explicit Sink(platform::ListBox& list) : list(list) {}
    void FrameExported(const ExportedFrame& frame) override {
      reported.push_back(frame);
      if (frame.written) list.AddItem(frame.path);
    }
    platform::ListBox& list;
    std::vector<ExportedFrame> reported;
  };

  // Colours of an exported bitmap, row by row.
  std::vector<gdi::COLORREF> Pixels(const std::string& path) {
    auto pic = platform::LoadPicture(path);
    EXPECT_TRUE(pic) << path;
    std::vector<gdi::COLORREF> out;
    if (!pic) return out;
    for (int y = 0; y < pic->Height(); ++y)
      for (int x = 0; x < pic->Width(); ++x) out.push_back(pic->Handle()->ColorAt(x, y));
    return out;
  }
  std::string Out(int n, const char* ext = ".bmp") {
    char buf[16];
    std::snprintf(buf, sizeof buf, "_%03d", n);
    return dir_.File("anim") + buf + ext;
  }

  TempDir dir_;
  std::string source_;
  platform::PictureBox display_{DisplayBoxOptions()};
  platform::PictureBox master_{MasterBoxOptions()};
  platform::ListBox list_;
  Sink sink_{list_};
  RunResult result_;
  std::unique_ptr<clsGif24bit> engine_;
  std::vector<std::int64_t> waits_;
};

constexpr gdi::COLORREF K = gdi::RGB(0, 0, 0), R = gdi::RGB(255, 0, 0), G = gdi::RGB(0, 255, 0),
                        B = gdi::RGB(0, 0, 255), W = gdi::RGB(255, 255, 255);

}  // namespace

TEST_F(Render, DisposalTwoClearsTheWholeCanvasBeforeItsOwnFrame) {
  const Bytes gif = Cat({Header(3, 2, kGlobal8),
                         kTable,
                         Frame(0, 0, 3, 2, 1),
                         Frame(1, 1, 1, 1, 2, /*disposal=*/2),
                         Frame(2, 0, 1, 1, 3, 1),
                         Frame(0, 0, 1, 1, 4, /*disposal=*/3),
                         Frame(0, 1, 1, 1, 3, 1),
                         {0x3B}});
  ASSERT_TRUE(Run(gif, 1));
  EXPECT_EQ(Pixels(Out(1)), (std::vector<gdi::COLORREF>{R, R, R, R, R, R}));
  EXPECT_EQ(Pixels(Out(2)), (std::vector<gdi::COLORREF>{K, K, K, K, G, K}));
  EXPECT_EQ(Pixels(Out(3)), (std::vector<gdi::COLORREF>{K, K, B, K, G, K}));
  // Disposal 3 keeps the canvas like 1.
  EXPECT_EQ(Pixels(Out(4)), (std::vector<gdi::COLORREF>{W, K, B, K, G, K}));
  EXPECT_EQ(Pixels(Out(5)), (std::vector<gdi::COLORREF>{W, K, B, B, G, K}));
}

TEST_F(Render, TransparentFramesKeyOnTheirOwnTables) {
  // Frame 1 (global table) is transparent on index 2 (green); frames 2 and 3
  // have local tables whose transparent entries differ. Keying frame 2 on the
  // last local table would draw its transparent pixels.
  const Bytes local2 = Table({{0, 0, 0}, {9, 9, 9}, {0, 0, 200}, {7, 7, 7}});
  const Bytes local3 = Table({{0, 0, 0}, {0, 0, 200}, {9, 9, 9}, {7, 7, 7}});
  const Bytes gif = Cat({Header(2, 1, kGlobal8),
                         kTable,
                         Frame(0, 0, 2, 1, 1),
                         Frame(1, 0, 1, 1, 2, 1, 0, /*transparent=*/2),
                         Frame(0, 0, 2, 1, 2, 1, 0, 2, local2),
                         Frame(0, 0, 1, 1, 2, 1, 0, 1, local3),
                         {0x3B}});
  ASSERT_TRUE(Run(gif, 1));
  EXPECT_EQ(Pixels(Out(1)), (std::vector<gdi::COLORREF>{R, R}));
  EXPECT_EQ(Pixels(Out(2)), (std::vector<gdi::COLORREF>{R, R}));  // green is the key
  EXPECT_EQ(Pixels(Out(3)), (std::vector<gdi::COLORREF>{R, R}));  // (0, 0, 200) is its key
  EXPECT_EQ(Pixels(Out(4)), (std::vector<gdi::COLORREF>{gdi::RGB(9, 9, 9), R}));
}

TEST_F(Render, WaitsFollowTheDelays) {
  Bytes body;
  for (int d : {0, 10, 99, 100, 500, 40000}) body = Cat({body, Frame(0, 0, 1, 1, 1, 1, d)});
  ASSERT_TRUE(Run(Cat({Header(1, 1, kGlobal8), kTable, body, {0x3B}}), 0));
  // UserDelay 0 is stored as 1; a delay that reads negative waits like 0.
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 101, 991, 101, 101, 1}));
}

TEST_F(Render, SplitNamesListsAndFormats) {
  const Bytes gif = Cat({Header(2, 2, kGlobal8),
                         kTable,
                         Frame(0, 0, 2, 2, 1),
                         Frame(0, 0, 1, 1, 2),
                         Frame(1, 1, 1, 1, 3),
                         {0x3B}});
  ASSERT_TRUE(Run(gif, 1, /*fileType=*/1));
  const std::vector<std::string> gifs = {Out(1, ".gif"), Out(2, ".gif"), Out(3, ".gif")};
  EXPECT_EQ(list_.Items(), gifs);
  for (const auto& f : gifs) EXPECT_TRUE(std::filesystem::exists(f)) << f;
  // The exported GIF holds the composed frame through the fixed table.
  EXPECT_EQ(Pixels(Out(3, ".gif")), (std::vector<gdi::COLORREF>{G, R, R, B}));
  EXPECT_TRUE(Failed().empty());

  list_.Clear();
  ASSERT_TRUE(Run(gif, 1, /*fileType=*/0));
  EXPECT_EQ(list_.Items(), (std::vector<std::string>{Out(1), Out(2), Out(3)}));
}

TEST_F(Render, TransparentRunMarksTheTopLeftColour) {
  const Bytes gif = Cat({Header(2, 1, kGlobal8), kTable, Frame(0, 0, 2, 1, 4), {0x3B}});
  ASSERT_TRUE(Run(gif, 1, 1, /*transparentRun=*/-1));
  const Bytes out = ReadFile(Out(1, ".gif"));
  ASSERT_GT(out.size(), 800u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");
  EXPECT_EQ(out[787], 124);  // white
}

TEST_F(Render, PreviewWritesNothingAndLeavesDisplayAndListAlone) {
  const Bytes gif =
      Cat({Header(2, 1, kGlobal8), kTable, Frame(0, 0, 2, 1, 1), Frame(0, 0, 1, 1, 2), {0x3B}});
  list_.AddItem("keep");
  ASSERT_TRUE(Run(gif, 0, 1));
  EXPECT_EQ(list_.Items(), (std::vector<std::string>{"keep"}));
  EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"anim.gif"}));
  EXPECT_EQ(display_.Point(0, 0), R);  // only the loaded picture
  EXPECT_EQ(master_.Point(0, 0), G);   // the animation was shown
}

TEST_F(Render, StopRenderEndsTheRunBeforeTheNextFrameAndKeepsWrittenFiles) {
  Bytes body;
  for (int k = 0; k < 5; ++k) body = Cat({body, Frame(0, 0, 1, 1, std::uint8_t(1 + k % 3))});
  int yields = 0;
  sys::SetYieldHook([&] {
    // The yield after the second frame's export stands for a click.
    if (++yields == 4) engine_->StopRender(-1);
  });
  ASSERT_TRUE(Run(Cat({Header(1, 1, kGlobal8), kTable, body, {0x3B}}), 1));
  EXPECT_EQ(list_.ListCount(), 2);
  EXPECT_EQ(ListDir(dir_.path()),
            (std::vector<std::string>{"anim.gif", "anim_001.bmp", "anim_002.bmp"}));
}

TEST_F(Render, NotAnimatedWritesNothing) {
  EXPECT_FALSE(Run(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0}, 1));
  EXPECT_EQ(result_.breakOut.reason, BreakOutReason::TruncatedHeader);
  EXPECT_EQ(list_.ListCount(), 0);
  EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"anim.gif"}));
}

TEST_F(Render, AFrameThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  std::filesystem::create_directory(Out(2));
  const Bytes gif = Cat({Header(1, 1, kGlobal8),
                         kTable,
                         Frame(0, 0, 1, 1, 1),
                         Frame(0, 0, 1, 1, 2),
                         Frame(0, 0, 1, 1, 3),
                         {0x3B}});
  ASSERT_TRUE(Run(gif, 1));
  EXPECT_EQ(Failed(), (std::vector<std::string>{Out(2)}));
  EXPECT_EQ(result_.failed[0].reason, "Is a directory");
  EXPECT_EQ(result_.framesWritten, 2);
  // The list holds only the frames written.
  EXPECT_EQ(list_.Items(), (std::vector<std::string>{Out(1), Out(3)}));
  EXPECT_TRUE(std::filesystem::is_regular_file(Out(3)));
}

TEST_F(Render, ATransparentIndexBeyondItsTableKeysOnBlack) {
  // Index 200 has no entry in the 8-entry table, so the frame is keyed on
  // black, which the masking finds at the table's first black entry (index
  // 0): pixels of index 0 leave the canvas alone, and pixels of index 200,
  // which load as black, are drawn.
  const Bytes gif = Cat({Header(2, 1, kGlobal8),
                         kTable,
                         Frame(0, 0, 2, 1, 1),
                         Frame(0, 0, 1, 1, 200, 1, 0, /*transparent=*/200),
                         Frame(1, 0, 1, 1, 0, 1, 0, /*transparent=*/200),
                         {0x3B}});
  ASSERT_TRUE(Run(gif, 1));
  EXPECT_EQ(engine_->Frames[1].FrameKeyColor, -1);
  EXPECT_EQ(Pixels(Out(2)), (std::vector<gdi::COLORREF>{K, R}));
  EXPECT_EQ(Pixels(Out(3)), (std::vector<gdi::COLORREF>{K, R}));
}

TEST_F(Render, FailedFilesAreInFrameOrderAndFreshForEveryRun) {
  // Thirty frames on two writer threads, some of which cannot be written: the
  // results reach the caller in frame order, whatever order the writers
  // finish in.
  Bytes body;
  for (int k = 0; k < 30; ++k) body = Cat({body, Frame(0, 0, 1, 1, std::uint8_t(1 + k % 4))});
  const Bytes gif = Cat({Header(1, 1, kGlobal8), kTable, body, {0x3B}});
  for (const int fileType : {0, 1}) {
    const char* ext = fileType == 1 ? ".gif" : ".bmp";
    const std::vector<int> blocked = {3, 4, 17, 30};
    for (int n : blocked) std::filesystem::create_directory(Out(n, ext));
    std::vector<std::int64_t> reported;
    std::vector<std::string> failed;
    source_ = dir_.File("anim.gif");
    ASSERT_TRUE(Run(gif, 1, fileType));
    EXPECT_EQ(Failed(),
              (std::vector<std::string>{Out(3, ext), Out(4, ext), Out(17, ext), Out(30, ext)}));

    // The same engine run again once the files can be written.
    for (int n : blocked) std::filesystem::remove(Out(n, ext));
    sink_.reported.clear();
    ASSERT_TRUE(Perform());
    for (const auto& f : sink_.reported) {
      reported.push_back(f.n);
      if (!f.written) failed.push_back(f.path);
    }
    EXPECT_TRUE(Failed().empty());
    EXPECT_TRUE(failed.empty());
    ASSERT_EQ(reported.size(), 30u);
    for (std::size_t i = 0; i < reported.size(); ++i) EXPECT_EQ(reported[i], std::int64_t(i) + 1);
  }
}

TEST_F(Render, MemoryRunningOutInTheFrameLoopReportsEveryFrameNotWritten) {
  // A PNG split cannot make the coverage it keeps, a split of the stored
  // pixels cannot make the first frame's picture: no frame is written, and
  // every one is reported, the one being exported when it ran out included.
  Bytes body;
  for (int k = 0; k < 3; ++k) body = Cat({body, Frame(0, 0, 2, 2, std::uint8_t(1 + k))});
  const Bytes gif = Cat({Header(2, 2, kGlobal8), kTable, body, {0x3B}});
  struct Case {
    clsGif24bit::FrameFiles as;
    bool gifFiles;
    const char* reason;
  };
  for (const Case c : {Case{clsGif24bit::FrameFiles::Png, false, "Cannot allocate memory"},
                       Case{clsGif24bit::FrameFiles::Png, true, "Cannot allocate memory"},
                       Case{clsGif24bit::FrameFiles::StoredPng, false, "Cannot allocate memory"}}) {
    SCOPED_TRACE(c.gifFiles);
    source_ = dir_.File("anim.gif");
    WriteFile(source_, gif);
    PrepareRunBoxes(source_, display_, master_);
    engine_ = std::make_unique<clsGif24bit>(master_, &display_);
    engine_->ImageCtl(master_);
    engine_->Options = {};
    engine_->Options.DecoderPath = source_;
    engine_->Options.Split = true;
    engine_->Options.GifFiles = c.gifFiles;
    engine_->Options.OutputBaseName = dir_.File("anim");
    engine_->Options.ExportAs = c.as;
    ASSERT_TRUE(BreakOutRun(*engine_));
    // No bitmap of more than one pixel can be made from here on.
    const gdi::ScopedPixelLimit none(1);
    result_ = PlayRun(*engine_, &sink_);
    EXPECT_EQ(result_.framesWritten, 0);
    ASSERT_EQ(result_.failed.size(), 3u);
    for (std::int64_t n = 1; n <= 3; ++n) {
      const auto& failed = result_.failed[std::size_t(n - 1)];
      EXPECT_EQ(failed.n, n);
      EXPECT_EQ(failed.reason, c.reason);
    }
    EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"anim.gif"}));
  }
}

TEST_F(Render, ThreadsThatCannotStartLeaveTheRunToTheThreadsThatDid) {
  Bytes body;
  for (int k = 0; k < 6; ++k) body = Cat({body, Frame(0, 0, 1, 1, std::uint8_t(1 + k % 4))});
  const Bytes gif = Cat({Header(1, 1, kGlobal8), kTable, body, {0x3B}});
  for (const int allowed : {0, 1}) {
    SCOPED_TRACE(allowed);
    // The first `allowed` threads start; every later start fails as the
    // system's refusal does.
    int started = 0;
    SetThreadStartHook([&] {
      if (started++ >= allowed) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
    });
    for (const int fileType : {0, 1}) {
      ASSERT_TRUE(Run(gif, 1, fileType));
      EXPECT_EQ(result_.framesWritten, 6);
      EXPECT_TRUE(result_.Complete());
    }
    SetThreadStartHook({});
  }
}

TEST_F(Render, ARunWithoutThreadsOfItsOwnStartsNoneAndAsksTheGateForItsPixels) {
  Bytes body;
  for (int k = 0; k < 5; ++k) body = Cat({body, Frame(0, 0, 3, 2, std::uint8_t(1 + k % 4))});
  const Bytes gif = Cat({Header(3, 2, kGlobal8), kTable, body, {0x3B}});
  int started = 0;
  SetThreadStartHook([&] { ++started; });
  std::vector<std::int64_t> asked;
  bool released = false;
  Prepare(gif, 1);
  engine_->Options.OwnThreads = false;
  bool decodedBefore = false;
  engine_->Options.PixelGate = [&](std::int64_t pixels) {
    // Asked before any frame is decoded: a run that waits holds no pictures.
    for (const auto& f : engine_->Frames) decodedBefore |= bool(f.FramePicture);
    asked.push_back(pixels);
    return std::shared_ptr<void>(nullptr, [&](void*) { released = true; });
  };
  ASSERT_TRUE(Perform());
  SetThreadStartHook({});
  EXPECT_EQ(started, 0);
  EXPECT_EQ(result_.framesWritten, 5);
  EXPECT_FALSE(decodedBefore);
  // The frames' 8-bit pixels, the 32-bit canvas (the screen's width rounded
  // up to 32) and the two boxes' 32-bit pictures of the first image.
  EXPECT_EQ(asked, (std::vector<std::int64_t>{5 * 3 * 2 + 32 * 2 * 4 + 2 * 3 * 2 * 4}));
  EXPECT_FALSE(released);  // held while the frames are
  engine_->CleanUp();
  EXPECT_TRUE(released);
}

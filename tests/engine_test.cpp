#include "engine/gif24bit.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "engine/run.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;

namespace {

const Bytes kTable4 = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});

// An engine on a Master box, with temporary files in a private folder and the
// bytes of every single-frame file kept. It walks each file five bytes at a
// time, so every rule below also holds wherever a read piece ends (the other
// suites walk in the usual large pieces).
class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_.ReadPieceBytes = 5;
    engine_.ObserveFrameFile = [this](std::size_t k, const std::string& path, const Bytes& bytes) {
      // The file holds exactly the bytes that are decoded, while they are.
      EXPECT_EQ(ReadFile(path), bytes);
      frameFiles_[k] = bytes;
    };
  }
  void TearDown() override {
    EXPECT_TRUE(ListDir(tmp_.path()).empty()) << "a temporary file outlived the break-out";
  }

  // Breaks out `gif`; returns -1 when it could not be broken into frames.
  int BreakOut(const Bytes& gif) {
    WriteFile(files_.File("a.gif"), gif);
    engine_.Options.DecoderPath = files_.File("a.gif");
    frameFiles_.clear();
    engine_.fGifBreakOutFrames();
    return engine_.BrokenOut() ? 0 : -1;
  }

  TempDir tmp_, files_;
  ScopedTempFolder privateTemp_{tmp_.path()};
  platform::PictureBox master_{MasterBoxOptions()};
  clsGif24bit engine_{master_};
  std::map<std::size_t, Bytes> frameFiles_;  // by frame index
};

// What `gifsicle --info` reports of each image; empty when gifsicle is
// missing or reports a read error (it then stops early or skips images, so it
// is no oracle for that file).
struct GifsicleImage {
  int width = 0, height = 0, left = 0, top = 0, transparent = -1, disposal = 0, delay = 0;
};
std::vector<GifsicleImage> GifsicleInfo(const std::string& file) {
  std::vector<GifsicleImage> images;
#ifdef _WIN32
  (void)file;  // gifsicle is a program of the Linux machine: giflib is the oracle there
  return images;
#endif
  if (std::system("command -v gifsicle >/dev/null 2>&1") != 0) return images;
  const std::string cmd = "gifsicle --info '" + file + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return images;
  char line[512];
  bool readError = false;
  while (std::fgets(line, sizeof line, p)) {
    const std::string l = line;
    if (l.rfind("gifsicle:", 0) == 0) readError = true;
    GifsicleImage im;
    int index = 0;
    if (std::sscanf(line, "  + image #%d %dx%d", &index, &im.width, &im.height) == 3) {
      if (auto at = l.find(" at "); at != std::string::npos)
        std::sscanf(l.c_str() + at, " at %d,%d", &im.left, &im.top);
      if (auto t = l.find("transparent "); t != std::string::npos)
        im.transparent = std::atoi(l.c_str() + t + 12);
      images.push_back(im);
    } else if (!images.empty() && l.find("    disposal ") == 0) {
      const std::map<std::string, int> names = {
          {"none", 0}, {"asis", 1}, {"background", 2}, {"previous", 3}};
      char name[32] = {};
      std::sscanf(line, "    disposal %31s", name);
      images.back().disposal = names.count(name) ? names.at(name) : std::atoi(name);
    }
    if (!images.empty()) {
      if (auto d = l.find("delay ");
          d != std::string::npos && l.find("+ image") == std::string::npos)
        images.back().delay = int(std::lround(std::atof(l.c_str() + d + 6) * 100));
    }
  }
  if (pclose(p) != 0 || readError) images.clear();
  return images;
}

Bytes Sub(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}

}  // namespace

TEST_F(Engine, SignatureRules) {
  for (const char* sig : {"GIF87a", "GIF89a", "GIF8zz"}) {
    Bytes gif = Cat({Header(2, 2, 0x81), kTable4, Image(0, 0, 2, 2, 0, 1), {0x3B}});
    std::copy(sig, sig + 6, gif.begin());
    EXPECT_EQ(BreakOut(gif), 0) << sig;
    EXPECT_EQ(engine_.Frames.size(), 1u);
  }
  Bytes bad = Cat({Header(2, 2, 0x81), kTable4, Image(0, 0, 2, 2, 0, 1), {0x3B}});
  bad[3] = '9';
  EXPECT_EQ(BreakOut(bad), -1);
  EXPECT_TRUE(engine_.Frames.empty());
  EXPECT_EQ(BreakOut(Bytes{'G', 'I', 'F'}), -1);
  EXPECT_EQ(BreakOut(Bytes{}), -1);
  engine_.Options.DecoderPath.clear();
  engine_.fGifBreakOutFrames();
  EXPECT_EQ(engine_.LastFailure().reason, BreakOutReason::CannotRead);  // a missing file
  EXPECT_EQ(engine_.LastFailure().error, ENOENT);
}

TEST_F(Engine, NoGlobalTableSingleFrameFilesAndTheirExactBytes) {
  const Bytes local = Table({{1, 1, 1}, {2, 2, 2}});
  const Bytes frame0 = Cat({Gce(0x04, 10, 0), Image(0, 0, 2, 1, 0x80, 1, local)});
  const Bytes frame1 = Image(1, 0, 1, 1, 0x80, 0, local);
  const Bytes gif = Cat({Header(3, 1, 0x00), frame0, frame1, {0x3B}});
  ASSERT_EQ(BreakOut(gif), 0);
  ASSERT_EQ(engine_.Frames.size(), 2u);
  EXPECT_EQ(engine_.Frames[0].FrameStart, 14);
  EXPECT_EQ(engine_.Frames[0].FrameEnd, 13 + std::int32_t(frame0.size()));
  EXPECT_EQ(engine_.Frames[1].FrameStart, 14 + std::int32_t(frame0.size()));
  ASSERT_EQ(frameFiles_.size(), 2u);
  // Header, the frame's bytes up to its terminator, then 00 21 F9 3B.
  EXPECT_EQ(frameFiles_[0],
            Cat({Sub(gif, 0, 13), Sub(frame0, 0, frame0.size() - 1), {0x00, 0x21, 0xF9, 0x3B}}));
  EXPECT_EQ(frameFiles_[1],
            Cat({Sub(gif, 0, 13), Sub(frame1, 0, frame1.size() - 1), {0x00, 0x21, 0xF9, 0x3B}}));
  EXPECT_EQ(engine_.Frames[1].FramePicture.Handle()->ColorAt(0, 0), gdi::RGB(1, 1, 1));
  EXPECT_EQ(engine_.Frames[0].DisposalMethod, 1);
  EXPECT_EQ(engine_.Frames[0].DelayTime, 10);
}

TEST_F(Engine, ExtensionsBelongToTheFrameTheyPrecede) {
  const Bytes app = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                     'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  Bytes comment = {0x21, 0xFE};
  for (int b = 0; b < 3; ++b) {  // 600 bytes of text over three sub-blocks
    comment.push_back(200);
    comment.insert(comment.end(), 200, std::uint8_t(b == 1 ? 0x2C : 0x21));
  }
  comment.push_back(0);
  Bytes plain = {0x21, 0x01, 0x0C, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 0x03, 'a', 0x2C, 'b', 0x00};
  const Bytes stray = {0x00, 0x55, 0x21, 0x99, 0x07};
  const Bytes f0 = Cat({app, comment, Image(0, 0, 1, 1, 0, 1)});
  const Bytes f1 = Cat({plain, stray, Image(0, 0, 1, 1, 0, 2)});
  const Bytes gif = Cat({Header(1, 1, 0x81), kTable4, f0, f1, {0x3B}});
  ASSERT_EQ(BreakOut(gif), 0);
  ASSERT_EQ(frameFiles_.size(), 2u);
  EXPECT_EQ(Sub(frameFiles_[0], 25, 25 + app.size()), app);  // only frame 0 has the loop block
  EXPECT_EQ(frameFiles_[1].size(), 25 + f1.size() + 3);
  EXPECT_EQ(engine_.Frames[0].FramePicture.Handle()->ColorAt(0, 0), gdi::RGB(255, 0, 0));
  EXPECT_EQ(engine_.Frames[1].FramePicture.Handle()->ColorAt(0, 0), gdi::RGB(0, 255, 0));
}

TEST_F(Engine, TwoGraphicControlsCombine) {
  const Bytes gif = Cat({Header(1, 1, 0x81),
                         kTable4,
                         Gce(0x11, 5, 1),
                         Gce(0x0A, 7, 2),
                         Image(0, 0, 1, 1, 0, 0),
                         {0x3B}});
  ASSERT_EQ(BreakOut(gif), 0);
  EXPECT_EQ(engine_.Frames[0].DelayTime, 7);
  EXPECT_EQ(engine_.Frames[0].TransparentIndex, 2);
  EXPECT_EQ(engine_.Frames[0].DisposalMethod, 4 | 2);
  EXPECT_TRUE(engine_.Frames[0].TransparentFlag);
  EXPECT_TRUE(engine_.Frames[0].UserInputFlag);
}

TEST_F(Engine, ExtensionsAfterTheLastImageDescribeNoFrame) {
  const Bytes gif = Cat({Header(1, 1, 0x81),
                         kTable4,
                         Gce(0x08, 40000, 3),
                         Image(0, 0, 1, 1, 0, 1),
                         Gce(0x04, 7, 0),
                         {0x3B}});
  ASSERT_EQ(BreakOut(gif), 0);
  ASSERT_EQ(engine_.Frames.size(), 1u);
  EXPECT_EQ(frameFiles_.size(), 1u);
  EXPECT_EQ(engine_.Frames[0].DelayTime, std::int16_t(40000 - 65536));  // 16-bit reads as negative
  EXPECT_EQ(engine_.Frames[0].DisposalMethod, 2);
}

TEST_F(Engine, RejectedStreams) {
  // No trailer after the last image.
  EXPECT_EQ(BreakOut(Cat({Header(1, 1, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1)})), -1);
  // No image: the trailer at the walk's start is skipped like any byte.
  EXPECT_EQ(BreakOut(Cat({Header(1, 1, 0x81), kTable4, {0x3B}})), -1);
  // Truncated global table, truncated sub-blocks.
  EXPECT_EQ(BreakOut(Cat({Header(1, 1, 0x81), {0, 0, 0}})), -1);
  Bytes cut = Cat({Header(1, 1, 0x81), kTable4, Image(0, 0, 9, 9, 0, 1), {0x3B}});
  cut.resize(cut.size() - 6);
  EXPECT_EQ(BreakOut(cut), -1);
  // A picture the loader refuses (an image larger than the drawing layer allows):
  // its temporary file is deleted all the same (checked in TearDown).
  EXPECT_EQ(BreakOut(Cat({Header(1, 1, 0x81),
                          kTable4,
                          {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0x02, 0x01, 0x04, 0x00},
                          {0x3B}})),
            -1);
  // Logical screens the drawing layer refuses end through the flag.
  EXPECT_EQ(BreakOut(Cat({Header(0xFFFF, 0xFFFF, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})),
            -1);
  EXPECT_EQ(BreakOut(Cat({Header(10, 0x8000, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})),
            -1);
  EXPECT_EQ(BreakOut(Cat({Header(32737, 1, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})), -1);
}

TEST_F(Engine, FramesBeyondThePixelBudgetAreRefusedBeforeLoading) {
  const Bytes gif = Cat({Header(4, 4, 0x81),
                         kTable4,
                         Image(0, 0, 4, 4, 0, 1),
                         Image(0, 0, 4, 4, 0, 2),
                         Image(0, 0, 4, 4, 0, 3),
                         {0x3B}});
  engine_.FramePixelBudget = 48;
  EXPECT_EQ(BreakOut(gif), 0);
  EXPECT_EQ(frameFiles_.size(), 3u);
  engine_.FramePixelBudget = 47;
  EXPECT_EQ(BreakOut(gif), -1);
  EXPECT_EQ(frameFiles_.size(), 0u);  // refused before any frame was cut out
}

TEST_F(Engine, TransparentColourRepair) {
  struct Case {
    Bytes table;
    std::uint8_t index;
    Bytes expected;  // the transparent entry afterwards
  };
  const std::vector<Case> cases = {
      // Largest two colours 0xFFFFFF and 0x808080: Second / 2 = 0x404040.
      {Table({{255, 255, 255}, {0x80, 0x80, 0x80}, {0, 0, 0}, {0, 0, 0}}), 3, {0x40, 0x40, 0x40}},
      {Table({{9, 0, 0}, {5, 0, 0}, {0, 0, 0}, {0, 0, 0}}), 3, {2, 0, 0}},  // 2.5 -> 2
      {Table({{9, 0, 0}, {7, 0, 0}, {0, 0, 0}, {0, 0, 0}}), 3, {4, 0, 0}},  // 3.5 -> 4
      // Unique: left alone.
      {Table({{9, 0, 0}, {7, 0, 0}, {1, 0, 0}, {0, 0, 0}}), 3, {0, 0, 0}},
      // Second / 2 = 2 is entry 2's colour: moved down to 1.
      {Table({{10, 0, 0}, {4, 0, 0}, {2, 0, 0}, {2, 0, 0}}), 3, {1, 0, 0}},
  };
  for (const auto& c : cases) {
    const Bytes gif =
        Cat({Header(1, 1, 0x81), c.table, Gce(0x01, 0, c.index), Image(0, 0, 1, 1, 0, 0), {0x3B}});
    ASSERT_EQ(BreakOut(gif), 0);
    const std::size_t at = 13 + 3 * c.index;
    EXPECT_EQ(Sub(frameFiles_[0], at, at + 3), c.expected);
    EXPECT_EQ(Bytes(engine_.GlobalColorTable.begin() + 3 * c.index,
                    engine_.GlobalColorTable.begin() + 3 * c.index + 3),
              c.expected);
  }
}

TEST_F(Engine, RepairKeepsItsRunningSecondAndEachFrameItsOwnKey) {
  // Frame 0 (local table) leaves Second = 5; frame 1's all-black local table
  // then gets 5 / 2 = 2 for its transparent entry.
  const Bytes t0 = Table({{9, 0, 0}, {5, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  const Bytes t1 = Table({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  const Bytes t2 = Table({{0, 0, 0}, {200, 0, 0}, {0, 50, 0}, {0, 0, 0}});
  const Bytes gif = Cat({Header(1, 1, 0x00),
                         Gce(0x01, 0, 3),
                         Image(0, 0, 1, 1, 0x81, 0, t0),
                         Gce(0x01, 0, 1),
                         Image(0, 0, 1, 1, 0x81, 0, t1),
                         Gce(0x01, 0, 2),
                         Image(0, 0, 1, 1, 0x81, 0, t2),
                         Gce(0x01, 0, 3),
                         Image(0, 0, 1, 1, 0x00, 0),
                         {0x3B}});
  ASSERT_EQ(BreakOut(gif), 0);
  ASSERT_EQ(engine_.Frames.size(), 4u);
  EXPECT_EQ(engine_.Frames[0].FrameKeyColor, 2);
  EXPECT_EQ(engine_.Frames[1].FrameKeyColor, 2);
  EXPECT_EQ(engine_.Frames[2].FrameKeyColor, 50 << 8);
  EXPECT_EQ(engine_.Frames[3].FrameKeyColor, -1);  // no table at all: nothing repaired
  // The single buffer holds the last local table.
  EXPECT_EQ(engine_.LocalColorTable[3], 200);
  // Each frame file carries its own repaired table (header, control and
  // descriptor come first: the table starts at byte 31).
  EXPECT_EQ(Sub(frameFiles_[0], 31 + 9, 31 + 12), (Bytes{2, 0, 0}));
  EXPECT_EQ(Sub(frameFiles_[1], 31 + 3, 31 + 6), (Bytes{2, 0, 0}));
  EXPECT_EQ(Sub(frameFiles_[2], 31, 31 + 12), t2);

  // A repair of the global table by the last frame reaches the frames before
  // it too: all of them start with the same header.
  const Bytes dup = Table({{9, 0, 0}, {5, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  ASSERT_EQ(BreakOut(Cat({Header(1, 1, 0x81),
                          dup,
                          Image(0, 0, 1, 1, 0, 0),
                          Image(0, 0, 1, 1, 0, 0),
                          Gce(0x01, 0, 3),
                          Image(0, 0, 1, 1, 0, 0),
                          {0x3B}})),
            0);
  ASSERT_EQ(frameFiles_.size(), 3u);
  for (const auto& [k, bytes] : frameFiles_) EXPECT_EQ(Sub(bytes, 22, 25), (Bytes{2, 0, 0})) << k;
}

TEST_F(Engine, PropertiesCanvasAndCleanUp) {
  for (auto [in, out] : std::vector<std::pair<int, int>>{{0, 1}, {-5, 1}, {5000, 1000}, {7, 7}}) {
    engine_.UserDelay(in);
    EXPECT_EQ(engine_.UserDelay(), out);
  }
  engine_.StopRender(5);
  EXPECT_EQ(engine_.StopRender(), -1);
  engine_.StopRender(0);
  EXPECT_EQ(engine_.StopRender(), 0);

  for (auto [w, cw] : std::vector<std::pair<int, int>>{{1, 32}, {32, 32}, {33, 64}}) {
    ASSERT_EQ(BreakOut(Cat({Header(w, 3, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})), 0);
    EXPECT_EQ(engine_.CanvasWidth, cw);
    EXPECT_EQ(engine_.CanvasHeight, 3);
    EXPECT_EQ(engine_.CanvasBitmap->Width(), cw);
  }
  // The target's back colour as a system-colour reference.
  master_.BackColor(0x80000000u | gdi::COLOR_BTNFACE);
  ASSERT_EQ(BreakOut(Cat({Header(4, 4, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})), 0);
  EXPECT_EQ(engine_.CanvasBackColor, gdi::RGB(212, 208, 200));
  EXPECT_EQ(engine_.CanvasBitmap->ColorAt(3, 3), gdi::RGB(212, 208, 200));
  EXPECT_EQ(master_.Picture().Width(), 1);  // the whole file went into the target

  engine_.CleanUp();
  EXPECT_TRUE(engine_.Frames.empty());

  platform::PictureBox box;
  clsGif24bit fresh(box);
  fresh.CleanUp();
  EXPECT_TRUE(fresh.Frames.empty());
  EXPECT_EQ(fresh.CanvasBitmap, nullptr);
  EXPECT_EQ(fresh.hDCImage(), &box.hDC());
}

TEST_F(Engine, MaskedBlitLeavesTheCanvasExactlyWhereTheKeyColourIs) {
  ASSERT_EQ(BreakOut(Cat({Header(4, 2, 0x81), kTable4, Image(0, 0, 1, 1, 0, 1), {0x3B}})), 0);
  // Canvas: a known pattern.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < engine_.CanvasWidth; ++x)
      engine_.CanvasBitmap->Set(x, y, std::uint32_t(0x010101 * (x + 10 * y + 1)));
  const gdi::COLORREF key = gdi::RGB(10, 20, 30);
  // An 8-bit frame 3x2 whose table holds the key, near misses and a duplicate
  // of the key at a higher index (drawn, since only the nearest index keys).
  std::vector<gdi::RGBQUAD> pal = {gdi::QuadOf(key), gdi::QuadOf(gdi::RGB(11, 20, 30)),
                                   gdi::QuadOf(gdi::RGB(10, 21, 30)),
                                   gdi::QuadOf(gdi::RGB(10, 20, 31)), gdi::QuadOf(key)};
  auto frame = *gdi::Bitmap::Create(3, 2, gdi::Format::Indexed8, pal);
  const std::uint32_t idx[6] = {0, 1, 2, 3, 4, 0};
  for (int i = 0; i < 6; ++i) frame.Set(i % 3, i / 3, idx[i]);
  auto frameDC = gdi::CreateCompatibleDC(&master_.hDC());
  gdi::SelectObject(*frameDC, &frame);
  std::vector<std::uint32_t> before;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) before.push_back(engine_.CanvasBitmap->Get(x, y));
  gdi::COLORREF k = key;
  engine_.MaskedBlit(*engine_.CanvasDC, master_.hDC(), *frameDC, {0, 0, 3, 2}, 1, 0, k);
  EXPECT_EQ(k, key);
  EXPECT_EQ(frameDC->bkColor, gdi::RGB(255, 255, 255));  // put back
  auto at = [&](int x, int y) { return engine_.CanvasBitmap->Get(x, y); };
  EXPECT_EQ(at(0, 0), before[0]);                             // outside the frame
  EXPECT_EQ(at(1, 0), before[1]);                             // key colour: canvas stays
  EXPECT_EQ(at(2, 0), gdi::ToPixel32(gdi::RGB(11, 20, 30)));  // one unit off: drawn
  EXPECT_EQ(at(3, 0), gdi::ToPixel32(gdi::RGB(10, 21, 30)));
  EXPECT_EQ(at(1, 1), gdi::ToPixel32(gdi::RGB(10, 20, 31)));
  EXPECT_EQ(at(2, 1), gdi::ToPixel32(key));  // duplicate at a higher index
  EXPECT_EQ(at(3, 1), before[7]);
  // The canvas was shown in the target (a 1 x 1 box here).
  EXPECT_EQ(master_.Point(0, 0), gdi::COLORREF(gdi::FromPixel32(at(0, 0))));
}

// Every corpus GIF breaks out like giflib sees it, or is refused; no crash and
// no temporary file left behind.
TEST_F(Engine, Corpus) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  const gdi::ScopedPixelLimit limit(std::int64_t(4096) * 4096);
  int compared = 0, refused = 0, checkedWithGifsicle = 0;
  for (const auto& f : files) {
    engine_.Options.DecoderPath = f;
    engine_.fGifBreakOutFrames();
    if (!engine_.BrokenOut()) {
      ++refused;
      continue;
    }
    ASSERT_FALSE(engine_.Frames.empty()) << f;
    // gifsicle, where it reads the file: images, their places, and (for
    // images with one graphic control) disposal, delay and transparency.
    const auto info = GifsicleInfo(f);
    if (!info.empty()) {
      ++checkedWithGifsicle;
      ASSERT_EQ(info.size(), engine_.Frames.size()) << f;
      for (std::size_t k = 0; k < info.size(); ++k) {
        // gifsicle shows a zero-sized image as the size of the screen.
        if (engine_.Frames[k].FrameWidth == 0 || engine_.Frames[k].FrameHeight == 0) continue;
        EXPECT_EQ(engine_.Frames[k].FrameWidth, std::int16_t(info[k].width)) << f;
        EXPECT_EQ(engine_.Frames[k].FrameHeight, std::int16_t(info[k].height)) << f;
        EXPECT_EQ(engine_.Frames[k].FrameLeft, std::int16_t(info[k].left)) << f;
        EXPECT_EQ(engine_.Frames[k].FrameTop, std::int16_t(info[k].top)) << f;
      }
    }
    int err = 0;
    GifFileType* g = DGifOpenFileName(f.c_str(), &err);
    if (g == nullptr) continue;
    if (DGifSlurp(g) == GIF_OK) {
      ++compared;
      ASSERT_EQ(std::size_t(g->ImageCount), engine_.Frames.size()) << f;
      for (int k = 0; k < g->ImageCount; ++k) {
        const auto& d = g->SavedImages[k].ImageDesc;
        EXPECT_EQ(engine_.Frames[std::size_t(k)].FrameLeft, std::int16_t(d.Left)) << f;
        EXPECT_EQ(engine_.Frames[std::size_t(k)].FrameTop, std::int16_t(d.Top)) << f;
        EXPECT_EQ(engine_.Frames[std::size_t(k)].FrameWidth, std::int16_t(d.Width)) << f;
        EXPECT_EQ(engine_.Frames[std::size_t(k)].FrameHeight, std::int16_t(d.Height)) << f;
        EXPECT_EQ(engine_.Frames[std::size_t(k)].FramePicture.Width(), d.Width) << f;
        int gces = 0;
        for (int e = 0; e < g->SavedImages[k].ExtensionBlockCount; ++e)
          gces += g->SavedImages[k].ExtensionBlocks[e].Function == GRAPHICS_EXT_FUNC_CODE;
        GraphicsControlBlock gcb;
        if (gces == 1 && !info.empty()) {
          const auto& im = info[std::size_t(k)];
          EXPECT_EQ(engine_.Frames[std::size_t(k)].DisposalMethod, im.disposal) << f << " #" << k;
          EXPECT_EQ(engine_.Frames[std::size_t(k)].DelayTime, im.delay) << f << " #" << k;
          EXPECT_EQ(engine_.Frames[std::size_t(k)].TransparentFlag != 0, im.transparent >= 0) << f;
        }
        if (gces == 1 && DGifSavedExtensionToGCB(g, k, &gcb) == GIF_OK) {
          EXPECT_EQ(engine_.Frames[std::size_t(k)].DelayTime, std::int16_t(gcb.DelayTime)) << f;
          EXPECT_EQ(engine_.Frames[std::size_t(k)].DisposalMethod, gcb.DisposalMode) << f;
          EXPECT_EQ(engine_.Frames[std::size_t(k)].TransparentFlag != 0, gcb.TransparentColor >= 0)
              << f;
          if (gcb.TransparentColor >= 0) {
            EXPECT_EQ(engine_.Frames[std::size_t(k)].TransparentIndex, gcb.TransparentColor) << f;
          }
        }
      }
    }
    DGifCloseFile(g, &err);
  }
  EXPECT_GT(compared, 100);
#ifndef _WIN32
  EXPECT_GT(checkedWithGifsicle, 100);
#endif
  EXPECT_GT(refused, 5);
}

TEST_F(Engine, EveryRefusalSaysWhyAndWhere) {
  const Bytes h = Header(1, 1, 0);  // 13 bytes, no global table
  const Bytes image = Image(0, 0, 1, 1, 0, 1);
  Bytes cutData = Cat({h, image});
  cutData.resize(cutData.size() - 2);  // the data's last sub-block runs past the end
  const Bytes noPixels = Cat({h, image, Image(0, 0, 0, 4, 0, 0), {0x3B}});
  struct Case {
    Bytes gif;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {Bytes{'G', 'I'}, "truncated in the header (byte 2 of 2)"},
      {Bytes{'P', 'N', 'G', 0x0D, 0x0A}, "bad signature (not a GIF file) (byte 0 of 5)"},
      {Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1}, "truncated in the header (byte 9 of 9)"},
      {Cat({Header(1, 1, 0x82), Bytes(10, 7)}), "truncated in the colour table (byte 13 of 23)"},
      {Cat({h, {0x21, 0xFE, 5, 'a'}}), "truncated in an extension block (byte 13 of 17, frame 1)"},
      {Cat({h, image, Gce(0, 0, 0), {0x21, 0xFF, 11}}),
       "truncated in an extension block (byte " + std::to_string(13 + image.size() + 8) + " of " +
           std::to_string(13 + image.size() + 11) + ", frame 2)"},
      {Cat({h, {0x2C, 0, 0, 0, 0, 1}}),
       "truncated in the image descriptor (byte 13 of 19, frame 1)"},
      {Cat({h, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81, 1, 2, 3}}),
       "truncated in the local colour table (byte 23 of 26, frame 1)"},
      {cutData,
       "truncated in the image data (byte 23 of " + std::to_string(cutData.size()) + ", frame 1)"},
      {Cat({h, image}), "ends after an image without the trailer (byte " +
                            std::to_string(13 + image.size()) + " of " +
                            std::to_string(13 + image.size()) + ", frame 1)"},
      {Cat({h, {0x3B}}), "holds no image (byte 13 of 14, frame 1)"},
      {noPixels, "a frame has no pixels (byte " + std::to_string(13 + image.size()) + " of " +
                     std::to_string(noPixels.size()) + ", frame 2)"},
      {Bytes{}, "the file is empty"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BreakOut(c.gif), -1);
    EXPECT_EQ(DescribeFailure(engine_.LastFailure()), c.expected);
    EXPECT_TRUE(frameFiles_.empty());
  }
  engine_.Options.DecoderPath = files_.File("missing.gif");
  engine_.fGifBreakOutFrames();
  EXPECT_EQ(DescribeFailure(engine_.LastFailure()),
            "cannot read the file: No such file or directory");
  // A file that splits leaves no reason behind.
  EXPECT_EQ(BreakOut(Cat({h, image, {0x3B}})), 0);
  EXPECT_EQ(engine_.LastFailure().reason, BreakOutReason::None);
}

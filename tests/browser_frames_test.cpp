// The browser composition's own decoding and canvas, without a browser: the
// LZW codes giflib writes come back as giflib reads them, and the canvas
// rules hold on cases small enough to work out by hand. (tests/browser/
// compares whole files with Chromium itself.)
#include "engine/browser_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <system_error>

#include "engine/frame_threads.h"
#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/picture/lzw.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

namespace {

// The one image of `bytes` (written by gifgen with a global table and no
// control): its minimum code size and its data, the sub-blocks joined.
std::vector<std::uint8_t> ImageData(const std::vector<std::uint8_t>& bytes, int& minCodeSize) {
  std::size_t p = 13 + (bytes[10] & 0x80 ? std::size_t(3) << ((bytes[10] & 7) + 1) : 0);
  while (bytes[p] != 0x2C) p += 1;  // past any extension gifgen wrote
  p += 10;
  minCodeSize = bytes[p++];
  std::vector<std::uint8_t> data;
  for (; bytes[p] != 0; p += bytes[p] + 1u) {
    data.insert(data.end(), bytes.begin() + std::ptrdiff_t(p) + 1,
                bytes.begin() + std::ptrdiff_t(p) + 1 + bytes[p]);
  }
  return data;
}

std::vector<std::uint8_t> Encoded(int w, int h, int colours, const std::vector<std::uint8_t>& px,
                                  int& minCodeSize) {
  gifgen::Animation a;
  a.width = w;
  a.height = h;
  a.globalTable = gifgen::RainbowTable();
  a.globalTable.resize(std::size_t(colours));
  gifgen::Frame f;
  f.width = w;
  f.height = h;
  f.indices = px;
  f.control = false;
  a.frames.push_back(f);
  return ImageData(gifgen::Encode(a), minCodeSize);
}

}  // namespace

TEST(BrowserLzw, GivesBackWhatGiflibEncodedAtEveryCodeSize) {
  std::mt19937 random(7);
  // Noise fills the code table (a clear, or codes of 12 bits at the full
  // table); runs make long strings and the code that names the entry being
  // made.
  for (int colours : {2, 4, 16, 256}) {
    for (int kind = 0; kind < 2; ++kind) {
      const int w = 211, h = 97;
      std::vector<std::uint8_t> px(std::size_t(w) * h);
      for (auto& v : px) {
        v = kind == 0 ? std::uint8_t(random() % unsigned(colours))
                      : std::uint8_t((&v - px.data()) / 37 % colours);
      }
      int m = 0;
      const auto data = Encoded(w, h, colours, px, m);
      std::vector<std::uint8_t> out(px.size(), 0xEE);
      ASSERT_TRUE(lzw::Decode(m, data.data(), data.size(), out.data(), out.size()))
          << colours << " colours, kind " << kind;
      EXPECT_EQ(out, px) << colours << " colours, kind " << kind;
      // Checking alone agrees; a smaller image takes the first pixels only.
      EXPECT_TRUE(lzw::Decode(m, data.data(), data.size(), nullptr, px.size()));
      std::vector<std::uint8_t> part(1000);
      ASSERT_TRUE(lzw::Decode(m, data.data(), data.size(), part.data(), part.size()));
      EXPECT_TRUE(std::equal(part.begin(), part.end(), px.begin()));
      // Fewer pixels than the image holds, cut data, or one more pixel asked
      // for than the codes give: not an image a decoder can finish.
      EXPECT_FALSE(lzw::Decode(m, data.data(), data.size() / 2, nullptr, px.size()));
      EXPECT_FALSE(lzw::Decode(m, data.data(), data.size(), nullptr, px.size() + 1));
    }
  }
}

TEST(BrowserLzw, RefusesCodesThatNameNoEntryAndBadCodeSizes) {
  // Code size 2: clear 4, end 5, first free 6; codes of 3 bits, low bits first.
  auto pack = [](std::initializer_list<int> codes) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (int c : codes) {
      acc |= std::uint32_t(c) << bits;
      bits += 3;
      while (bits >= 8) {
        out.push_back(std::uint8_t(acc));
        acc >>= 8;
        bits -= 8;
      }
    }
    if (bits > 0) out.push_back(std::uint8_t(acc));
    return out;
  };
  std::vector<std::uint8_t> out(4);
  // 1, then 6 (the entry being made: "1 1"), then 0: 1 1 1 0.
  auto ok = pack({4, 1, 6, 0, 5});
  ASSERT_TRUE(lzw::Decode(2, ok.data(), ok.size(), out.data(), 4));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 1, 1, 0}));
  auto ahead = pack({4, 1, 7, 0, 5});  // 7 is not made yet
  EXPECT_FALSE(lzw::Decode(2, ahead.data(), ahead.size(), out.data(), 4));
  auto first = pack({4, 6, 0, 5});  // after a clear, a byte must come first
  EXPECT_FALSE(lzw::Decode(2, first.data(), first.size(), out.data(), 1));
  EXPECT_FALSE(lzw::Decode(0, ok.data(), ok.size(), out.data(), 4));
  EXPECT_FALSE(lzw::Decode(9, ok.data(), ok.size(), out.data(), 4));
  // No end code: the pixels are all there, and that is enough.
  auto open = pack({4, 1, 6, 0});
  EXPECT_TRUE(lzw::Decode(2, open.data(), open.size(), out.data(), 4));
}

TEST(BrowserCanvas, InterlacedRowsAreEachRowOnceInTheirPasses) {
  for (int h = 1; h <= 20; ++h) {
    std::vector<int> rows;
    for (int r = 0; r < h; ++r) rows.push_back(browser::InterlacedRow(r, h));
    std::vector<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> all(std::size_t(h), 0);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(sorted, all) << h;
    // Pass 1 holds rows 0, 8, ...; the last pass the odd rows.
    EXPECT_EQ(rows[0], 0);
    if (h > 1) {
      EXPECT_EQ(rows.back() % 2, 1) << h;
    }
  }
}

TEST(BrowserCanvas, DisposalTransparencyAndTheTablesEdge) {
  // Two colours: 0 red, 1 green; index 2 and up lie past the table.
  const std::uint8_t table[] = {255, 0, 0, 0, 255, 0};
  auto pixel = [](const browser::Canvas& c, int x, int y) {
    const std::uint8_t* p = c.Rgba().data() + (std::size_t(y) * std::size_t(c.Width()) + x) * 4;
    return std::array<int, 4>{p[0], p[1], p[2], p[3]};
  };
  const std::array<int, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255}, black{0, 0, 0, 255},
      clear{0, 0, 0, 0};
  browser::Canvas c(4, 2);
  browser::Image a;
  a.width = 4;
  a.height = 2;
  a.disposal = 3;  // put back what lay under it: nothing
  const std::uint8_t reds[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  c.Draw(a, reds, table, 2);
  EXPECT_EQ(pixel(c, 3, 1), red);
  browser::Image b;
  b.left = 2;
  b.width = 4;  // runs past the canvas: clipped
  b.height = 1;
  b.disposal = 2;
  b.transparent = true;
  b.transparentIndex = 7;  // past the table, still transparent
  const std::uint8_t bs[4] = {1, 7, 5, 5};
  c.Draw(b, bs, table, 2);
  EXPECT_EQ(pixel(c, 0, 0), clear);  // frame 1 was put back to nothing
  EXPECT_EQ(pixel(c, 2, 0), green);
  EXPECT_EQ(pixel(c, 3, 0), clear);  // transparent over nothing
  browser::Image d;
  d.width = 1;
  d.height = 1;
  const std::uint8_t ds[1] = {3};  // past the table: opaque black
  c.Draw(d, ds, table, 2);
  EXPECT_EQ(pixel(c, 2, 0), clear);  // frame 2's rectangle cleared
  EXPECT_EQ(pixel(c, 0, 0), black);
  browser::Image empty;  // no pixels: frame 3 as it stands
  c.Draw(empty, nullptr, table, 2);
  EXPECT_EQ(pixel(c, 0, 0), black);
}

TEST(BrowserRun, TheMemoryARunHoldsIsAskedForBeforeAnyFrameIsDecoded) {
  // Frame 2's data names no entry: checking it fails the break-out, so a
  // gate asked only after the check would never be asked here.
  using namespace testutil;
  TempDir dir;
  const Bytes two = Image(1, 0, 2, 2, 0x00, 2);
  Bytes bad(two.begin(), two.begin() + 10);
  bad.insert(bad.end(), {0x02, 0x01, 0x07, 0x00});
  WriteFile(dir.File("a.gif"), Cat({Header(4, 2, 0x81),
                                    Table({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0, 0, 0}}),
                                    Image(0, 0, 4, 2, 0x00, 1),
                                    bad,
                                    {0x3B}}));
  platform::PictureBox box(MasterBoxOptions());
  clsGif24bit engine(box);
  engine.Options.DecoderPath = dir.File("a.gif");
  engine.Options.Compose = clsGif24bit::Composition::Browser;
  std::vector<std::int64_t> asked;
  engine.Options.PixelGate = [&](std::int64_t bytes) {
    asked.push_back(bytes);
    return std::shared_ptr<void>();
  };
  engine.fGifBreakOutFrames();
  EXPECT_EQ(engine.LastFailure().reason, BreakOutReason::FrameUndecodable);
  EXPECT_EQ(engine.LastFailure().frame, 2);
  ASSERT_EQ(asked.size(), 1u);
  // At least the 4 x 2 canvas and what disposal 3 keeps of it.
  EXPECT_GE(asked[0], 2 * 4 * 8);
}

TEST(BrowserRun, FramesComeInOrderOnAnyThreadsAndTheFirstUndecodableEndsThePlay) {
  // Twelve frames, each a 2 x 2 patch at its own place on a 6 x 4 screen,
  // kept (disposal 1): every canvas differs from the one before.
  using namespace testutil;
  TempDir dir;
  Bytes body, badBody;
  for (int k = 0; k < 12; ++k) {
    Bytes frame = Image(k % 3 * 2, k / 3 % 2 * 2, 2, 2, 0x00, std::uint8_t(1 + (k + k / 6) % 3));
    body = Cat({body, Gce(0x04, 0, 0), frame});
    // Frame 8's data names no entry: its code size byte (after the
    // descriptor) says 12.
    if (k == 7) frame[10] = 12;
    badBody = Cat({badBody, Gce(0x04, 0, 0), frame});
  }
  const Bytes table = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
  WriteFile(dir.File("a.gif"), Cat({Header(6, 4, 0x81), table, body, {0x3B}}));
  WriteFile(dir.File("bad.gif"), Cat({Header(6, 4, 0x81), table, badBody, {0x3B}}));

  struct Taken {
    std::vector<std::int64_t> numbers;
    std::vector<std::vector<std::uint8_t>> canvases;
    RunResult result;
    BreakOutReason breakOut = BreakOutReason::None;
  };
  auto run = [&](const std::string& file, bool ownThreads, unsigned threads, bool check) {
    RunOptions options;
    options.DecoderPath = dir.File(file);
    options.Compose = clsGif24bit::Composition::Browser;
    options.Split = true;
    options.ExportAs = FrameFiles::Png;
    options.OwnThreads = ownThreads;
    options.DecodeThreads = threads;
    options.CheckFrames = check;
    Taken taken;
    options.TakeCanvas = [&](std::int64_t n, const std::uint8_t* rgba, int w, int h) {
      taken.numbers.push_back(n);
      taken.canvases.emplace_back(rgba, rgba + std::size_t(w) * std::size_t(h) * 4);
      return std::string();
    };
    HeadlessRun headless(options);
    if (BreakOutRun(headless.Engine())) {
      taken.result = PlayRun(headless.Engine(), nullptr);
    }
    taken.breakOut = headless.Engine().LastFailure().reason;
    return taken;
  };
  std::vector<std::int64_t> all(12);
  std::iota(all.begin(), all.end(), 1);
  const Taken alone = run("a.gif", false, 0, true);
  ASSERT_EQ(alone.numbers, all);
  for (std::size_t k = 1; k < alone.canvases.size(); ++k) {
    EXPECT_NE(alone.canvases[k], alone.canvases[k - 1]) << k;
  }
  // Decoded ahead on one thread, on three, or where no thread would start:
  // the same canvases in the same order.
  for (const int allowed : {0, 1, 100}) {
    for (const unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(testing::Message() << allowed << " threads start, " << threads << " asked");
      int started = 0;
      SetThreadStartHook([&] {
        if (started++ >= allowed) {
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
      });
      const Taken ahead = run("a.gif", true, threads, false);
      SetThreadStartHook({});
      EXPECT_EQ(ahead.numbers, all);
      EXPECT_EQ(ahead.canvases, alone.canvases);
      EXPECT_EQ(ahead.result.framesWritten, 12);
    }
  }
  // Checked first, the file is refused; taken as they come, frames 1 to 7
  // come and the play says why it stopped at 8.
  EXPECT_EQ(run("bad.gif", true, 2, true).breakOut, BreakOutReason::FrameUndecodable);
  const Taken bad8 = run("bad.gif", true, 2, false);
  EXPECT_EQ(bad8.breakOut, BreakOutReason::None);
  EXPECT_EQ(bad8.numbers, std::vector<std::int64_t>(all.begin(), all.begin() + 7));
  EXPECT_TRUE(std::equal(bad8.canvases.begin(), bad8.canvases.end(), alone.canvases.begin()));
  EXPECT_EQ(bad8.result.playFailure.reason, BreakOutReason::FrameUndecodable);
  EXPECT_EQ(bad8.result.playFailure.frame, 8);
  ASSERT_EQ(bad8.result.failed.size(), 5u);
  EXPECT_EQ(bad8.result.failed.front().n, 8);
}

#include "encoder/gif_encoder.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;

namespace {

Bytes Encode(const std::vector<std::uint8_t>& pixels, int w, int h) {
  GIF g;
  return g.EncodeImageData(pixels.data(), w, h, std::size_t(w));
}

// The 9-bit codes of an image-data stream.
std::vector<int> Codes(const Bytes& data) {
  Bytes packed;
  std::size_t i = 0;
  while (i < data.size() && data[i] != 0) {
    packed.insert(packed.end(), data.begin() + std::ptrdiff_t(i + 1),
                  data.begin() + std::ptrdiff_t(i + 1 + data[i]));
    i += data[i] + 1u;
  }
  std::vector<int> codes;
  for (std::size_t bit = 0; bit + 9 <= packed.size() * 8; bit += 9) {
    int c = 0;
    for (int b = 0; b < 9; ++b)
      if (packed[(bit + b) / 8] & (1 << ((bit + b) % 8))) c |= 1 << b;
    codes.push_back(c);
    if (c == GIF::kEndCode) break;
  }
  return codes;
}

platform::Picture Rgb32(int w, int h, const std::function<std::uint32_t(int, int)>& f) {
  auto b = *gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Row32(y)[x] = f(x, y);
  return platform::Picture(std::move(b));
}

// Level index of a channel value: nearest of 0, 64, 128, 192, 255, ties low.
int Level(int v) {
  const int lv[5] = {0, 64, 128, 192, 255};
  int best = 0;
  for (int i = 1; i < 5; ++i)
    if (std::abs(v - lv[i]) < std::abs(v - lv[best])) best = i;
  return best;
}
int Expected125(std::uint32_t word) {
  return 25 * Level(int(word & 0xFF)) + 5 * Level(int((word >> 8) & 0xFF)) +
         Level(int((word >> 16) & 0xFF));
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::vector<GifColorType> colours;
  int transparent = -1;
  bool ok = false;
};

Decoded Giflib(const std::string& path) {
  Decoded d;
  int err = 0;
  GifFileType* g = DGifOpenFileName(path.c_str(), &err);
  if (!g) return d;
  if (DGifSlurp(g) == GIF_OK && g->ImageCount == 1 && g->SColorMap) {
    d.ok = true;
    d.width = g->SavedImages[0].ImageDesc.Width;
    d.height = g->SavedImages[0].ImageDesc.Height;
    d.indices.assign(g->SavedImages[0].RasterBits,
                     g->SavedImages[0].RasterBits + std::size_t(d.width) * std::size_t(d.height));
    d.colours.assign(g->SColorMap->Colors, g->SColorMap->Colors + g->SColorMap->ColorCount);
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(g, 0, &gcb) == GIF_OK) d.transparent = gcb.TransparentColor;
  }
  DGifCloseFile(g, &err);
  return d;
}

}  // namespace

TEST(Lzw, KnownStreams) {
  EXPECT_EQ(Encode({5, 5}, 2, 1), (Bytes{0x05, 0x00, 0x0B, 0x14, 0x08, 0x08, 0x00}));
  EXPECT_EQ(Encode({1, 2, 1, 2, 1, 2}, 6, 1),
            (Bytes{0x07, 0x00, 0x03, 0x08, 0x10, 0x28, 0x30, 0x20, 0x00}));
  EXPECT_EQ(Encode({}, 4, 0), (Bytes{0x02, 0x01, 0x01, 0x00}));
  EXPECT_EQ(Codes(Encode({1, 2, 1, 2, 1, 2}, 6, 1)), (std::vector<int>{256, 1, 2, 258, 258, 257}));
  // One pixel wide: a clear and the pixel per row, no entries.
  EXPECT_EQ(Codes(Encode({7, 7, 9}, 1, 3)), (std::vector<int>{256, 7, 256, 7, 256, 9, 257}));
}

TEST(Lzw, FullTableResetsInTheMiddleOfARow) {
  // 0, 1, ..., 255: an absence at every pixel from the second on. Then 254,
  // 255 again shows that the pair (254, 255) went in as 258 after the reset.
  std::vector<std::uint8_t> row;
  for (int i = 0; i < 256; ++i) row.push_back(std::uint8_t(i));
  row.insert(row.end(), {254, 255, 7});
  const auto codes = Codes(Encode(row, int(row.size()), 1));
  ASSERT_EQ(codes.size(), 261u);
  EXPECT_EQ(codes[0], 256);
  EXPECT_EQ(codes[253], 252);
  EXPECT_EQ(codes[254], 253);  // pending code at the 255th pixel, table full...
  EXPECT_EQ(codes[255], 256);  // ...so a clear instead of a new entry
  EXPECT_EQ(codes[256], 254);  // the 256th pixel; (254, 255) becomes 258
  EXPECT_EQ(codes[257], 255);
  EXPECT_EQ(codes[258], 258);
  EXPECT_EQ(codes[259], 7);
  EXPECT_EQ(codes[260], 257);
}

TEST(Lzw, NoCodeAbove510AndEveryRowStartsWithAClear) {
  std::mt19937 rng(7);
  const int w = 3000, h = 13;
  std::vector<std::uint8_t> px(std::size_t(w) * h);
  for (auto& p : px) p = std::uint8_t(rng() % 3);  // long repeats fill the table fast
  const auto codes = Codes(Encode(px, w, h));
  int clears = 0;
  for (int c : codes) {
    EXPECT_LE(c, 510);
    clears += c == 256;
  }
  EXPECT_GT(clears, h);
}

TEST(Lzw, SubBlocksAreFullButTheLast) {
  std::vector<std::uint8_t> px(5000);
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = std::uint8_t(i * 7);
  const Bytes data = Encode(px, 1000, 5);
  std::size_t i = 0;
  std::vector<int> counts;
  while (data[i] != 0) {
    counts.push_back(data[i]);
    i += data[i] + 1u;
  }
  EXPECT_EQ(i, data.size() - 1);
  for (std::size_t k = 0; k + 1 < counts.size(); ++k) EXPECT_EQ(counts[k], 255);
  EXPECT_GT(counts.back(), 0);
}

TEST(Progress, AfterEveryTenthRowRoundedHalfToEven) {
  GIF g;
  std::vector<int> seen;
  int yields = 0;
  g.Progress = [&](std::int16_t p) { seen.push_back(p); };
  const sys::ScopedYieldHook yield([&] { ++yields; });
  std::vector<std::uint8_t> px(25 * 3, 1);
  g.EncodeImageData(px.data(), 3, 25, 3);
  EXPECT_EQ(seen, (std::vector<int>{40, 80}));
  EXPECT_EQ(yields, 2);
  seen.clear();
  g.EncodeImageData(px.data(), 3, 9, 3);
  EXPECT_TRUE(seen.empty());
  // 10 * 100 / 16 = 62.5 rounds half to even: 62.
  std::vector<std::uint8_t> px16(16 * 3, 1);
  g.EncodeImageData(px16.data(), 3, 16, 3);
  EXPECT_EQ(seen, (std::vector<int>{62}));
}

TEST(SaveGIF, LayoutWithAndWithoutTransparency) {
  TempDir dir;
  auto pic = Rgb32(3, 2, [](int x, int) { return x == 0 ? 0xFFFFFFu : 0xFF0000u; });
  GIF g;
  const std::int16_t on = -1, one = 1;
  ASSERT_EQ(g.SaveGIF(pic, dir.File("t.gif"), nullptr, on, gdi::RGB(255, 255, 255)), -1);
  Bytes t = ReadFile(dir.File("t.gif"));
  EXPECT_EQ(std::string(t.begin(), t.begin() + 6), "GIF89a");
  EXPECT_EQ((Bytes{t[6], t[7], t[8], t[9], t[10], t[11], t[12]}), (Bytes{3, 0, 2, 0, 0xF7, 0, 0}));
  EXPECT_EQ((Bytes(t.begin() + 781, t.begin() + 789)),
            (Bytes{0x21, 0xF9, 0x04, 0x09, 0x00, 0x00, 124, 0x00}));
  EXPECT_EQ((Bytes(t.begin() + 789, t.begin() + 800)),
            (Bytes{0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x07, 8}));
  EXPECT_EQ(t.back(), 0x3B);
  // Red is entry 4 (255, 0, 0), white entry 124.
  EXPECT_EQ((Bytes(t.begin() + 13 + 12, t.begin() + 13 + 15)), (Bytes{255, 0, 0}));

  GIF g2;
  ASSERT_EQ(g2.SaveGIF(pic, dir.File("u.gif"), nullptr, one, gdi::RGB(255, 255, 255)), -1);
  Bytes u = ReadFile(dir.File("u.gif"));
  EXPECT_EQ(std::string(u.begin(), u.begin() + 6), "GIF87a");
  EXPECT_EQ(u[781], 0x2C);
  EXPECT_EQ(Bytes(u.begin() + 792, u.end()), Bytes(t.begin() + 800, t.end()));

  // Black: entry 0 although 125..255 are black too; an unmatched colour: 0.
  for (gdi::COLORREF c : {gdi::RGB(0, 0, 0), gdi::RGB(1, 2, 3)}) {
    GIF g3;
    ASSERT_EQ(g3.SaveGIF(pic, dir.File("v.gif"), nullptr, on, c), -1);
    EXPECT_EQ(ReadFile(dir.File("v.gif"))[787], 0);
  }
}

TEST(SaveGIF, EightBitPicturesKeepTheirIndicesAndColours) {
  TempDir dir;
  std::vector<gdi::RGBQUAD> pal(256);
  for (int i = 0; i < 256; ++i)
    pal[std::size_t(i)] = {std::uint8_t(i), 3, std::uint8_t(255 - i), 0};
  pal[9] = pal[4];  // duplicate colours keep their own index
  auto b = *gdi::Bitmap::Create(5, 3, gdi::Format::Indexed8, pal);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) b.Set(x, y, std::uint32_t(x == 2 ? 9 : x * 50 + y));
  platform::Picture pic(std::move(b));
  GIF g;
  ASSERT_EQ(g.SaveGIF(pic, dir.File("p.gif"), nullptr, 0, 0), -1);
  const Decoded d = Giflib(dir.File("p.gif"));
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(d.indices[std::size_t(y * 5 + x)], pic.Handle()->Get(x, y));
  EXPECT_EQ(d.colours[9].Red, 255 - 4);
  EXPECT_EQ(d.colours[200].Blue, 200);
}

TEST(SaveGIF, RoundTripThroughGiflibAndImageMagick) {
  TempDir dir;
  std::mt19937 rng(11);
  struct Case {
    int w, h;
    bool photo;
  };
  for (const Case c :
       {Case{1, 1, false}, Case{257, 31, false}, Case{640, 480, true}, Case{1920, 1080, true}}) {
    auto pic = Rgb32(c.w, c.h, [&](int x, int y) -> std::uint32_t {
      if (!c.photo) return rng() & 0xFFFFFF;
      // Smooth gradients with a little noise, like a photograph.
      const int r = (x * 255 / c.w + int(rng() % 9)) & 0xFF;
      const int g = (y * 255 / c.h + int(rng() % 9)) & 0xFF;
      const int b = ((x + y) * 127 / (c.w + c.h) + 64) & 0xFF;
      return std::uint32_t(r << 16 | g << 8 | b);
    });
    pic.Handle()->Set(0, 0, 0x1F2021);  // (31, 32, 33): levels r 0, g 0 (a tie: lower), b 1
    const std::string path = dir.File("rt.gif");
    GIF g;
    ASSERT_EQ(g.SaveGIF(pic, path, nullptr, 0, 0), -1);
    const Decoded d = Giflib(path);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width, c.w);
    EXPECT_EQ(d.indices[0], 25 * 1 + 5 * 0 + 0);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_EQ(d.indices[std::size_t(y * c.w + x)], Expected125(pic.Handle()->Row32(y)[x]))
            << x << "," << y;

#ifdef _WIN32
    continue;  // ImageMagick is a program of the Linux machine
#endif
    if (!std::filesystem::exists("/usr/bin/convert")) continue;  // ImageMagick is optional
    const std::string rgb = dir.File("rt.rgb");
    const std::string cmd = "/usr/bin/convert '" + path + "' rgb:'" + rgb + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const Bytes px = ReadFile(rgb);
    ASSERT_EQ(px.size(), std::size_t(c.w) * std::size_t(c.h) * 3);
    for (std::size_t i = 0; i < std::size_t(c.w) * std::size_t(c.h); ++i) {
      const GifColorType col = d.colours[d.indices[i]];
      ASSERT_EQ((Bytes{px[3 * i], px[3 * i + 1], px[3 * i + 2]}),
                (Bytes{col.Red, col.Green, col.Blue}))
          << i;
    }
  }
}

TEST(SaveGIF, ReplacesFilesAndRefusesFoldersBeforeEncoding) {
  TempDir dir;
  auto pic = Rgb32(2, 2, [](int, int) { return 0u; });
  const std::string f = dir.File("old.gif");
  WriteFile(f, Bytes(10000, 0x55));
  GIF g;
  ASSERT_EQ(g.SaveGIF(pic, f, nullptr, 0, 0), -1);
  EXPECT_LT(ReadFile(f).size(), 900u);
  EXPECT_EQ(ReadFile(f).back(), 0x3B);

  std::filesystem::create_directory(dir.File("folder.gif"));
  GIF h;
  EXPECT_EQ(h.SaveGIF(pic, dir.File("folder.gif"), nullptr, 0, 0), 0);
  EXPECT_EQ(h.LastError(), GIF::Error::CannotDelete);
  // The object stays busy after a failure before encoding.
  EXPECT_EQ(h.SaveGIF(pic, dir.File("other.gif"), nullptr, 0, 0), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("other.gif")));

  GIF k;
  EXPECT_EQ(k.SaveGIF(platform::Picture(), dir.File("none.gif"), nullptr, 0, 0), 0);
  EXPECT_EQ(k.LastError(), GIF::Error::NoPicture);
  GIF m;
  EXPECT_EQ(m.SaveGIF(pic, dir.File("no/such/dir.gif"), nullptr, 0, 0), 0);
  EXPECT_EQ(m.LastError(), GIF::Error::CannotOpen);
}

TEST(SaveGIF, ANestedSaveOnTheSameObjectIsRefusedAndTheFirstCompletes) {
  TempDir dir;
  auto pic = Rgb32(4, 30, [](int x, int y) { return std::uint32_t(x * 60 + y * 5000); });
  GIF g;
  std::vector<int> nested;
  {
    const sys::ScopedYieldHook nest(
        [&] { nested.push_back(g.SaveGIF(pic, dir.File("n.gif"), nullptr, 0, 0)); });
    ASSERT_EQ(g.SaveGIF(pic, dir.File("a.gif"), nullptr, 0, 0), -1);
  }
  EXPECT_EQ(nested, (std::vector<int>{0, 0, 0}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("n.gif")));
  EXPECT_EQ(g.LastError(), GIF::Error::None);
  EXPECT_TRUE(Giflib(dir.File("a.gif")).ok);
  EXPECT_FALSE(g.Busy());
}

TEST(SaveGIF, CapturedPictureIsWrittenOnceOnAnotherThreadWithoutYields) {
  // The export captures a frame, then lets a writer thread encode it while
  // the picture takes the next frame: the file is the one SaveGIF writes.
  TempDir dir;
  auto pic = Rgb32(37, 41, [](int x, int y) { return std::uint32_t(x * 0x050301 + y * 0x010507); });
  GIF whole;
  ASSERT_EQ(whole.SaveGIF(pic, dir.File("whole.gif"), nullptr, -1, gdi::RGB(0, 0, 0)), -1);

  auto g = std::make_shared<GIF>();
  int yields = 0, progress = 0;
  const sys::ScopedYieldHook yield([&] { ++yields; });
  g->Progress = [&](std::int16_t) { ++progress; };
  ASSERT_TRUE(g->Capture(pic, nullptr, -1, gdi::RGB(0, 0, 0)));
  EXPECT_TRUE(g->Busy());
  pic.Handle()->Set(0, 0, 0xFFFFFF);  // drawn over after the capture
  g->Yields = false;
  std::int16_t written = 0;
  std::thread([&] { written = g->WriteCaptured(dir.File("split.gif")); }).join();
  EXPECT_EQ(written, -1);
  EXPECT_EQ(yields, 0);
  EXPECT_EQ(progress, 0);
  EXPECT_FALSE(g->Busy());
  EXPECT_EQ(ReadFile(dir.File("split.gif")), ReadFile(dir.File("whole.gif")));
  // What was captured is written once.
  EXPECT_EQ(g->WriteCaptured(dir.File("again.gif")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("again.gif")));
}

TEST(SaveGIF, UsesTheGivenContextAndSizeLimits) {
  TempDir dir;
  auto pic = Rgb32(2, 1, [](int x, int) { return x ? 0x0000FFu : 0x00FF00u; });
  auto dc = gdi::CreateCompatibleDC(nullptr);
  gdi::SelectObject(*dc, pic.Handle());
  GIF g;
  ASSERT_EQ(g.SaveGIF(pic, dir.File("c.gif"), dc.get(), 0, 0), -1);
  const Decoded d = Giflib(dir.File("c.gif"));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.indices, (std::vector<std::uint8_t>{20, 100}));
  EXPECT_EQ(GIF::PixelKey(5), "005");
  EXPECT_EQ(GIF::PixelKey(255), "255");
}

TEST(SaveGIF, CaptureEqualsTheBlitIntoTheSectionForEveryChannelValue) {
  // Every value of every channel, the ties between two levels included, in
  // many combinations; and a context whose picture is smaller than the one
  // saved, which goes through the blit itself.
  TempDir dir;
  auto pic = Rgb32(256, 256, [](int x, int y) {
    return std::uint32_t(x << 16 | y << 8 | ((x * 7 + y * 13) & 0xFF));
  });
  GIF g;
  ASSERT_EQ(g.SaveGIF(pic, dir.File("all.gif"), nullptr, 0, 0), -1);
  const Decoded d = Giflib(dir.File("all.gif"));
  ASSERT_TRUE(d.ok);

  auto screen = gdi::GetDC();
  auto srcDC = gdi::CreateCompatibleDC(screen.get()), dstDC = gdi::CreateCompatibleDC(screen.get());
  gdi::SelectObject(*srcDC, pic.Handle());
  gdi::BITMAPINFO info;
  auto section = g.Create8BitDIB(*dstDC, info);
  ASSERT_TRUE(section);
  gdi::SelectObject(*dstDC, &*section);
  ASSERT_TRUE(gdi::BitBlt(*dstDC, 0, 0, 256, 256, *srcDC, 0, 0, gdi::SRCCOPY));
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      ASSERT_EQ(d.indices[std::size_t(y * 256 + x)], section->Get(x, y)) << x << "," << y;

  auto small = Rgb32(100, 100, [](int x, int y) { return std::uint32_t(x * 2 << 16 | y); });
  gdi::SelectObject(*srcDC, small.Handle());
  ASSERT_EQ(g.SaveGIF(pic, dir.File("small.gif"), srcDC.get(), 0, 0), -1);
  const Decoded s = Giflib(dir.File("small.gif"));
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.indices[0], Expected125(small.Handle()->Row32(0)[0]));
  EXPECT_EQ(s.indices[99 * 256 + 99], Expected125(small.Handle()->Row32(99)[99]));
  gdi::SelectObject(*srcDC, nullptr);
  gdi::SelectObject(*dstDC, nullptr);
}

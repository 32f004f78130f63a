#include "platform/picture/picture.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;
using platform::LoadPicture;
using platform::LoadPictureFromMemory;

namespace {

std::optional<platform::Picture> Load(const Bytes& b) {
  return LoadPictureFromMemory(b.data(), b.size());
}

const Bytes kTable4 = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});

// Writes a Windows bitmap of `bpp` bits with colour index / colour of f(x, y).
Bytes MakeBmp(int bpp, int w, int h, bool topDown, const std::vector<gdi::RGBQUAD>& pal,
              const std::function<std::uint32_t(int, int)>& f) {
  const int stride = (w * bpp + 31) / 32 * 4;
  const int off = 54 + int(pal.size()) * 4;
  Bytes b{'B', 'M'};
  auto p32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
  };
  auto p16 = [&](std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  };
  p32(std::uint32_t(off + stride * h));
  p32(0);
  p32(std::uint32_t(off));
  p32(40);
  p32(std::uint32_t(w));
  p32(std::uint32_t(topDown ? -h : h));
  p16(1);
  p16(std::uint32_t(bpp));
  p32(0);
  p32(std::uint32_t(stride * h));
  p32(0);
  p32(0);
  p32(std::uint32_t(pal.size()));
  p32(0);
  for (auto q : pal) {
    b.push_back(q.rgbBlue);
    b.push_back(q.rgbGreen);
    b.push_back(q.rgbRed);
    b.push_back(0);
  }
  for (int row = 0; row < h; ++row) {
    const int y = topDown ? row : h - 1 - row;
    Bytes line(std::size_t(stride), 0);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = f(x, y);
      if (bpp < 8) {
        const int perByte = 8 / bpp;
        line[std::size_t(x / perByte)] |= std::uint8_t(v << (8 - bpp * (x % perByte + 1)));
      } else if (bpp == 8) {
        line[std::size_t(x)] = std::uint8_t(v);
      } else {
        const std::size_t at = std::size_t(x * bpp / 8);
        line[at] = std::uint8_t(v);  // blue
        line[at + 1] = std::uint8_t(v >> 8);
        line[at + 2] = std::uint8_t(v >> 16);
      }
    }
    b.insert(b.end(), line.begin(), line.end());
  }
  return b;
}

}  // namespace

TEST(GifLoader, FirstImageWithTableColoursTransparentIndexIncluded) {
  // Screen 4x2 with a 4-entry global table; a 2x1 image at (1, 1) of index 3
  // that is marked transparent: the loader applies no transparency.
  const Bytes gif = Cat({Header(4, 2, 0x81),
                         kTable4,
                         Gce(0x01, 0, 3),
                         Image(1, 1, 2, 1, 0, 3),
                         Image(0, 0, 1, 1, 0, 1),
                         {0x3B}});
  auto pic = Load(gif);
  ASSERT_TRUE(pic);
  EXPECT_EQ(pic->Width(), 2);
  EXPECT_EQ(pic->Height(), 1);
  EXPECT_EQ(pic->BitsPerPixel(), 8);
  EXPECT_EQ(pic->Handle()->Get(0, 0), 3u);
  EXPECT_EQ(pic->Handle()->ColorAt(1, 0), gdi::RGB(0, 0, 255));
}

TEST(GifLoader, LocalTableWinsAndTablePolicies) {
  const Bytes local = Table({{9, 9, 9}, {1, 2, 3}});
  auto withLocal =
      Load(Cat({Header(1, 1, 0x81), kTable4, Image(0, 0, 1, 1, 0x80, 1, local), {0x3B}}));
  ASSERT_TRUE(withLocal);
  EXPECT_EQ(withLocal->Handle()->ColorAt(0, 0), gdi::RGB(1, 2, 3));

  // No table at all: black, white, then black.
  auto none = Load(Cat({Header(3, 1, 0x00), Image(0, 0, 1, 1, 0, 1), {0x3B}}));
  ASSERT_TRUE(none);
  EXPECT_EQ(none->Handle()->ColorAt(0, 0), gdi::RGB(255, 255, 255));
  EXPECT_EQ(none->Handle()->Palette().size(), 256u);

  // An index beyond a 2-entry table shows black.
  auto beyond = Load(
      Cat({Header(1, 1, 0x80), Table({{5, 5, 5}, {6, 6, 6}}), Image(0, 0, 1, 1, 0, 3), {0x3B}}));
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->Handle()->Get(0, 0), 3u);
  EXPECT_EQ(beyond->Handle()->ColorAt(0, 0), 0u);
}

TEST(GifLoader, SkipsWhatTheBlockWalkSkipsAndIgnoresWhatFollows) {
  // Stray bytes, an unknown extension label, a comment and an application
  // extension before the image; the single-frame tail 00 21 F9 3B after it.
  const Bytes app = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                     'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  const Bytes gif = Cat({Header(1, 1, 0x81),
                         kTable4,
                         {0x00, 0x07, 0x21, 0x99},
                         app,
                         {0x21, 0xFE, 0x02, 'h', 'i', 0x00},
                         Image(0, 0, 1, 1, 0, 2),
                         {0x21, 0xF9, 0x3B}});
  auto pic = Load(gif);
  ASSERT_TRUE(pic);
  EXPECT_EQ(pic->Handle()->ColorAt(0, 0), gdi::RGB(0, 255, 0));
}

TEST(GifLoader, RefusalsAndZeroSizes) {
  EXPECT_FALSE(Load({}));
  EXPECT_FALSE(Load(Bytes{'G', 'I', 'F'}));
  EXPECT_FALSE(Load(Cat({Header(1, 1, 0x81), {0, 0}})));           // truncated table
  EXPECT_FALSE(Load(Cat({Header(1, 1, 0x81), kTable4, {0x3B}})));  // no image
  // Truncated image data.
  Bytes cut = Cat({Header(1, 1, 0x81), kTable4, Image(0, 0, 4, 4, 0, 1)});
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(Load(cut));
  // 65535 x 65535 is refused before any pixel memory exists.
  EXPECT_FALSE(Load(Cat({Header(1, 1, 0x81),
                         kTable4,
                         {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02, 0x01, 0x04, 0x00},
                         {0x3B}})));
  auto zero = Load(Cat({Header(1, 1, 0x81),
                        kTable4,
                        {0x2C, 0, 0, 0, 0, 0, 0, 5, 0, 0x00, 0x02, 0x02, 0x04, 0x05, 0x00},
                        {0x3B}}));
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->Width(), 0);
  EXPECT_EQ(zero->Height(), 5);
}

TEST(GifLoader, InterlacedAndProgressiveLoadIdentically) {
  gifgen::Animation a = gifgen::Moving(37, 29, 1);
  const auto plain = gifgen::Encode(a);
  a.frames[0].interlace = true;
  const auto laced = gifgen::Encode(a);
  auto p = LoadPictureFromMemory(plain.data(), plain.size());
  auto q = LoadPictureFromMemory(laced.data(), laced.size());
  ASSERT_TRUE(p && q);
  for (int y = 0; y < 29; ++y)
    for (int x = 0; x < 37; ++x) {
      ASSERT_EQ(p->Handle()->Get(x, y), q->Handle()->Get(x, y));
      ASSERT_EQ(p->Handle()->Get(x, y), a.frames[0].indices[std::size_t(y * 37 + x)]);
    }
}

TEST(BmpLoader, ReadsEveryUncompressedDepthBothRowOrders) {
  const std::vector<gdi::RGBQUAD> pal2 = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::vector<gdi::RGBQUAD> pal16(16), pal256(256);
  for (int i = 0; i < 16; ++i) pal16[std::size_t(i)] = {std::uint8_t(i * 16), 0, 0, 0};
  for (int i = 0; i < 256; ++i) pal256[std::size_t(i)] = {0, std::uint8_t(i), 0, 0};
  for (bool topDown : {false, true}) {
    for (int bpp : {1, 4, 8, 24, 32}) {
      const int w = 13, h = 5;
      const auto& pal = bpp == 1   ? pal2
                        : bpp == 4 ? pal16
                        : bpp == 8 ? pal256
                                   : std::vector<gdi::RGBQUAD>{};
      auto value = [&](int x, int y) -> std::uint32_t {
        if (bpp <= 8) return std::uint32_t((x + 3 * y) % (1 << bpp));
        return std::uint32_t((x * 19) | (y * 40) << 8 | (x * y) << 16);
      };
      const Bytes bmp = MakeBmp(bpp, w, h, topDown, pal, value);
      auto pic = Load(bmp);
      ASSERT_TRUE(pic) << bpp;
      ASSERT_EQ(pic->Width(), w);
      ASSERT_EQ(pic->Height(), h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::uint32_t v = value(x, y);
          const gdi::COLORREF expected =
              bpp <= 8 ? gdi::ColorOf(pal[v])
                       : gdi::RGB(std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v));
          ASSERT_EQ(pic->Handle()->ColorAt(x, y), expected) << bpp << " " << x << "," << y;
        }
    }
  }
  EXPECT_FALSE(Load(Bytes{'B', 'M', 1, 2, 3}));
}

TEST(BmpLoader, RefusesPicturesWithoutPixelsOrBeyondTheLimitAtOnce) {
  // A 54-byte header can claim two thousand million rows of nothing; looping
  // over them froze the program for seconds.
  auto header = [](std::int32_t w, std::int32_t h) {
    Bytes b = MakeBmp(24, 0, 0, false, {}, [](int, int) { return 0u; });
    for (int i = 0; i < 4; ++i) {
      b[std::size_t(18 + i)] = std::uint8_t(std::uint32_t(w) >> (8 * i));
      b[std::size_t(22 + i)] = std::uint8_t(std::uint32_t(h) >> (8 * i));
    }
    return b;
  };
  for (auto [w, h] : {std::pair{0, 100000000},
                      {0, 2147483647},
                      {0, -2147483647},
                      {100000000, 0},
                      {0, 0},
                      {70000, 70000}}) {
    const Bytes bmp = header(w, h);
    ASSERT_EQ(bmp.size(), 54u);
    EXPECT_FALSE(Load(bmp)) << w << " x " << h;
  }
  EXPECT_TRUE(Load(Cat({header(1, 1), Bytes(4, 0)})));  // the same header with a pixel loads
}

TEST(SavePicture, Writes24BitBitmapReplacingAnExistingFileNotFollowingLinks) {
  TempDir dir;
  auto bmp = *gdi::Bitmap::Create(3, 2, gdi::Format::Rgb32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) bmp.Set(x, y, std::uint32_t(0x010203 * (x + 1) + 0x100000 * y));
  platform::Picture pic(std::move(bmp));
  const std::string out = dir.File("f.bmp");
  WriteFile(out, Bytes(5000, 0xAA));  // longer than the new file
  ASSERT_TRUE(platform::SavePicture(pic, out));
  const Bytes saved = ReadFile(out);
  EXPECT_EQ(saved.size(), 54u + 2 * 12);
  EXPECT_EQ(saved[28], 24);
  auto back = LoadPicture(out);
  ASSERT_TRUE(back);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(back->Handle()->ColorAt(x, y), pic.Handle()->ColorAt(x, y));

  const std::string victim = dir.File("victim");
  WriteFile(victim, Bytes{1, 2, 3});
  std::filesystem::create_symlink(victim, dir.File("link.bmp"));
  ASSERT_TRUE(platform::SavePicture(pic, dir.File("link.bmp")));
  EXPECT_EQ(ReadFile(victim), (Bytes{1, 2, 3}));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("link.bmp")));
}

TEST(SavePicture, BitmapRowsMatchThePixelsAtEveryWidth) {
  // Widths around the sixteen-pixel groups and the four-byte row padding,
  // written into a reused buffer full of stale bytes.
  std::vector<std::uint8_t> out(4 << 20, 0xAA);
  std::uint32_t seed = 7;
  for (int w : {1, 2, 3, 4, 5, 15, 16, 17, 19, 31, 32, 33, 47, 48, 50, 640, 1921}) {
    const int h = 3;
    auto bmp = *gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        seed = seed * 1664525u + 1013904223u;
        bmp.Set(x, y, seed & 0xFFFFFFu);
      }
    std::fill(out.begin(), out.end(), std::uint8_t(0xAA));
    platform::EncodeBmp24(bmp, out);
    const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
    ASSERT_EQ(out.size(), 54 + stride * h) << w;
    for (int row = 0; row < h; ++row) {
      const std::uint8_t* d = out.data() + 54 + std::size_t(row) * stride;
      const int y = h - 1 - row;  // bottom-up
      for (int x = 0; x < w; ++x) {
        const std::uint32_t v = bmp.Row32(y)[x];
        ASSERT_EQ(d[3 * x], std::uint8_t(v)) << w << " " << x << "," << y;
        ASSERT_EQ(d[3 * x + 1], std::uint8_t(v >> 8)) << w << " " << x << "," << y;
        ASSERT_EQ(d[3 * x + 2], std::uint8_t(v >> 16)) << w << " " << x << "," << y;
      }
      for (std::size_t i = std::size_t(w) * 3; i < stride; ++i) ASSERT_EQ(d[i], 0) << w;
    }
  }
}

// Every corpus GIF loads with exactly its first image or is refused cleanly.
TEST(GifLoaderCorpus, FirstImageMatchesGiflibOrIsRefused) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  int loaded = 0;
  for (const auto& f : files) {
    auto pic = LoadPicture(f);
    int err = 0;
    GifFileType* g = DGifOpenFileName(f.c_str(), &err);
    const bool slurped = g != nullptr && DGifSlurp(g) == GIF_OK && g->ImageCount > 0;
    if (pic && slurped) {
      ++loaded;
      const SavedImage& im = g->SavedImages[0];
      const ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : g->SColorMap;
      ASSERT_EQ(pic->Width(), im.ImageDesc.Width) << f;
      ASSERT_EQ(pic->Height(), im.ImageDesc.Height) << f;
      for (int y = 0; y < pic->Height(); ++y)
        for (int x = 0; x < pic->Width(); ++x) {
          const int idx = im.RasterBits[y * im.ImageDesc.Width + x];
          ASSERT_EQ(int(pic->Handle()->Get(x, y)), idx) << f;
          if (map && idx < map->ColorCount) {
            const auto c = map->Colors[idx];
            ASSERT_EQ(pic->Handle()->ColorAt(x, y), gdi::RGB(c.Red, c.Green, c.Blue)) << f;
          }
        }
    }
    if (g) DGifCloseFile(g, &err);
  }
  EXPECT_GT(loaded, 100);
}

TEST(GifLoaderCorpus, MatchesTheIndexFilesAndInterlacedTwins) {
  const std::string dir = CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  const std::string w = dir + "/wuffs-test-data/";
  for (const char* name : {"bricks-dither", "bricks-gray", "bricks-nodither"}) {
    auto pic = LoadPicture(w + name + ".gif");
    ASSERT_TRUE(pic) << name;
    const Bytes idx = ReadFile(w + name + ".indexes");
    ASSERT_EQ(idx.size(), std::size_t(pic->Width() * pic->Height()));
    for (int y = 0; y < pic->Height(); ++y)
      for (int x = 0; x < pic->Width(); ++x)
        ASSERT_EQ(pic->Handle()->Get(x, y), idx[std::size_t(y * pic->Width() + x)]) << name;
  }
  auto muy = LoadPicture(w + "muybridge.gif");
  ASSERT_TRUE(muy);
  const Bytes idx0 = ReadFile(w + "muybridge-frame-000.indexes");
  ASSERT_EQ(idx0.size(), std::size_t(muy->Width() * muy->Height()));
  EXPECT_EQ(muy->Handle()->Get(7, 3), idx0[std::size_t(3 * muy->Width() + 7)]);

  auto a = LoadPicture(w + "hippopotamus.regular.gif");
  auto b = LoadPicture(w + "hippopotamus.interlaced.gif");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->Width(), b->Width());
  for (int y = 0; y < a->Height(); ++y)
    for (int x = 0; x < a->Width(); ++x)
      ASSERT_EQ(a->Handle()->ColorAt(x, y), b->Handle()->ColorAt(x, y));
  EXPECT_FALSE(LoadPicture(w + "hippopotamus.interlaced.truncated.gif"));
}

TEST(GifLoader, FilesLoadWhereverTheFirstImageLies) {
  TempDir dir;
  // A first image behind 1.2 MB of comment sub-blocks, and one followed by
  // megabytes of further frames: both load from the file.
  Bytes comment = {0x21, 0xFE};
  for (int i = 0; i < 5000; ++i) {
    comment.push_back(250);
    comment.insert(comment.end(), 250, 'x');
  }
  comment.push_back(0);
  const Bytes late = Cat({Header(2, 1, 0x81), kTable4, comment, Image(0, 0, 2, 1, 0, 3), {0x3B}});
  WriteFile(dir.File("late.gif"), late);
  auto a = LoadPicture(dir.File("late.gif"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Handle()->ColorAt(1, 0), gdi::RGB(0, 0, 255));

  const auto many = gifgen::Encode(gifgen::Moving(300, 200, 200));
  ASSERT_GT(many.size(), std::size_t(1) << 20);
  gifgen::WriteFile(dir.File("many.gif"), many);
  auto b = LoadPicture(dir.File("many.gif"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 300);

  // A first image whose data alone runs past the first reads: noise
  // compresses to more than a byte a pixel.
  auto noisy = gifgen::Moving(900, 700, 2);
  std::uint32_t seed = 12345;
  for (auto& i : noisy.frames[0].indices) {
    seed = seed * 1103515245u + 12345u;
    i = std::uint8_t(seed >> 24);
  }
  const auto big = gifgen::Encode(noisy);
  ASSERT_GT(big.size(), std::size_t(512) << 10);
  gifgen::WriteFile(dir.File("big.gif"), big);
  auto c = LoadPicture(dir.File("big.gif"));
  auto expected = Load(big);
  ASSERT_TRUE(c && expected);
  for (int y = 0; y < 700; y += 7) {
    for (int x = 0; x < 900; x += 3) {
      ASSERT_EQ(c->Handle()->ColorAt(x, y), expected->Handle()->ColorAt(x, y)) << x << "," << y;
    }
  }
  Bytes bigCut(big.begin(), big.begin() + std::ptrdiff_t(big.size() * 2 / 5));
  WriteFile(dir.File("big-cut.gif"), bigCut);
  EXPECT_FALSE(LoadPicture(dir.File("big-cut.gif")));

  Bytes cut = late;
  cut.resize(cut.size() - 4);  // the image's data cut short
  WriteFile(dir.File("cut.gif"), cut);
  EXPECT_FALSE(LoadPicture(dir.File("cut.gif")));
  EXPECT_FALSE(LoadPicture(dir.File("missing.gif")));
  EXPECT_FALSE(LoadPicture(dir.path()));
}

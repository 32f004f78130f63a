#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

using namespace gdi;

namespace {

std::vector<RGBQUAD> Pal(std::initializer_list<COLORREF> colours) {
  std::vector<RGBQUAD> p;
  for (auto c : colours) p.push_back(QuadOf(c));
  return p;
}

Bitmap Make(Format f, int w, int h, std::vector<std::uint32_t> values,
            std::vector<RGBQUAD> pal = {}) {
  auto b = Bitmap::Create(w, h, f, std::move(pal));
  EXPECT_TRUE(b.has_value());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Set(x, y, values[std::size_t(y * w + x)]);
  return std::move(*b);
}

std::vector<std::uint32_t> Values(const Bitmap& b) {
  std::vector<std::uint32_t> v;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) v.push_back(b.Get(x, y));
  return v;
}

struct Pair {
  std::unique_ptr<DC> src, dst;
};

Pair Contexts(Bitmap& s, Bitmap& d) {
  Pair p{CreateCompatibleDC(nullptr), CreateCompatibleDC(nullptr)};
  SelectObject(*p.src, &s);
  SelectObject(*p.dst, &d);
  return p;
}

}  // namespace

// Every raster operation, at every depth, bitwise on the stored values.
struct RopCase {
  Format format;
  std::vector<std::uint32_t> src, dst;
  DWORD rop;
  std::vector<std::uint32_t> expected;
};

void PrintTo(const RopCase& c, std::ostream* os) {
  *os << "format " << int(c.format) << " rop " << std::hex << c.rop;
}

class RasterOps : public ::testing::TestWithParam<RopCase> {};

TEST_P(RasterOps, AppliesToStoredValues) {
  const auto& c = GetParam();
  const auto pal = c.format == Format::Indexed8
                       ? Pal({0, RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)})
                       : std::vector<RGBQUAD>{};
  Bitmap s = Make(c.format, 4, 1, c.src, pal), d = Make(c.format, 4, 1, c.dst, pal);
  auto ctx = Contexts(s, d);
  ASSERT_TRUE(BitBlt(*ctx.dst, 0, 0, 4, 1, *ctx.src, 0, 0, c.rop));
  EXPECT_EQ(Values(d), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllDepths, RasterOps,
    ::testing::Values(
        RopCase{Format::Mono1, {0, 0, 1, 1}, {0, 1, 0, 1}, SRCCOPY, {0, 0, 1, 1}},
        RopCase{Format::Mono1, {0, 0, 1, 1}, {0, 1, 0, 1}, SRCAND, {0, 0, 0, 1}},
        RopCase{Format::Mono1, {0, 0, 1, 1}, {0, 1, 0, 1}, SRCINVERT, {0, 1, 1, 0}},
        RopCase{Format::Mono1, {0, 0, 1, 1}, {0, 1, 0, 1}, NOTSRCCOPY, {1, 1, 0, 0}},
        // 8-bit between identical tables: the indices themselves.
        RopCase{Format::Indexed8, {1, 2, 1, 0}, {2, 2, 0, 1}, SRCCOPY, {1, 2, 1, 0}},
        RopCase{Format::Indexed8, {1, 2, 3, 0}, {3, 2, 1, 1}, SRCAND, {1, 2, 1, 0}},
        RopCase{Format::Indexed8, {1, 2, 3, 0}, {3, 2, 1, 1}, SRCINVERT, {2, 0, 2, 1}},
        RopCase{Format::Indexed8, {1, 2, 0, 0}, {0, 0, 0, 0}, NOTSRCCOPY, {254, 253, 255, 255}},
        RopCase{Format::Rgb32,
                {0x123456, 0xFF00FF, 0, 0xFFFFFF},
                {1, 2, 3, 4},
                SRCCOPY,
                {0x123456, 0xFF00FF, 0, 0xFFFFFF}},
        RopCase{Format::Rgb32,
                {0x0F0F0F, 0xFF00FF, 0, 0xFFFFFF},
                {0xFFFF00, 0x0000FF, 7, 5},
                SRCAND,
                {0x0F0F00, 0x0000FF, 0, 5}},
        RopCase{Format::Rgb32,
                {0x0F0F0F, 0xFF00FF, 0, 0xFFFFFF},
                {0xFFFF00, 0x0000FF, 7, 5},
                SRCINVERT,
                {0xF0F00F, 0xFF0000, 7, 0xFFFFFA}},
        RopCase{Format::Rgb32,
                {0x0F0F0F, 0xFF00FF, 0, 0xFFFFFF},
                {0, 0, 0, 0},
                NOTSRCCOPY,
                {0xF0F0F0, 0x00FF00, 0xFFFFFF, 0}}));

TEST(ColourToMono, KeysOnTheSourceBackgroundColourOnly) {
  // 32-bit: the whole word against the background colour; one unit off is 0.
  Bitmap s = Make(Format::Rgb32, 4, 1, {0x102030, 0x102031, 0x112030, 0x102030});
  auto m = *CreateMonoBitmap(4, 1);
  auto ctx = Contexts(s, m);
  SetBkColor(*ctx.src, RGB(0x10, 0x20, 0x30));
  SetBkColor(*ctx.dst, RGB(1, 2, 3));  // the destination's colour plays no part
  BitBlt(*ctx.dst, 0, 0, 4, 1, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(m), (std::vector<std::uint32_t>{1, 0, 0, 1}));
}

TEST(ColourToMono, EightBitKeysOnTheNearestIndexSoADuplicateStaysZero) {
  // Entries 1 and 3 hold the same colour: only index 1 (the nearest, lowest)
  // becomes 1.
  Bitmap s = Make(Format::Indexed8, 4, 1, {0, 1, 2, 3},
                  Pal({RGB(0, 0, 0), RGB(9, 9, 9), RGB(200, 0, 0), RGB(9, 9, 9)}));
  auto m = *CreateMonoBitmap(4, 1);
  auto ctx = Contexts(s, m);
  SetBkColor(*ctx.src, RGB(10, 9, 9));  // not exact: nearest is index 1
  BitBlt(*ctx.dst, 0, 0, 4, 1, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(m), (std::vector<std::uint32_t>{0, 1, 0, 0}));
}

TEST(MonoToColour, UsesTheDestinationTextAndBackgroundColours) {
  Bitmap m = Make(Format::Mono1, 2, 1, {0, 1});
  Bitmap d = *Bitmap::Create(2, 1, Format::Rgb32);
  auto ctx = Contexts(m, d);
  // New contexts: text black, background white.
  BitBlt(*ctx.dst, 0, 0, 2, 1, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{0x000000, 0xFFFFFF}));
  SetTextColor(*ctx.dst, RGB(255, 0, 0));
  SetBkColor(*ctx.dst, RGB(0, 0, 255));
  SetTextColor(*ctx.src, RGB(1, 1, 1));  // the source's colours play no part
  BitBlt(*ctx.dst, 0, 0, 2, 1, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{0xFF0000, 0x0000FF}));

  Bitmap e = *Bitmap::Create(2, 1, Format::Indexed8, Pal({0, RGB(0, 0, 250), RGB(250, 0, 0)}));
  auto ctx8 = Contexts(m, e);
  SetTextColor(*ctx8.dst, RGB(255, 0, 0));
  SetBkColor(*ctx8.dst, RGB(0, 0, 255));
  BitBlt(*ctx8.dst, 0, 0, 2, 1, *ctx8.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(e), (std::vector<std::uint32_t>{2, 1}));
}

TEST(EightBitSection, MapsColoursToTheNearestEntry) {
  BITMAPINFO info;
  info.bmiHeader.biWidth = 6;
  info.bmiHeader.biHeight = 1;
  info.bmiHeader.biBitCount = 8;
  info.bmiHeader.biClrUsed = 4;
  info.bmiColors[0] = QuadOf(RGB(0, 0, 0));
  info.bmiColors[1] = QuadOf(RGB(100, 100, 100));
  info.bmiColors[2] = QuadOf(RGB(100, 100, 100));  // duplicate: never chosen
  info.bmiColors[3] = QuadOf(RGB(200, 100, 100));
  auto screen = GetDC();
  auto section = CreateDIBSection(*screen, info, DIB_RGB_COLORS);
  ASSERT_TRUE(section);
  Bitmap s = Make(
      Format::Rgb32, 6, 1,
      {ToPixel32(RGB(0, 0, 0)), ToPixel32(RGB(100, 100, 100)),
       ToPixel32(RGB(150, 100, 100)),  // tie between 1 and 3: lowest
       ToPixel32(RGB(151, 100, 100)), ToPixel32(RGB(40, 40, 40)), ToPixel32(RGB(255, 255, 255))});
  auto ctx = Contexts(s, *section);
  BitBlt(*ctx.dst, 0, 0, 6, 1, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(*section), (std::vector<std::uint32_t>{0, 1, 1, 3, 0, 3}));
}

TEST(EightBitSection, LargeTrueColourPictureMatchesTheExhaustiveSearch) {
  // The accelerated search must agree with the plain one for every colour.
  std::vector<RGBQUAD> pal(256);
  for (int i = 0; i < 125; ++i) {
    const std::uint8_t lv[5] = {0, 64, 128, 192, 255};
    pal[std::size_t(i)] = {lv[i / 25], lv[(i / 5) % 5], lv[i % 5], 0};
  }
  BITMAPINFO info;
  info.bmiHeader.biWidth = 256;
  info.bmiHeader.biHeight = 64;
  info.bmiHeader.biBitCount = 8;
  std::copy(pal.begin(), pal.end(), info.bmiColors);
  auto section = *CreateDIBSection(*GetDC(), info, DIB_RGB_COLORS);
  Bitmap s = *Bitmap::Create(256, 64, Format::Rgb32);
  std::uint32_t seed = 12345;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 256; ++x) {
      seed = seed * 1103515245 + 12345;
      s.Set(x, y, (seed >> 8) & 0xFFFFFF);
    }
  auto ctx = Contexts(s, section);
  BitBlt(*ctx.dst, 0, 0, 256, 64, *ctx.src, 0, 0, SRCCOPY);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 256; ++x)
      ASSERT_EQ(section.Get(x, y), section.NearestIndex(FromPixel32(s.Get(x, y)))) << x << "," << y;
}

TEST(Stretch, NearestNeighbourBothWays) {
  Bitmap s = Make(Format::Rgb32, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  Bitmap big = *Bitmap::Create(8, 4, Format::Rgb32);
  auto up = Contexts(s, big);
  SetStretchBltMode(*up.dst, COLORONCOLOR);
  StretchBlt(*up.dst, 0, 0, 8, 4, *up.src, 0, 0, 4, 2, SRCCOPY);
  EXPECT_EQ(Values(big),
            (std::vector<std::uint32_t>{1, 1, 2, 2, 3, 3, 4, 4, 1, 1, 2, 2, 3, 3, 4, 4,
                                        5, 5, 6, 6, 7, 7, 8, 8, 5, 5, 6, 6, 7, 7, 8, 8}));
  Bitmap small = *Bitmap::Create(2, 1, Format::Rgb32);
  auto down = Contexts(s, small);
  StretchBlt(*down.dst, 0, 0, 2, 1, *down.src, 0, 0, 4, 2, SRCCOPY);
  EXPECT_EQ(Values(small), (std::vector<std::uint32_t>{1, 3}));
}

TEST(Clipping, EveryBlitStaysInsideBothBitmaps) {
  Bitmap s = Make(Format::Rgb32, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  Bitmap d = Make(Format::Rgb32, 3, 3, std::vector<std::uint32_t>(9, 0));
  auto ctx = Contexts(s, d);
  // Negative destination: only the overlap is drawn.
  BitBlt(*ctx.dst, -1, -1, 3, 3, *ctx.src, 0, 0, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{5, 6, 0, 8, 9, 0, 0, 0, 0}));
  // Size past the edge and a negative source position.
  d = Make(Format::Rgb32, 3, 3, std::vector<std::uint32_t>(9, 0));
  SelectObject(*ctx.dst, &d);
  BitBlt(*ctx.dst, 1, 1, 100, 100, *ctx.src, -1, 0, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 1, 0, 0, 4}));
  // Entirely outside: nothing.
  BitBlt(*ctx.dst, 5, 5, 3, 3, *ctx.src, 0, 0, SRCCOPY);
  BitBlt(*ctx.dst, 0, 0, 3, 3, *ctx.src, 3, 0, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 1, 0, 0, 4}));
  // FillRect and stretch clip as well.
  FillRect(*ctx.dst, {-5, 2, 50, 50}, CreateSolidBrush(RGB(0, 0, 7)));
  StretchBlt(*ctx.dst, 2, -1, 4, 4, *ctx.src, 0, 0, 2, 2, SRCCOPY);
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{0, 0, 1, 0, 0, 4, 7, 7, 4}));
}

TEST(Sizes, RefusedBeforeAllocatingAndZeroSizesDrawNothing) {
  EXPECT_FALSE(Bitmap::Create(-1, 5, Format::Rgb32));
  EXPECT_FALSE(Bitmap::Create(5, -1, Format::Mono1));
  EXPECT_FALSE(Bitmap::Create(65535, 65535, Format::Rgb32));
  EXPECT_FALSE(Bitmap::Create(0x7FFFFFFF, 0x7FFFFFFF, Format::Indexed8));
  EXPECT_FALSE(Bitmap::Create(16385, 16384, Format::Rgb32));
  EXPECT_TRUE(SizeAllowed(16384, 16384));
  EXPECT_FALSE(SizeAllowed(65535, 65535));
  EXPECT_FALSE(SizeAllowed(1, std::int64_t(1) << 40));

  auto empty = Bitmap::Create(0, 4, Format::Rgb32);
  ASSERT_TRUE(empty);
  Bitmap d = Make(Format::Rgb32, 2, 2, {1, 2, 3, 4});
  auto ctx = Contexts(*empty, d);
  EXPECT_TRUE(BitBlt(*ctx.dst, 0, 0, 2, 2, *ctx.src, 0, 0, SRCCOPY));
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  auto back = Contexts(d, *empty);
  EXPECT_TRUE(BitBlt(*back.dst, 0, 0, 2, 2, *back.src, 0, 0, SRCCOPY));
  EXPECT_TRUE(StretchBlt(*back.dst, 0, 0, 0, 4, *back.src, 0, 0, 2, 2, SRCCOPY));
}

TEST(Contexts, CompatibleBitmapsAndSelections) {
  auto screen = GetDC();
  EXPECT_EQ(CreateCompatibleBitmap(*screen, 2, 2)->PixelFormat(), Format::Rgb32);
  auto mem = CreateCompatibleDC(screen.get());
  EXPECT_EQ(CreateCompatibleBitmap(*mem, 2, 2)->PixelFormat(), Format::Mono1);  // stock bitmap
  Bitmap b = *Bitmap::Create(1, 1, Format::Rgb32);
  {
    SelectionGuard guard(*mem, &b);
    EXPECT_EQ(mem->selected(), &b);
    EXPECT_EQ(CreateCompatibleBitmap(*mem, 2, 2)->PixelFormat(), Format::Rgb32);
  }
  EXPECT_EQ(mem->selected(), nullptr);

  BITMAP bm;
  ASSERT_TRUE(GetObject(&b, bm));
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_FALSE(GetObject(nullptr, bm));
  EXPECT_EQ(bm.bmWidth, 0);
}

TEST(Colours, SystemColoursAndNearestColour) {
  auto screen = GetDC();
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
  EXPECT_EQ(GetNearestColor(*screen, RGB(1, 2, 3)), RGB(1, 2, 3));
  EXPECT_EQ(GetNearestColor(*screen, 0x80000000u | COLOR_WINDOW), RGB(255, 255, 255));
  auto mem = CreateCompatibleDC(nullptr);
  Bitmap b = *Bitmap::Create(1, 1, Format::Indexed8, Pal({0, RGB(200, 0, 0)}));
  SelectObject(*mem, &b);
  EXPECT_EQ(GetNearestColor(*mem, RGB(180, 10, 0)), RGB(200, 0, 0));
}

TEST(DrawEdge, RaisedRectangle) {
  Bitmap d = *Bitmap::Create(5, 4, Format::Rgb32);
  auto dc = CreateCompatibleDC(nullptr);
  SelectObject(*dc, &d);
  FillRect(*dc, {0, 0, 5, 4}, CreateSolidBrush(RGB(1, 1, 1)));
  ASSERT_TRUE(DrawEdge(*dc, {0, 0, 5, 4}, EDGE_RAISED, BF_RECT));
  const std::uint32_t L = ToPixel32(GetSysColor(COLOR_3DLIGHT)),
                      K = ToPixel32(GetSysColor(COLOR_3DDKSHADOW)),
                      H = ToPixel32(GetSysColor(COLOR_BTNHIGHLIGHT)),
                      S = ToPixel32(GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(Values(d), (std::vector<std::uint32_t>{L, L, L, L, K,  //
                                                   L, H, H, S, K,  //
                                                   L, S, S, S, K,  //
                                                   K, K, K, K, K}));
}

TEST(GetDIBits, BottomUpRowsPaddedToFourBytesWithColours) {
  Bitmap b = Make(Format::Indexed8, 3, 2, {1, 2, 3, 4, 5, 6}, Pal({0, RGB(1, 2, 3), RGB(4, 5, 6)}));
  auto dc = CreateCompatibleDC(nullptr);
  BITMAPINFO info;
  info.bmiHeader.biBitCount = 8;
  std::vector<std::uint8_t> bits(8, 0xEE);
  EXPECT_EQ(GetDIBits(*dc, b, 0, 2, bits.data(), info, DIB_RGB_COLORS), 2);
  EXPECT_EQ(bits, (std::vector<std::uint8_t>{4, 5, 6, 0, 1, 2, 3, 0}));
  EXPECT_EQ(ColorOf(info.bmiColors[2]), RGB(4, 5, 6));
  EXPECT_EQ(ColorOf(info.bmiColors[200]), 0u);

  Bitmap t = *Bitmap::Create(1, 1, Format::Rgb32);
  EXPECT_EQ(GetDIBits(*dc, t, 0, 1, bits.data(), info, DIB_RGB_COLORS), 0);
}

TEST(Sizes, RecycledPixelStorageReadsAsZero) {
  // Large buffers are reused after a bitmap goes; the new bitmap must still
  // start black, whether it is read first or partly drawn first.
  for (int round = 0; round < 2; ++round) {
    {
      auto old = *Bitmap::Create(300, 200, Format::Rgb32);
      for (int y = 0; y < 200; ++y) std::fill(old.Row32(y), old.Row32(y) + 300, 0xABCDEFu);
    }
    auto fresh = *Bitmap::Create(300, 200, Format::Rgb32);
    if (round == 0) {
      EXPECT_EQ(fresh.Get(299, 199), 0u);
    } else {
      Bitmap s = Make(Format::Rgb32, 1, 1, {5});
      auto ctx = Contexts(s, fresh);
      BitBlt(*ctx.dst, 10, 10, 1, 1, *ctx.src, 0, 0, SRCCOPY);
      EXPECT_EQ(fresh.Get(10, 10), 5u);
      EXPECT_EQ(fresh.Get(0, 0), 0u);
      EXPECT_EQ(fresh.Get(299, 199), 0u);
    }
  }
}

// The Windows window side's pictures under Wine: the skin from the program's
// resources decodes to the pixels Linux shows, and bitmaps reach a device
// context as the drawing layer holds them.
#include "platform/system/system.h"
#include "platform/win32/pictures.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include "tests/support/skin_sums.h"

namespace {

// A w x h 32-bit section filled with `fill`, selected into a memory context.
struct Canvas {
  Canvas(int w, int h, std::uint32_t fill) : width(w) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = CreateCompatibleDC(nullptr);
    section =
        CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, section);
    std::fill(bits, bits + std::size_t(w) * std::size_t(h), fill);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(section);
    DeleteDC(dc);
  }
  std::uint32_t At(int x, int y) {
    GdiFlush();
    return bits[std::size_t(y) * std::size_t(width) + std::size_t(x)] & 0x00FFFFFFu;
  }
  int width;
  HDC dc;
  HBITMAP section;
  HGDIOBJ old;
  std::uint32_t* bits = nullptr;
};

}  // namespace

TEST(Skin, EveryPictureDecodesFromTheResourcesToItsKnownPixels) {
  for (const auto& s : testutil::SkinSums()) {
    const auto image = win32::LoadSkinImage(s.name);
    ASSERT_TRUE(image) << s.name;
    EXPECT_EQ(image->width, s.width) << s.name;
    EXPECT_EQ(image->height, s.height) << s.name;
    EXPECT_EQ(testutil::PixelSum(image->argb.data(), image->argb.size()), s.sum) << s.name;
  }
  EXPECT_FALSE(win32::LoadSkinImage("no-such.png"));
  const std::uint8_t notPng[] = {'G', 'I', 'F', '8', '9', 'a'};
  EXPECT_FALSE(win32::DecodePng(notPng, sizeof notPng));
}

TEST(Skin, PicturesBlendOverWhatIsThereByTheirTransparency) {
  const auto hand = win32::LoadSkinImage("hand.png");
  ASSERT_TRUE(hand);
  Canvas canvas(hand->width, hand->height, 0x123456);
  ASSERT_TRUE(win32::ShowSkinImage(canvas.dc, 0, 0, hand->width, hand->height, *hand));
  int clear = 0, solid = 0;
  for (int y = 0; y < hand->height; ++y)
    for (int x = 0; x < hand->width; ++x) {
      const std::uint32_t p = hand->argb[std::size_t(y * hand->width + x)];
      if (p >> 24 == 0) {
        EXPECT_EQ(canvas.At(x, y), 0x123456u) << x << "," << y;
        ++clear;
      } else if (p >> 24 == 255) {
        EXPECT_EQ(canvas.At(x, y), p & 0x00FFFFFFu) << x << "," << y;
        ++solid;
      }
    }
  EXPECT_GT(clear, 0);
  EXPECT_GT(solid, 0);
  // Half of a red, and none of a white, over the background (stretched to
  // twice the size, as an image control may be).
  const win32::SkinPixels two{2, 1, {0x80FF0000u, 0x00FFFFFFu}};
  Canvas small(4, 1, 0x123456);
  ASSERT_TRUE(win32::ShowSkinImage(small.dc, 0, 0, 4, 1, two));
  const std::uint32_t half = small.At(0, 0);
  EXPECT_NEAR(double(half >> 16), (255 * 128 + 0x12 * 127) / 255.0, 1.5);
  EXPECT_NEAR(double(half >> 8 & 0xFF), 0x34 * 127 / 255.0, 1.5);
  EXPECT_NEAR(double(half & 0xFF), 0x56 * 127 / 255.0, 1.5);
  EXPECT_EQ(small.At(1, 0), half);
  EXPECT_EQ(small.At(2, 0), 0x123456u);
  EXPECT_EQ(small.At(3, 0), 0x123456u);
  // The background strip goes into the panel without its transparency.
  const auto strip = win32::LoadSkinImage("background.png");
  ASSERT_TRUE(strip);
  const platform::Picture picture = win32::PictureOf(*strip);
  ASSERT_EQ(picture.Width(), strip->width);
  EXPECT_EQ(picture.Handle()->Get(3, 4),
            strip->argb[std::size_t(4 * strip->width + 3)] & 0xFFFFFFu);
}

TEST(Skin, TheHandBecomesAPointerWithItsHotSpot) {
  const auto hand = win32::LoadSkinImage("hand.png");
  ASSERT_TRUE(hand);
  HCURSOR cursor = win32::MakeCursor(*hand, 12, 10);
  ASSERT_NE(cursor, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(cursor, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 12u);
  EXPECT_EQ(info.yHotspot, 10u);
  BITMAP colour{};
  ASSERT_NE(info.hbmColor, nullptr);
  GetObject(info.hbmColor, sizeof colour, &colour);
  EXPECT_EQ(colour.bmWidth, 32);
  EXPECT_EQ(colour.bmHeight, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyCursor(cursor);
  EXPECT_EQ(win32::MakeCursor(win32::SkinPixels{}, 0, 0), nullptr);
}

TEST(Display, TheScreenHasASizeAndTwipsFromItsDotsPerInch) {
  const win32::ScreenMetrics m = win32::ReadScreen();
  EXPECT_GT(m.width, 0);
  EXPECT_GT(m.height, 0);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  if (dpi != 96) GTEST_SKIP() << "the screen is not 96 dpi";
  EXPECT_EQ(m.twipsPerPixelX, 15.0);  // the layout's own unit: 15 twips a pixel
  EXPECT_EQ(m.twipsPerPixelY, 15.0);
}

TEST(Display, BitmapsReachTheContextAsTheDrawingLayerHoldsThem) {
  // 32-bit, 8-bit with a colour table, and one-bit pictures, at an offset.
  auto rgb = gdi::Bitmap::Create(5, 3, gdi::Format::Rgb32);
  auto indexed = gdi::Bitmap::Create(5, 3, gdi::Format::Indexed8,
                                     {{0x10, 0x20, 0x30, 0}, {0xF0, 0xE0, 0xD0, 0}});
  auto mono = gdi::Bitmap::Create(5, 3, gdi::Format::Mono1);
  ASSERT_TRUE(rgb && indexed && mono);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      rgb->Set(x, y, std::uint32_t(x * 0x331100 + y * 0x000F07));
      indexed->Set(x, y, std::uint32_t((x + y) & 1));
      mono->Set(x, y, std::uint32_t(x > y));
    }
  for (const gdi::Bitmap* bmp : {&*rgb, &*indexed, &*mono}) {
    Canvas canvas(8, 6, 0xABCDEF);
    ASSERT_TRUE(win32::ShowBitmap(canvas.dc, 2, 1, *bmp));
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= 2 && x < 7 && y >= 1 && y < 4;
        const std::uint32_t want = inside ? gdi::ToPixel32(bmp->ColorAt(x - 2, y - 1)) : 0xABCDEFu;
        EXPECT_EQ(canvas.At(x, y), want) << bmp->BitsPerPixel() << " bpp at " << x << "," << y;
      }
  }
}

// Ctrl+C and Ctrl+Break in the console ask a run to stop, as SIGINT does on
// Linux (exit status 130), rather than ending the program on the spot.
TEST(Console, CtrlBreakIsAStopRequest) {
  sys::ClearStopRequest();
  sys::CatchStopSignals();
  // The event reaches every process of the console; the handler runs on a
  // thread of its own.
  // Tests started without a console get one of their own for it.
  if (GetConsoleWindow() == nullptr) AllocConsole();
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
    GTEST_SKIP() << "no console takes Ctrl+Break here (Wine started without one)";
  for (int waited = 0; waited < 5000 && !sys::StopRequested(); waited += 10) Sleep(10);
  EXPECT_TRUE(sys::StopRequested());
  EXPECT_EQ(sys::StopStatus(), 130);
  sys::ClearStopRequest();
}

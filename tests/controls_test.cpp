#include "platform/controls/controls.h"

#include <gtest/gtest.h>

#include <new>

#include "platform/window/types.h"

using platform::PictureBox;

namespace {
platform::Picture Solid(int w, int h, gdi::COLORREF c) {
  auto b = *gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Set(x, y, gdi::ToPixel32(c));
  return platform::Picture(std::move(b));
}
}  // namespace

TEST(PictureBox, SizesItselfToItsPictureAndShowsIt) {
  PictureBox box({32, 32, true, true, gdi::RGB(1, 2, 3)});
  EXPECT_EQ(box.Point(0, 0), gdi::RGB(1, 2, 3));
  box.Picture(Solid(5, 4, gdi::RGB(200, 0, 0)));
  EXPECT_EQ(box.ScaleWidth(), 5);
  EXPECT_EQ(box.ScaleHeight(), 4);
  EXPECT_EQ(box.Point(4, 3), gdi::RGB(200, 0, 0));
  EXPECT_EQ(box.Point(5, 0), -1);

  PictureBox fixed({8, 8, false, true, gdi::RGB(0, 0, 9)});
  fixed.Picture(Solid(5, 4, gdi::RGB(200, 0, 0)));
  EXPECT_EQ(fixed.ScaleWidth(), 8);
  EXPECT_EQ(fixed.Point(6, 6), gdi::RGB(0, 0, 9));
}

TEST(PictureBox, BackColourSystemReferenceClearAndImage) {
  PictureBox box;  // button face by default
  EXPECT_EQ(box.Point(1, 1), gdi::GetSysColor(gdi::COLOR_BTNFACE));
  gdi::FillRect(box.hDC(), {0, 0, 2, 2}, gdi::CreateSolidBrush(gdi::RGB(9, 9, 9)));
  auto image = box.Image();
  EXPECT_EQ(image.Handle()->ColorAt(0, 0), gdi::RGB(9, 9, 9));
  box.BackColor(gdi::RGB(0, 0, 0));
  EXPECT_EQ(box.Point(0, 0), 0);
  EXPECT_EQ(image.Handle(), box.Image().Handle());  // the image is the box's bitmap
}

TEST(PictureBox, ViewsAreToldWhenToRepaint) {
  PictureBox persistent({4, 4, false, true, 0});
  PictureBox immediate({4, 4, false, false, 0});
  int p = 0, i = 0;
  persistent.Changed().Subscribe([&] { ++p; });
  immediate.Changed().Subscribe([&] { ++i; });
  for (PictureBox* b : {&persistent, &immediate})
    gdi::FillRect(b->hDC(), {0, 0, 1, 1}, gdi::CreateSolidBrush(gdi::RGB(1, 1, 1)));
  EXPECT_EQ(p, 0);  // shown on refresh only
  EXPECT_EQ(i, 1);  // shown at once
  persistent.Refresh();
  EXPECT_EQ(p, 1);
}

TEST(ListBox, ItemsSelectionAndNotifications) {
  platform::ListBox l;
  int changes = 0;
  l.Changed().Subscribe([&] { ++changes; });
  l.AddItem("a");
  l.AddItem("b");
  l.ListIndex(1);
  l.ListIndex(5);  // ignored
  EXPECT_EQ(l.ListIndex(), 1);
  EXPECT_EQ(l.List(1), "b");
  l.Clear();
  EXPECT_EQ(l.ListCount(), 0);
  EXPECT_EQ(l.ListIndex(), -1);
  EXPECT_EQ(changes, 4);
}

TEST(Handlers, NothingThrownLeavesAHandler) {
  struct NotAnException {};
  int after = 0;
  EXPECT_FALSE(platform::RunHandler([] { throw NotAnException{}; }));
  EXPECT_FALSE(platform::RunHandler([] { throw std::bad_alloc(); }));
  EXPECT_TRUE(platform::RunHandler([&] { ++after; }));
  EXPECT_EQ(after, 1);
}

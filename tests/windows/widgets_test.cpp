// The Windows side's controls under Wine: where mouse events go among
// windowless controls, what a window paints (its colour, the skin's pictures
// by their transparency, labels, the picture box's border and pixels, a
// frame showing what lies beneath it), and the list box and scroll bar kept
// in step with their values.
#include "platform/win32/window.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

#define NEED_A_DISPLAY(form) \
  if ((form).Handle() == nullptr) GTEST_SKIP() << "no window can be made: no display"

// A 32-bit canvas a window prints itself into.
struct Canvas {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = nullptr;
  std::uint32_t* bits = nullptr;
  int width;
  Canvas(int w, int h) : width(w) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bits = static_cast<std::uint32_t*>(pixels);
    SelectObject(dc, bitmap);
  }
  ~Canvas() {
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  void Print(HWND window) {
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  }
  std::uint32_t At(int x, int y) const { return bits[y * width + x] & 0xFFFFFFu; }
};

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

struct Events {
  std::vector<std::string> log;
  win32::MouseEvents For(const std::string& who) {
    win32::MouseEvents m;
    m.MouseDown = [this, who](const win32::MouseArgs& a) {
      log.push_back(who + " down " + std::to_string(a.pos.x) + "," + std::to_string(a.pos.y));
    };
    m.MouseUp = [this, who](const win32::MouseArgs&) {
      // The press is over before the handler runs: a modal window it opens
      // gets the mouse.
      log.push_back(who + " up" + (GetCapture() == nullptr ? "" : " (captured)"));
    };
    m.MouseMove = [this, who](const win32::MouseArgs& a) {
      log.push_back(who + " move " + std::to_string(a.pos.x) + "," + std::to_string(a.pos.y));
    };
    return m;
  }
};

}  // namespace

TEST(Widgets, PressesGoToTheFrontmostWindowlessControlThatTakesThem) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  form.Move(0, 0, 200, 100);
  win32::ImageControl image(&form);
  image.Move(0, 0, 100, 20);
  auto* label = new win32::Label(&form, "Velkor");  // owned by the form
  label->Move(10, 0, 50, 20);
  Events e;
  image.Mouse = e.For("image");
  label->Mouse = e.For("label");
  form.Mouse = e.For("form");
  HWND h = form.Handle();

  // The label, made later, lies in front; the press holds it until released,
  // wherever the pointer goes.
  SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 5));
  SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, At(150, 50));
  SendMessageW(h, WM_LBUTTONUP, 0, At(150, 50));
  EXPECT_EQ(e.log, (std::vector<std::string>{"label down 5,5", "label move 140,50", "label up"}));
  EXPECT_EQ(GetCapture(), nullptr);

  // Behind the image, or passing presses through, the label takes none.
  e.log.clear();
  label->ZOrder(1);
  SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 5));
  SendMessageW(h, WM_LBUTTONUP, 0, At(15, 5));
  label->ZOrder(0);
  label->PassMouseThrough();
  SendMessageW(h, WM_RBUTTONDOWN, MK_RBUTTON, At(15, 5));
  SendMessageW(h, WM_RBUTTONUP, 0, At(15, 5));
  EXPECT_EQ(e.log, (std::vector<std::string>{"image down 15,5", "image up", "image down 15,5",
                                             "image up"}));

  // A disabled or hidden control leaves the press to the window; so does a
  // destroyed one.
  e.log.clear();
  image.Enabled(false);
  SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(50, 5));
  SendMessageW(h, WM_LBUTTONUP, 0, At(50, 5));
  image.Enabled(true);
  image.Visible(false);
  SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(51, 5));
  SendMessageW(h, WM_LBUTTONUP, 0, At(51, 5));
  image.Visible(true);
  auto* gone = new win32::ImageControl(&form);
  gone->Move(100, 0, 20, 20);
  gone->Mouse = e.For("gone");
  delete gone;
  SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(105, 5));
  SendMessageW(h, WM_LBUTTONUP, 0, At(105, 5));
  EXPECT_EQ(e.log, (std::vector<std::string>{"form down 50,5", "form up", "form down 51,5",
                                             "form up", "form down 105,5", "form up"}));
}

TEST(Widgets, ADisabledPictureBoxLetsPressesThroughToItsWindow) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  platform::PictureBox model({40, 30, false, true, RGB(0, 0, 0)});
  win32::PictureBoxView view(&model, &form, 2);
  EXPECT_EQ(view.Width(), 44);  // the model's size and the border
  EXPECT_EQ(view.Height(), 34);
  model.Resize(50, 20);
  EXPECT_EQ(view.Width(), 54);
  EXPECT_EQ(SendMessageW(view.Handle(), WM_NCHITTEST, 0, 0), HTCLIENT);
  view.Enabled(false);
  EXPECT_EQ(SendMessageW(view.Handle(), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
}

TEST(Widgets, AWindowPaintsItsColourThenItsControlsInOrder) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  form.Move(0, 0, 120, 60);
  form.BackColor(RGB(255, 255, 255));
  // Half-transparent red, then opaque blue, stretched over 20 x 10.
  win32::ImageControl image(&form, /*stretch=*/true);
  image.Move(0, 0, 20, 10);
  image.Picture(win32::Image(win32::SkinPixels{2, 1, {0x80FF0000u, 0xFF0000FFu}}));
  win32::Label boxed(&form, "ＡＢＣ");
  boxed.Move(30, 20, 80, 20);
  boxed.SetBoxed();
  win32::Label hidden(&form, "x");
  hidden.Move(0, 40, 20, 20);
  hidden.SetBoxed();
  hidden.Visible(false);

  Canvas c(120, 60);
  c.Print(form.Handle());
  const std::uint32_t blended = c.At(2, 5);
  EXPECT_EQ(blended >> 16, 0xFFu);                   // red kept
  EXPECT_NEAR(int((blended >> 8) & 0xFF), 0x7F, 2);  // white half covered
  EXPECT_EQ(c.At(15, 5), 0x0000FFu);                 // opaque blue
  EXPECT_EQ(c.At(25, 5), 0xFFFFFFu);                 // the window's colour
  EXPECT_EQ(c.At(30, 20), 0x000000u);                // the box's border
  EXPECT_EQ(c.At(109, 39), 0x000000u);
  EXPECT_EQ(c.At(105, 30), 0xFFFFFFu);  // its background
  EXPECT_EQ(c.At(5, 50), 0xFFFFFFu);    // a hidden label: nothing
  int ink = 0;
  for (int y = 21; y < 39; ++y)
    for (int x = 31; x < 109; ++x) ink += c.At(x, y) == 0x000000u;
  EXPECT_GT(ink, 20) << "no caption drawn in the box";

  // The image brought behind the label would not change it; moved under
  // the box, the box covers it.
  image.Move(30, 20, 20, 10);
  image.ZOrder(1);
  c.Print(form.Handle());
  EXPECT_EQ(c.At(45, 25), 0xFFFFFFu);
  EXPECT_EQ(c.At(5, 5), 0xFFFFFFu);
}

TEST(Widgets, APictureBoxShowsItsModelInsideItsBorderAndAFrameShowsWhatIsBeneath) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  platform::PictureBox model({20, 10, false, true, RGB(0, 128, 0)});
  win32::PictureBoxView view(&model, &form, 2);
  win32::Frame frame(&view);
  frame.Move(2, 2, 20, 10);
  platform::PictureBox inner({5, 5, false, true, RGB(0, 0, 255)});
  win32::PictureBoxView innerView(&inner, &frame);
  innerView.Move(3, 1);

  Canvas c(24, 14);
  c.Print(view.Handle());
  EXPECT_EQ(c.At(0, 0), 0x808080u);  // the sunken border: dark above and left,
  EXPECT_EQ(c.At(1, 1), 0x404040u);
  EXPECT_EQ(c.At(23, 13), 0xFFFFFFu);  // light below and right
  EXPECT_EQ(c.At(22, 12), 0xD4D0C8u);
  EXPECT_EQ(c.At(2, 2), 0x008000u);  // the model's pixels
  EXPECT_EQ(c.At(21, 11), 0x008000u);

  Canvas f(20, 10);
  f.Print(frame.Handle());
  EXPECT_EQ(f.At(0, 0), 0x008000u);  // the picture beneath, not the border
  EXPECT_EQ(f.At(19, 9), 0x008000u);
}

TEST(Widgets, TheListBoxFollowsItsModelAndAChoiceSetsItOnce) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  platform::ListBox model;
  win32::ListBoxView list(model, &form);
  int clicks = 0;
  list.Click = [&] { ++clicks; };
  HWND h = list.Handle();
  model.AddItem("Z:\\a\\chi_001.bmp");
  model.AddItem("Z:\\a\\chi_002.bmp");
  model.AddItem("Z:\\a\\chi_003.bmp");
  EXPECT_EQ(SendMessageW(h, LB_GETCOUNT, 0, 0), 3);
  model.ListIndex(1);
  EXPECT_EQ(SendMessageW(h, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(clicks, 0);  // set by the program, not chosen

  // The user's choice.
  SendMessageW(h, LB_SETCURSEL, 2, 0);
  SendMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(h));
  EXPECT_EQ(model.ListIndex(), 2);
  EXPECT_EQ(clicks, 1);
  SendMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(h));
  EXPECT_EQ(clicks, 1);

  // A new list replaces the old entries.
  model.Clear();
  model.AddItem("Z:\\b\\x_001.gif");
  EXPECT_EQ(SendMessageW(h, LB_GETCOUNT, 0, 0), 1);
  std::wstring text(64, L'\0');
  text.resize(std::size_t(SendMessageW(h, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text.data()))));
  EXPECT_EQ(text, L"Z:\\b\\x_001.gif");
  EXPECT_EQ(SendMessageW(h, LB_GETCURSEL, 0, 0), LB_ERR);

  list.SetHorizontalExtent(625);
  EXPECT_EQ(SendMessageW(h, LB_GETHORIZONTALEXTENT, 0, 0), 625);
}

TEST(Widgets, TheScrollBarMovesWithinItsRangeAndSaysSo) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  win32::VScrollBar bar(&form);
  bar.Move(0, 0, 15, 100);
  bar.Min(0);
  bar.Max(100);
  bar.LargeChange(30);
  bar.SmallChange(5);
  std::vector<std::int32_t> changes;
  bar.Change = [&] { changes.push_back(bar.Value()); };
  auto scroll = [&](int code) {
    SendMessageW(form.Handle(), WM_VSCROLL, MAKEWPARAM(code, 0),
                 reinterpret_cast<LPARAM>(bar.Handle()));
  };
  scroll(SB_PAGEDOWN);
  scroll(SB_LINEDOWN);
  scroll(SB_BOTTOM);
  scroll(SB_LINEDOWN);  // at the end: no change
  scroll(SB_PAGEUP);
  EXPECT_EQ(changes, (std::vector<std::int32_t>{30, 35, 100, 70}));

  // A maximum below the minimum is kept as given, and nothing scrolls.
  bar.Max(-20);
  EXPECT_EQ(bar.Max(), -20);
  EXPECT_EQ(bar.Value(), 0);
  changes.clear();
  scroll(SB_PAGEDOWN);
  EXPECT_TRUE(changes.empty());
}

TEST(Widgets, AliveTellsWhenAWindowHasGone) {
  auto form = std::make_unique<win32::Form>();
  NEED_A_DISPLAY(*form);
  win32::Alive<win32::Form> alive(form.get());
  EXPECT_TRUE(alive);
  form.reset();
  EXPECT_FALSE(alive);
}

TEST(Widgets, FilesDroppedOnAWindowReachItAsUtf8PathsWhenItTakesThem) {
  win32::Form form;
  NEED_A_DISPLAY(form);
  std::vector<win32::Form::Paths> dropped;
  bool take = false;
  form.OnDropFiles([&](const win32::Form::Paths&) { return take; },
                   [&](const win32::Form::Paths& paths) { dropped.push_back(paths); });
  // What the shell hands over: the structure, then the wide paths, each
  // ended by a null, and a last null.
  auto drop = [&] {
    const std::wstring names =
        L"C:\\画像\\アニメ.gif" + std::wstring(1, L'\0') + L"D:\\b.gif" + std::wstring(2, L'\0');
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::memcpy(files + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    SendMessageW(form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  };
  drop();
  EXPECT_TRUE(dropped.empty());
  take = true;
  drop();
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0], (win32::Form::Paths{"C:\\画像\\アニメ.gif", "D:\\b.gif"}));
}

// The Windows side's windows under Wine, in a virtual X server: load and
// unload, modal display, mouse events, the event boundary and the timer.
#include "platform/win32/controls.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

class Recorder : public win32::Form {
 public:
  std::vector<std::string> events;
  bool unloadInLoad = false;

 protected:
  void Form_Load() override {
    events.push_back("load");
    if (unloadInLoad) Unload();
  }
  void Form_QueryUnload() override { events.push_back("query-unload"); }
  void Form_Unload() override { events.push_back("unload"); }
};

// Runs the thread's messages until `done` or about two seconds have passed.
template <typename Done>
void Pump(Done done) {
  for (int i = 0; i < 200 && !done(); ++i) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

#define NEED_A_DISPLAY(form) \
  if ((form).Handle() == nullptr) GTEST_SKIP() << "no window can be made: no display"

}  // namespace

TEST(Forms, LoadShowsACloseRequestUnloadsOnce) {
  Recorder f;
  NEED_A_DISPLAY(f);
  f.Move(10, 20, 513, 353);
  f.Caption("Velkorの設定");
  EXPECT_EQ(f.Caption(), "Velkorの設定");
  EXPECT_EQ(f.WindowRect(), (platform::Rect{10, 20, 513, 353}));
  f.Show();
  EXPECT_TRUE(f.Loaded());
  EXPECT_TRUE(f.Visible());
  PostMessageW(f.Handle(), WM_CLOSE, 0, 0);
  Pump([&] { return !f.Loaded(); });
  EXPECT_EQ(f.events, (std::vector<std::string>{"load", "query-unload", "unload"}));
  EXPECT_FALSE(f.Visible());
  f.Unload();  // nothing more
  EXPECT_EQ(f.events.size(), 3u);
  // A window unloaded by its own load is never shown.
  Recorder g;
  g.unloadInLoad = true;
  g.Show();
  EXPECT_FALSE(g.Visible());
}

TEST(Forms, AModalDisplayReturnsOnceUnloadedWithTheOthersDisabledMeanwhile) {
  Recorder main, modal;
  NEED_A_DISPLAY(main);
  main.Move(0, 0, 100, 100);
  main.Show();
  win32::Timer timer;
  timer.Interval(20);
  bool mainDisabled = false;
  int ticks = 0;
  timer.Tick = [&] {
    ++ticks;
    mainDisabled = !IsWindowEnabled(main.Handle());
    timer.Enabled(false);
    modal.Unload();
  };
  timer.Enabled(true);
  modal.ShowModal();
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(mainDisabled);
  EXPECT_TRUE(IsWindowEnabled(main.Handle()));
  EXPECT_FALSE(modal.Loaded());

  // The program ends while a modal display waits: the display returns, and
  // the end reaches the outer loop too.
  Recorder another;
  timer.Tick = [&] {
    timer.Enabled(false);
    PostQuitMessage(3);
  };
  timer.Enabled(true);
  another.ShowModal();
  EXPECT_TRUE(IsWindowEnabled(main.Handle()));
  MSG msg;
  bool quit = false;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message == WM_QUIT) quit = msg.wParam == 3;
  EXPECT_TRUE(quit);
}

TEST(Forms, MouseEventsSayWhereAndAnExceptionEndsOnlyThatStep) {
  Recorder f;
  NEED_A_DISPLAY(f);
  f.Move(30, 40, 200, 100);
  f.Show();
  std::vector<platform::MouseArgs> downs;
  int ups = 0;
  f.Mouse.MouseDown = [&](const platform::MouseArgs& a) {
    downs.push_back(a);
    throw std::bad_alloc();
  };
  f.Mouse.MouseUp = [&](const platform::MouseArgs&) { ++ups; };
  SendMessageW(f.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 7));
  SendMessageW(f.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 7));
  SendMessageW(f.Handle(), WM_RBUTTONDOWN, MK_RBUTTON | MK_LBUTTON, MAKELPARAM(1, 2));
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[0].button, platform::MouseButton::Left);
  EXPECT_EQ(downs[0].pos, (platform::Point{5, 7}));
  EXPECT_EQ(downs[0].globalPos, (platform::Point{35, 47}));
  EXPECT_EQ(downs[1].button, platform::MouseButton::Right);
  EXPECT_EQ(downs[1].buttons, 3u);
  EXPECT_EQ(ups, 1);
}

TEST(Forms, TheMessageBoxShowsItsTextOverItsDisabledOwner) {
  Recorder owner;
  NEED_A_DISPLAY(owner);
  owner.Move(0, 0, 200, 100);
  owner.Show();
  // The box runs its own loop; a timer there reads it and presses OK.
  win32::Timer timer;
  timer.Interval(50);
  std::wstring text;
  bool ownerDisabled = false, found = false;
  timer.Tick = [&] {
    HWND box = FindWindowW(L"#32770", L"Velkor");
    if (box == nullptr) return;
    found = true;
    timer.Enabled(false);
    wchar_t buffer[256] = {};
    GetDlgItemTextW(box, 0xFFFF, buffer, 256);  // the box's text
    text = buffer;
    ownerDisabled = !IsWindowEnabled(owner.Handle());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  timer.Enabled(true);
  win32::MsgBox(&owner, "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙではありません！", "Velkor", 48);
  EXPECT_TRUE(found);
  EXPECT_EQ(text, L"ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙではありません！");
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
  // Tests put a hook in its place.
  int calls = 0;
  win32::SetMessageBoxHook(
      [&](win32::Form* o, const std::string&, const std::string& title, int s) {
        EXPECT_EQ(o, &owner);
        EXPECT_EQ(title, "Velkor");
        EXPECT_EQ(s, 48);
        ++calls;
      });
  win32::MsgBox(&owner, "x", "Velkor", 48);
  win32::SetMessageBoxHook({});
  EXPECT_EQ(calls, 1);
}

TEST(Forms, ATimerTicksWhileEnabledOnly) {
  Recorder f;
  NEED_A_DISPLAY(f);
  win32::Timer timer;
  int ticks = 0;
  timer.Tick = [&] { ++ticks; };
  timer.Interval(15);
  EXPECT_EQ(timer.Interval(), 15);
  timer.Enabled(true);
  EXPECT_TRUE(timer.Enabled());
  Pump([&] { return ticks >= 3; });
  EXPECT_GE(ticks, 3);
  timer.Enabled(false);
  const int stopped = ticks;
  Pump([] { return false; });
  EXPECT_EQ(ticks, stopped);
}

// The window side on Windows, its windows: the borderless top-level window
// with load, query-unload, unload and modal display, and the timer. The same
// contract as the Linux side's (platform/qt/controls.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/window/types.h"

struct HWND__;  // windows.h's HWND

namespace win32 {

using MouseArgs = platform::MouseArgs;
using MouseHandler = std::function<void(const MouseArgs&)>;

// The boundary round every handler the window side calls: an exception
// leaving it ends that handler's step and never unwinds through the window
// procedure. False when it did.
bool RunHandler(const std::function<void()>& step);

// Mouse event handlers a window or control passes its events to.
struct MouseEvents {
  MouseHandler MouseDown, MouseUp, MouseMove;
};

// A top-level, borderless window. Load runs before the window is shown; a
// close request of any kind runs query-unload then unload; ShowModal returns
// once the window has unloaded, with the program's other windows disabled
// meanwhile.
class Form {
 public:
  Form();
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  void Show();       // load, then show; returns at once
  void ShowModal();  // load, show, and wait until unloaded
  void Unload();     // does nothing when not loaded
  bool Loaded() const { return loaded_; }

  void Move(int left, int top);
  void Move(int left, int top, int width, int height);
  void Resize(int width, int height);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  platform::Rect WindowRect() const;
  bool Visible() const;
  void Caption(const std::string& title);
  std::string Caption() const;
  // Presses and releases on the window itself, outside its controls.
  MouseEvents Mouse;

  HWND__* Handle() const { return hwnd_; }

 protected:
  virtual void Form_Load() {}
  virtual void Form_QueryUnload() {}
  virtual void Form_Unload() {}

 private:
  friend struct FormProcedure;
  HWND__* hwnd_ = nullptr;
  bool loaded_ = false;
  bool modal_ = false;  // a modal display is waiting for this window
};

// Message box with one OK button over `owner` (none: over no window), which
// is disabled meanwhile; style 48 shows the exclamation icon. Tests replace
// the box with a hook (an empty one restores it).
using MessageBoxHook =
    std::function<void(Form* owner, const std::string& text, const std::string& title, int style)>;
void SetMessageBoxHook(MessageBoxHook hook);
void MsgBox(Form* owner, const std::string& text, const std::string& title, int style);

// A timer: ticks every Interval milliseconds while Enabled, from the message
// loop of the thread that made it.
class Timer {
 public:
  Timer() = default;
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  void Enabled(bool on);
  bool Enabled() const { return id_ != 0; }
  void Interval(int ms);
  int Interval() const { return interval_; }
  std::function<void()> Tick;

 private:
  std::uintptr_t id_ = 0;
  int interval_ = 0;
};

}  // namespace win32

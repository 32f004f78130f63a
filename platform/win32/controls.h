// The window side on Windows, its windows and controls: the same contract as
// the Linux side's (platform/qt/controls.h), on the Windows API.
//
// Windows and the controls that scroll, list or hold others (Form,
// PictureBoxView, Frame, ListBoxView, VScrollBar) are system windows. Image
// controls and labels have none: the window or control holding them draws
// them over its own picture, in their order, and hands them the mouse events
// that land on them. So a label or an image lets what lies beneath it show
// through its transparent parts, as on Linux, and stays beneath any windowed
// sibling.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/gdi/gdi.h"
#include "platform/win32/pictures.h"
#include "platform/window/types.h"

struct HWND__;  // windows.h's HWND
struct HDC__;
struct HICON__;

namespace win32 {

using platform::MouseArgs;
using platform::MouseHandler;
using platform::RunHandler;

// Mouse event handlers a window or control passes its events to. A control
// that takes a press keeps the mouse until the button is released.
struct MouseEvents {
  MouseHandler MouseDown, MouseUp, MouseMove;
};

// A skin picture as image controls and window icons take it; null when there
// is none. Copies share the pixels.
class Image {
 public:
  Image() = default;
  explicit Image(SkinPixels pixels);
  bool isNull() const { return pixels_ == nullptr; }
  const SkinPixels* Pixels() const { return pixels_.get(); }

 private:
  std::shared_ptr<const SkinPixels> pixels_;
};

// A mouse pointer; none leaves the system's arrow. Copies share the pointer,
// which is destroyed with the last of them.
class Cursor {
 public:
  Cursor() = default;
  explicit Cursor(HICON__* owned);
  HICON__* Handle() const { return handle_.get(); }

 private:
  std::shared_ptr<HICON__> handle_;
};

class Widget;
struct Procedure;

// What every window and control is: its place in its parent (on the screen
// for a window), its look and its state, in the windows' own terms. A widget
// owns the children made on it and destroys those still there when it goes.
class Widget {
 public:
  virtual ~Widget();
  Widget(const Widget&) = delete;
  Widget& operator=(const Widget&) = delete;

  void Move(int left, int top);
  void Move(int left, int top, int width, int height);
  void Resize(int width, int height);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  // The rectangle on the screen.
  platform::Rect WindowRect() const;
  void Visible(bool on);
  bool Visible() const;  // shown, and so is every parent
  void Enabled(bool on);
  bool Enabled() const { return enabled_; }
  void MouseIcon(const Cursor& cursor) { cursor_ = cursor; }
  void ToolTipText(const std::string& text);
  // 0 brings the control in front of its siblings, 1 sends it behind them.
  void ZOrder(int position);

  // The system window: this widget's own, or for a windowless control the
  // one it is drawn on.
  HWND__* Handle() const;
  // False once the widget is destroyed.
  std::shared_ptr<const bool> Lifetime() const { return alive_; }

 protected:
  explicit Widget(Widget* parent);
  // Gives the widget a system window of `windowClass` (ours, when null).
  void CreateWindowed(const wchar_t* windowClass, unsigned long style, unsigned long exStyle = 0);
  bool Windowed() const { return hwnd_ != nullptr; }
  // Draws the widget at its own origin. A windowed widget's own picture comes
  // first, its windowless children are drawn over it.
  virtual void Paint(HDC__* dc);
  // A message of the widget's own system window, or a notification its
  // standard control sends its parent (WM_COMMAND, WM_VSCROLL); true when
  // handled, with the result.
  virtual bool Message(unsigned message, std::uintptr_t w, std::intptr_t l, std::intptr_t& result);
  // Mouse events a press on this widget goes to (none: the parent's).
  virtual MouseEvents* OwnMouse() { return nullptr; }
  // Presses go through to whatever lies beneath.
  bool passMouse_ = false;
  void Repaint(bool now = false);  // the widget's area, or its window's
  Widget* Parent() const { return parent_; }
  // Draws `other` as Paint draws this one.
  static void PaintWidget(Widget* other, HDC__* dc) { other->Paint(dc); }

 private:
  friend struct Procedure;
  void PaintChildren(HDC__* dc);
  Widget* WindowlessAt(int x, int y) const;
  void SyncToolRect();
  Widget* parent_;
  std::vector<Widget*> children_;    // owned until they go
  std::vector<Widget*> windowless_;  // drawn in this order, the front last
  HWND__* hwnd_ = nullptr;
  HWND__* tips_ = nullptr;  // the tool-tip window of a windowed widget
  std::wstring tipText_;
  platform::Rect rect_;  // in the parent; a window's is read from the system
  bool visible_ = true, enabled_ = true;
  Cursor cursor_;
  Widget* pressed_ = nullptr;       // the windowless child holding the mouse
  std::intptr_t originalProc_ = 0;  // a standard control's own procedure
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A top-level, borderless window. Load runs before the window is shown; a
// close request of any kind runs query-unload then unload; ShowModal returns
// once the window has unloaded, with the program's other windows disabled
// meanwhile.
class Form : public Widget {
 public:
  Form();
  ~Form() override;

  void Show();       // load, then show; returns at once
  void ShowModal();  // load, show, and wait until unloaded
  void Unload();     // does nothing when not loaded
  bool Loaded() const { return loaded_; }

  void Caption(const std::string& title);
  std::string Caption() const;
  void Icon(const Image& picture);
  void BackColor(gdi::COLORREF colour);
  // Files dropped on the window, as paths: `accepts` says whether the window
  // takes them, `drop` takes them. Unset: the window takes no drops.
  using Paths = std::vector<std::string>;
  void OnDropFiles(std::function<bool(const Paths&)> accepts,
                   std::function<void(const Paths&)> drop);
  // Presses and releases on the window itself, outside its controls.
  MouseEvents Mouse;

 protected:
  virtual void Form_Load() {}
  virtual void Form_QueryUnload() {}
  virtual void Form_Unload() {}
  void Paint(HDC__* dc) override;
  bool Message(unsigned message, std::uintptr_t w, std::intptr_t l, std::intptr_t& result) override;
  MouseEvents* OwnMouse() override { return &Mouse; }

 private:
  std::function<bool(const Paths&)> acceptsDrop_;
  std::function<void(const Paths&)> drop_;
  gdi::COLORREF back_;
  std::shared_ptr<HICON__> icon_;
  bool loaded_ = false;
  bool modal_ = false;  // a modal display is waiting for this window
};

// A plain container: its children are clipped to it, and it shows what lies
// beneath it.
class Frame : public Widget {
 public:
  explicit Frame(Widget* parent);

 protected:
  void Paint(HDC__* dc) override;
};

// Shows a platform::PictureBox: the model's image is painted as it is, the
// view takes the model's size (plus the border), and mouse events go to the
// handlers. A box with a persistent image repaints when the window system
// asks; one without repaints at once after every drawing. A disabled view
// passes presses to its parent.
class PictureBoxView : public Widget {
 public:
  PictureBoxView(platform::PictureBox* model, Widget* parent, int border = 0);
  // Shows another model, or none (nothing is painted and the size stays).
  void SetModel(platform::PictureBox* model);
  platform::PictureBox* Model() const { return model_; }
  MouseEvents Mouse;

 protected:
  void Paint(HDC__* dc) override;
  bool Message(unsigned message, std::uintptr_t w, std::intptr_t l, std::intptr_t& result) override;
  MouseEvents* OwnMouse() override { return Enabled() ? &Mouse : nullptr; }

 private:
  void ModelChanged();
  platform::PictureBox* model_ = nullptr;
  platform::Subscription subscription_;
  int border_ = 0;
};

// An image control: shows a picture by its transparency, stretched to the
// control or at its own size, and passes mouse events on.
class ImageControl : public Widget {
 public:
  explicit ImageControl(Widget* parent, bool stretch = false);
  void Picture(const Image& picture);  // a null image shows nothing
  const Image& Picture() const { return picture_; }
  MouseEvents Mouse;

 protected:
  void Paint(HDC__* dc) override;
  MouseEvents* OwnMouse() override { return &Mouse; }

 private:
  Image picture_;
  bool stretch_;
};

// A label in the skin font ("ＭＳ Ｐゴシック" 9.75 pt, or the face standing in
// for it), transparent unless boxed; grey while disabled.
class Label : public Widget {
 public:
  Label(Widget* parent, const std::string& caption, gdi::COLORREF text = gdi::RGB(0, 0, 0));
  void Caption(const std::string& text);
  std::string Caption() const { return caption_; }
  // White background with a single-line border.
  void SetBoxed();
  // The caption centred across the label, from its top.
  void CentreCaption();
  // Sizes the label to its caption.
  void AutoSize();
  // The caption's width in pixels in the label's font.
  int CaptionWidth() const;
  // Presses go through the label to whatever lies beneath it.
  void PassMouseThrough() { passMouse_ = true; }
  MouseEvents Mouse;

 protected:
  void Paint(HDC__* dc) override;
  MouseEvents* OwnMouse() override { return &Mouse; }

 private:
  std::string caption_;
  gdi::COLORREF colour_;
  bool boxed_ = false, centred_ = false;
};

// Shows a platform::ListBox in the system's list box. Choosing an entry sets
// the model's selection and raises Click; the horizontal extent is the
// scrollable width in pixels.
class ListBoxView : public Widget {
 public:
  ListBoxView(platform::ListBox& model, Widget* parent);
  void SetHorizontalExtent(int pixels);
  int HorizontalExtent() const { return extent_; }
  std::function<void()> Click;

 protected:
  bool Message(unsigned message, std::uintptr_t w, std::intptr_t l, std::intptr_t& result) override;

 private:
  void Sync();
  platform::ListBox& model_;
  std::vector<std::string> shown_;
  platform::Subscription subscription_;
  int extent_ = 0;
  bool syncing_ = false;
};

// The system's vertical scroll bar with the range rules kept as set: a
// maximum below the minimum is stored as given and shown as no movement.
class VScrollBar : public Widget {
 public:
  explicit VScrollBar(Widget* parent);
  void Min(std::int32_t v);
  void Max(std::int32_t v);
  std::int32_t Min() const { return min_; }
  std::int32_t Max() const { return max_; }
  void LargeChange(std::int32_t v) { large_ = std::max<std::int32_t>(v, 1); }
  void SmallChange(std::int32_t v) { small_ = std::max<std::int32_t>(v, 1); }
  std::int32_t LargeChange() const { return large_; }
  std::int32_t SmallChange() const { return small_; }
  std::int32_t Value() const;
  void Value(std::int32_t v);
  std::function<void()> Change;  // the value changed by a click or a thumb release
  std::function<void()> Scroll;  // the thumb is being dragged

 protected:
  bool Message(unsigned message, std::uintptr_t w, std::intptr_t l, std::intptr_t& result) override;

 private:
  void ApplyRange();
  // The end of the range the system is given: a reversed range stops at Min.
  std::int32_t RangeEnd() const { return max_ <= min_ ? min_ : max_; }
  std::int32_t min_ = 0, max_ = 32767, large_ = 1, small_ = 1;
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

// Handles the messages waiting for the program's windows, then returns; a
// request to end the program stays for the event loop to see.
void PumpMessages();
// Handles the program's messages for as long as `keepGoing` says; the exit
// status when the program is asked to end meanwhile.
std::optional<int> RunMessages(const std::function<bool()>& keepGoing);

}  // namespace win32

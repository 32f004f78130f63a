#include "platform/win32/controls.h"

// Before windows.h, whose RGB macro the drawing layer's RGB cannot live with.
#include "platform/window/border.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <map>
#include <optional>

#include "platform/system/system.h"

namespace win32 {

using sys::Narrow;
using sys::Wide;

namespace {

constexpr wchar_t kWindowClass[] = L"VelkorWindow";

platform::MouseButton ButtonOf(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
      return platform::MouseButton::Left;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_RBUTTONUP:
      return platform::MouseButton::Right;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_MBUTTONUP:
      return platform::MouseButton::Middle;
    default:
      return platform::MouseButton::None;
  }
}

bool IsPress(UINT m) {
  return m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN ||
         m == WM_LBUTTONDBLCLK || m == WM_RBUTTONDBLCLK || m == WM_MBUTTONDBLCLK;
}
bool IsRelease(UINT m) { return m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP; }

RECT RectOf(const platform::Rect& r) { return {r.left, r.top, r.left + r.width, r.top + r.height}; }

void Drop(std::vector<Widget*>& list, Widget* widget) {
  list.erase(std::remove(list.begin(), list.end(), widget), list.end());
}

void Fill(HDC dc, int x, int y, int w, int h, COLORREF colour) {
  const RECT r{x, y, x + w, y + h};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// "ＭＳ Ｐゴシック" 9.75 pt; where the system lacks the face, its font
// substitution picks the one standing in for it.
HFONT SkinFont() {
  static const HFONT font = [] {
    int dpi = 96;
    if (HDC screen = GetDC(nullptr)) {
      dpi = GetDeviceCaps(screen, LOGPIXELSY);
      ReleaseDC(nullptr, screen);
    }
    return CreateFontW(-MulDiv(975, dpi, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"ＭＳ Ｐゴシック");
  }();
  return font;
}

SIZE TextSize(const std::wstring& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return size;
  HGDIOBJ old = SelectObject(dc, SkinFont());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  if (!text.empty()) GetTextExtentPoint32W(dc, text.data(), int(text.size()), &size);
  size.cy = metrics.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return size;
}

}  // namespace

// ---------------------------------------------------------------- Image, Cursor

Image::Image(SkinPixels pixels) : pixels_(std::make_shared<const SkinPixels>(std::move(pixels))) {}

Cursor::Cursor(HICON__* owned) {
  if (owned != nullptr) handle_.reset(owned, [](HICON__* h) { DestroyCursor(h); });
}

// ---------------------------------------------------------------- the window procedure

struct Procedure {
  static Widget* Of(HWND h) {
    return reinterpret_cast<Widget*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  }

  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    Widget* w = Of(h);
    if (w == nullptr) return DefWindowProcW(h, m, wp, lp);
    std::intptr_t result = 0;
    if (w->Message(m, wp, lp, result)) return result;
    if (w->originalProc_ != 0) {
      // A standard control: only the pointer is ours.
      if (m == WM_SETCURSOR && w->cursor_.Handle() != nullptr && LOWORD(lp) == HTCLIENT) {
        SetCursor(w->cursor_.Handle());
        return TRUE;
      }
      return CallWindowProcW(reinterpret_cast<WNDPROC>(w->originalProc_), h, m, wp, lp);
    }
    switch (m) {
      case WM_ERASEBKGND:
        return 1;  // painting covers it all
      case WM_PAINT:
        PaintBuffered(w, h);
        return 0;
      case WM_PRINTCLIENT:
        w->Paint(reinterpret_cast<HDC>(wp));
        return 0;
      case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wp) == h && LOWORD(lp) == HTCLIENT && SetPointer(w, h))
          return TRUE;
        break;
      case WM_COMMAND:
      case WM_VSCROLL:
        // A standard control's notification: the control handles it.
        if (lp != 0) {
          Widget* child = Of(reinterpret_cast<HWND>(lp));
          if (child != nullptr && child->parent_ == w && child->Message(m, wp, lp, result))
            return result;
        }
        break;
      case WM_MOUSEMOVE:
        Mouse(w, h, m, wp, lp);
        return 0;
      case WM_CAPTURECHANGED:
        w->pressed_ = nullptr;
        return 0;
      default:
        if (IsPress(m) || IsRelease(m)) {
          Mouse(w, h, m, wp, lp);
          return 0;
        }
        break;
    }
    return DefWindowProcW(h, m, wp, lp);
  }

  // Paints off screen, then shows it at once: controls drawn over a picture
  // never flicker.
  static void PaintBuffered(Widget* w, HWND h) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT client{};
    GetClientRect(h, &client);
    const int cw = client.right, ch = client.bottom;
    HDC memory = cw > 0 && ch > 0 ? CreateCompatibleDC(dc) : nullptr;
    HBITMAP canvas = memory != nullptr ? CreateCompatibleBitmap(dc, cw, ch) : nullptr;
    if (canvas != nullptr) {
      HGDIOBJ old = SelectObject(memory, canvas);
      w->Paint(memory);
      BitBlt(dc, 0, 0, cw, ch, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(canvas);
    } else if (cw > 0 && ch > 0) {
      w->Paint(dc);  // no memory for a buffer: straight onto the window
    }
    if (memory != nullptr) DeleteDC(memory);
    EndPaint(h, &ps);
  }

  static bool SetPointer(Widget* w, HWND h) {
    POINT p{};
    if (!GetCursorPos(&p) || !ScreenToClient(h, &p)) return false;
    Widget* over = w->WindowlessAt(int(p.x), int(p.y));
    const Cursor& cursor = over != nullptr && over->cursor_.Handle() ? over->cursor_ : w->cursor_;
    if (cursor.Handle() == nullptr) return false;
    SetCursor(cursor.Handle());
    return true;
  }

  // Routes a mouse event to the windowless control under it, or holding the
  // mouse since its press, else to the window's own handlers.
  static void Mouse(Widget* w, HWND h, UINT m, WPARAM wp, LPARAM lp) {
    const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    Widget* target = nullptr;
    if (GetCapture() == h && (m == WM_MOUSEMOVE || IsRelease(m))) {
      target = w->pressed_ != nullptr ? w->pressed_ : w;
    } else {
      Widget* over = w->WindowlessAt(x, y);
      // A disabled control, or one without a handler for the press, leaves
      // the event to the window beneath it.
      const bool takes = over != nullptr && over->enabled_ && over->OwnMouse() != nullptr &&
                         (IsPress(m) ? bool(over->OwnMouse()->MouseDown) : true);
      target = takes ? over : w;
    }
    if (IsPress(m)) {
      w->pressed_ = target != w ? target : nullptr;
      SetCapture(h);
    }
    MouseArgs args;
    args.button = ButtonOf(m);
    args.buttons = ((wp & MK_LBUTTON) ? 1u : 0u) | ((wp & MK_RBUTTON) ? 2u : 0u) |
                   ((wp & MK_MBUTTON) ? 4u : 0u);
    args.pos = {x, y};
    if (target != w) args.pos = {x - target->rect_.left, y - target->rect_.top};
    POINT screen{x, y};
    ClientToScreen(h, &screen);
    args.globalPos = {int(screen.x), int(screen.y)};

    MouseEvents* events = target->OwnMouse();
    const MouseHandler* handler = nullptr;
    if (events != nullptr)
      handler = IsPress(m)     ? &events->MouseDown
                : IsRelease(m) ? &events->MouseUp
                               : &events->MouseMove;
    if (IsRelease(m)) {
      // The press is over before its handler runs, which may open a modal
      // window: that one must get the mouse.
      w->pressed_ = nullptr;
      if (GetCapture() == h) ReleaseCapture();
    }
    if (handler != nullptr && *handler) {
      const MouseHandler copy = *handler;  // the handler may unload the window
      RunHandler([&] { copy(args); });
    }
  }
};

namespace {
// A call of the system that failed, with its error, on the diagnostic line:
// the window side goes on without what it could not make.
void ReportFailure(const char* call) {
  sys::Diagnostic(std::string(call) + " failed: error " + std::to_string(GetLastError()));
}

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = Procedure::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kWindowClass;
    if (RegisterClassExW(&wc) != 0) return true;
    ReportFailure("RegisterClassExW");
    return false;
  }();
  return registered;
}

// The system's tool-tip window for the tools of one window.
HWND MakeTips(HWND owner) {
  static const bool common = [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&init) != FALSE;
  }();
  (void)common;
  return CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                         WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

TTTOOLINFOW ToolOf(HWND holder, Widget* tool, bool windowed) {
  TTTOOLINFOW info{};
  info.cbSize = TTTOOLINFOW_V2_SIZE;  // understood by every version of the control
  info.uFlags = TTF_SUBCLASS | (windowed ? TTF_IDISHWND : 0u);
  info.hwnd = holder;
  info.uId =
      windowed ? reinterpret_cast<UINT_PTR>(tool->Handle()) : reinterpret_cast<UINT_PTR>(tool);
  return info;
}
}  // namespace

// ---------------------------------------------------------------- Widget

Widget::Widget(Widget* parent) : parent_(parent) {
  if (parent_ == nullptr) return;
  parent_->children_.push_back(this);
  parent_->windowless_.push_back(this);
}

void Widget::CreateWindowed(const wchar_t* windowClass, unsigned long style,
                            unsigned long exStyle) {
  if (windowClass == nullptr && !RegisterWindowClass()) return;
  HWND parentWindow = nullptr;
  if (parent_ != nullptr) {
    parentWindow = parent_->Handle();
    style |= WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    exStyle |= WS_EX_NOPARENTNOTIFY;
    Drop(parent_->windowless_, this);
  }
  hwnd_ = CreateWindowExW(exStyle, windowClass != nullptr ? windowClass : kWindowClass, L"",
                          style | WS_CLIPCHILDREN, 0, 0, 0, 0, parentWindow, nullptr,
                          GetModuleHandleW(nullptr), windowClass != nullptr ? nullptr : this);
  if (hwnd_ == nullptr) ReportFailure("CreateWindowExW");
  if (hwnd_ != nullptr && windowClass != nullptr) {
    // A standard control: its messages pass through ours first.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    originalProc_ =
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Procedure::Proc));
  }
}

Widget::~Widget() {
  *alive_ = false;
  // No more messages reach this object, as its parts go.
  if (hwnd_ != nullptr) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  while (!children_.empty()) delete children_.back();
  if (parent_ != nullptr) {
    Drop(parent_->children_, this);
    Drop(parent_->windowless_, this);
    if (parent_->pressed_ == this) parent_->pressed_ = nullptr;
    if (!tipText_.empty() && parent_->tips_ != nullptr) {
      TTTOOLINFOW info = ToolOf(parent_->Handle(), this, hwnd_ != nullptr);
      SendMessageW(parent_->tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    }
    if (hwnd_ == nullptr) Repaint();
  }
  if (tips_ != nullptr) DestroyWindow(tips_);
  if (hwnd_ != nullptr) {
    if (originalProc_ != 0) SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, originalProc_);
    DestroyWindow(hwnd_);
  }
}

HWND__* Widget::Handle() const {
  if (hwnd_ != nullptr) return hwnd_;
  return parent_ != nullptr ? parent_->Handle() : nullptr;
}

void Widget::Move(int left, int top) { Move(left, top, Width(), Height()); }

void Widget::Resize(int width, int height) { Move(Left(), Top(), width, height); }

void Widget::Move(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (hwnd_ != nullptr) {
    rect_ = {left, top, width, height};
    SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    Repaint();  // where it was
    rect_ = {left, top, width, height};
    Repaint();
  }
  SyncToolRect();
}

int Widget::Left() const { return parent_ == nullptr ? WindowRect().left : rect_.left; }
int Widget::Top() const { return parent_ == nullptr ? WindowRect().top : rect_.top; }
int Widget::Width() const { return parent_ == nullptr ? WindowRect().width : rect_.width; }
int Widget::Height() const { return parent_ == nullptr ? WindowRect().height : rect_.height; }

platform::Rect Widget::WindowRect() const {
  RECT r{};
  if (hwnd_ != nullptr) {
    if (!GetWindowRect(hwnd_, &r)) return {};
    return {int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top)};
  }
  POINT origin{rect_.left, rect_.top};
  if (HWND holder = Handle()) ClientToScreen(holder, &origin);
  return {int(origin.x), int(origin.y), rect_.width, rect_.height};
}

void Widget::Visible(bool on) {
  const bool changed = visible_ != on;
  visible_ = on;
  if (hwnd_ != nullptr) {
    ShowWindow(hwnd_, on ? SW_SHOWNA : SW_HIDE);
  } else if (changed) {
    Repaint();
  }
}

bool Widget::Visible() const {
  if (hwnd_ != nullptr) return IsWindowVisible(hwnd_) != FALSE;
  return visible_ && parent_ != nullptr && parent_->Visible();
}

void Widget::Enabled(bool on) {
  if (enabled_ == on) return;
  enabled_ = on;
  // Windows of our own stay enabled for the system: a disabled one lets its
  // presses through to its parent (see the hit test), as a windowless one does.
  if (hwnd_ != nullptr && originalProc_ != 0) EnableWindow(hwnd_, on ? TRUE : FALSE);
  Repaint();
}

void Widget::ZOrder(int position) {
  if (hwnd_ != nullptr) {
    SetWindowPos(hwnd_, position == 0 ? HWND_TOP : HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return;
  }
  if (parent_ == nullptr) return;
  auto& list = parent_->windowless_;
  Drop(list, this);
  list.insert(position == 0 ? list.end() : list.begin(), this);
  Repaint();
}

void Widget::ToolTipText(const std::string& text) {
  if (parent_ == nullptr || parent_->Handle() == nullptr) return;
  HWND holder = parent_->Handle();
  if (parent_->tips_ == nullptr) parent_->tips_ = MakeTips(holder);
  if (parent_->tips_ == nullptr) return;
  TTTOOLINFOW info = ToolOf(holder, this, hwnd_ != nullptr);
  const bool added = !tipText_.empty();
  tipText_ = Wide(text);
  info.lpszText = tipText_.data();
  info.rect = RectOf(rect_);
  SendMessageW(parent_->tips_, added ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW, 0,
               reinterpret_cast<LPARAM>(&info));
}

void Widget::SyncToolRect() {
  if (tipText_.empty() || hwnd_ != nullptr || parent_ == nullptr || parent_->tips_ == nullptr)
    return;
  TTTOOLINFOW info = ToolOf(parent_->Handle(), this, false);
  info.rect = RectOf(rect_);
  SendMessageW(parent_->tips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
}

void Widget::Repaint(bool now) {
  if (hwnd_ != nullptr) {
    InvalidateRect(hwnd_, nullptr, FALSE);
    if (now) UpdateWindow(hwnd_);
    return;
  }
  HWND holder = Handle();
  if (holder == nullptr) return;
  const RECT r = RectOf(rect_);
  InvalidateRect(holder, &r, FALSE);
  if (now) UpdateWindow(holder);
}

void Widget::Paint(HDC__* dc) { PaintChildren(dc); }

void Widget::PaintChildren(HDC__* dc) {
  for (Widget* child : windowless_) {
    if (!child->visible_ || child->rect_.width <= 0 || child->rect_.height <= 0) continue;
    const platform::Rect& r = child->rect_;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.left + r.width, r.top + r.height);
    OffsetViewportOrgEx(dc, r.left, r.top, nullptr);
    child->Paint(dc);
    RestoreDC(dc, saved);
  }
}

Widget* Widget::WindowlessAt(int x, int y) const {
  for (auto it = windowless_.rbegin(); it != windowless_.rend(); ++it) {
    const Widget* c = *it;
    const platform::Rect& r = c->rect_;
    if (c->visible_ && !c->passMouse_ && x >= r.left && x < r.left + r.width && y >= r.top &&
        y < r.top + r.height)
      return *it;
  }
  return nullptr;
}

bool Widget::Message(unsigned, std::uintptr_t, std::intptr_t, std::intptr_t&) { return false; }

// ---------------------------------------------------------------- Form

Form::Form() : Widget(nullptr), back_(GetSysColor(COLOR_BTNFACE)) {
  CreateWindowed(nullptr, WS_POPUP);
}

Form::~Form() = default;

void Form::Show() {
  loaded_ = true;
  RunHandler([this] { Form_Load(); });
  if (!loaded_ || Handle() == nullptr) return;
  ShowWindow(Handle(), SW_SHOW);
  UpdateWindow(Handle());
}

namespace {
BOOL CALLBACK CollectEnabled(HWND window, LPARAM list) {
  if (IsWindowVisible(window) && IsWindowEnabled(window))
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}
}  // namespace

void Form::ShowModal() {
  if (loaded_) return;
  loaded_ = true;
  RunHandler([this] { Form_Load(); });
  HWND hwnd = Handle();
  if (!loaded_ || hwnd == nullptr) return;
  // The program's other windows take no input until this one has unloaded.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  for (HWND w : disabled)
    if (w != hwnd) EnableWindow(w, FALSE);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  modal_ = true;
  const std::optional<int> quit = RunMessages([this] { return loaded_; });
  modal_ = false;
  for (HWND w : disabled)
    if (w != hwnd && IsWindow(w)) EnableWindow(w, TRUE);
  // The program is ending: the outer loop must see it too.
  if (quit) PostQuitMessage(*quit);
}

void Form::Unload() {
  if (!loaded_) return;
  loaded_ = false;  // an unload during unload finds the window closed
  RunHandler([this] { Form_QueryUnload(); });
  RunHandler([this] { Form_Unload(); });
  HWND hwnd = Handle();
  if (hwnd == nullptr) return;
  ShowWindow(hwnd, SW_HIDE);
  // A modal display waiting in GetMessage wakes and sees the window gone.
  if (modal_) PostMessageW(hwnd, WM_NULL, 0, 0);
}

void Form::Caption(const std::string& title) {
  if (Handle() != nullptr) SetWindowTextW(Handle(), Wide(title).c_str());
}

std::string Form::Caption() const {
  if (Handle() == nullptr) return {};
  std::wstring text(std::size_t(GetWindowTextLengthW(Handle())) + 1, L'\0');
  text.resize(std::size_t(GetWindowTextW(Handle(), text.data(), int(text.size()))));
  return Narrow(text);
}

void Form::Icon(const Image& picture) {
  icon_.reset();
  if (!picture.isNull()) {
    if (HICON made = MakeIcon(*picture.Pixels()))
      icon_.reset(made, [](HICON h) { DestroyIcon(h); });
  }
  if (Handle() == nullptr) return;
  const auto handle = reinterpret_cast<LPARAM>(icon_.get());
  SendMessageW(Handle(), WM_SETICON, ICON_BIG, handle);
  SendMessageW(Handle(), WM_SETICON, ICON_SMALL, handle);
}

void Form::BackColor(gdi::COLORREF colour) {
  back_ = colour;
  Repaint();
}

void Form::OnDropFiles(std::function<bool(const Paths&)> accepts,
                       std::function<void(const Paths&)> drop) {
  acceptsDrop_ = std::move(accepts);
  drop_ = std::move(drop);
  if (Handle() != nullptr) DragAcceptFiles(Handle(), acceptsDrop_ && drop_ ? TRUE : FALSE);
}

void Form::Paint(HDC__* dc) {
  RECT client{};
  GetClientRect(Handle(), &client);
  Fill(dc, 0, 0, client.right, client.bottom, back_);
  Widget::Paint(dc);
}

bool Form::Message(unsigned message, std::uintptr_t w, std::intptr_t, std::intptr_t& result) {
  switch (message) {
    case WM_CLOSE:
      Unload();
      result = 0;
      return true;
    case WM_DROPFILES: {
      auto* dropped = reinterpret_cast<HDROP>(w);
      Paths paths;
      const UINT count = DragQueryFileW(dropped, 0xFFFFFFFF, nullptr, 0);
      for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(dropped, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(dropped, i, path.data(), UINT(path.size())));
        paths.push_back(Narrow(path));
      }
      DragFinish(dropped);
      if (acceptsDrop_ && drop_ && acceptsDrop_(paths)) {
        const auto drop = drop_;
        RunHandler([&] { drop(paths); });
      }
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------- Frame

Frame::Frame(Widget* parent) : Widget(parent) { CreateWindowed(nullptr, 0); }

void Frame::Paint(HDC__* dc) {
  // What lies beneath: the parent's picture and its windowless controls.
  if (Widget* parent = Parent()) {
    const int saved = SaveDC(dc);
    OffsetViewportOrgEx(dc, -Left(), -Top(), nullptr);
    PaintWidget(parent, dc);
    RestoreDC(dc, saved);
  }
  Widget::Paint(dc);
}

// ---------------------------------------------------------------- PictureBoxView

PictureBoxView::PictureBoxView(platform::PictureBox* model, Widget* parent, int border)
    : Widget(parent), border_(border) {
  CreateWindowed(nullptr, 0);
  SetModel(model);
}

void PictureBoxView::SetModel(platform::PictureBox* model) {
  subscription_ = {};
  model_ = model;
  if (model_ == nullptr) return;
  subscription_ = platform::Subscription(model_->Changed(), [this] { ModelChanged(); });
  ModelChanged();
}

void PictureBoxView::ModelChanged() {
  const int w = model_->Width() + 2 * border_, h = model_->Height() + 2 * border_;
  if (w != Width() || h != Height()) Resize(w, h);
  if (!Visible()) return;
  // Drawing into a box without a persistent image appears at once.
  Repaint(!model_->Persistent());
}

void PictureBoxView::Paint(HDC__* dc) {
  const int w = Width(), h = Height();
  Fill(dc, 0, 0, w, h, GetSysColor(COLOR_BTNFACE));
  if (border_ > 0) {
    for (const platform::Strip& s : platform::SunkenBorder(w, h))
      Fill(dc, s.rect.left, s.rect.top, s.rect.width, s.rect.height, s.colour);
  }
  if (model_ != nullptr) {
    if (const gdi::Bitmap* bmp = model_->Image().Handle()) ShowBitmap(dc, border_, border_, *bmp);
  }
  Widget::Paint(dc);
}

bool PictureBoxView::Message(unsigned message, std::uintptr_t, std::intptr_t,
                             std::intptr_t& result) {
  if (message == WM_NCHITTEST && !Enabled()) {
    result = HTTRANSPARENT;  // presses go to the window beneath
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- ImageControl

ImageControl::ImageControl(Widget* parent, bool stretch) : Widget(parent), stretch_(stretch) {}

void ImageControl::Picture(const Image& picture) {
  picture_ = picture;
  Repaint();
}

void ImageControl::Paint(HDC__* dc) {
  const SkinPixels* pixels = picture_.Pixels();
  if (pixels == nullptr) return;
  if (stretch_) {
    ShowSkinImage(dc, 0, 0, Width(), Height(), *pixels);
  } else {
    ShowSkinImage(dc, 0, 0, pixels->width, pixels->height, *pixels);
  }
}

// ---------------------------------------------------------------- Label

Label::Label(Widget* parent, const std::string& caption, gdi::COLORREF text)
    : Widget(parent), caption_(caption), colour_(text) {}

void Label::Caption(const std::string& text) {
  caption_ = text;
  Repaint();
}

void Label::SetBoxed() {
  boxed_ = true;
  Repaint();
}

void Label::CentreCaption() {
  centred_ = true;
  Repaint();
}

int Label::CaptionWidth() const { return int(TextSize(Wide(caption_)).cx); }

void Label::AutoSize() {
  const SIZE size = TextSize(Wide(caption_));
  Resize(int(size.cx) + (boxed_ ? 6 : 0), int(size.cy) + (boxed_ ? 2 : 0));
}

void Label::Paint(HDC__* dc) {
  RECT r{0, 0, Width(), Height()};
  if (boxed_) {
    Fill(dc, 0, 0, r.right, r.bottom, RGB(255, 255, 255));
    HBRUSH frame = CreateSolidBrush(RGB(0, 0, 0));
    FrameRect(dc, &r, frame);
    DeleteObject(frame);
    r.left += 3;  // the border and the caption's indent
  }
  HGDIOBJ old = SelectObject(dc, SkinFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Enabled() ? colour_ : RGB(128, 128, 128));
  const UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP |
                      (centred_ ? DT_CENTER | DT_TOP : DT_LEFT | DT_VCENTER);
  const std::wstring wide = Wide(caption_);
  DrawTextW(dc, wide.c_str(), int(wide.size()), &r, format);
  SelectObject(dc, old);
}

// ---------------------------------------------------------------- ListBoxView

ListBoxView::ListBoxView(platform::ListBox& model, Widget* parent) : Widget(parent), model_(model) {
  CreateWindowed(L"LISTBOX", WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                 WS_EX_CLIENTEDGE);
  if (Handle() != nullptr)
    SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(SkinFont()), 0);
  subscription_ = platform::Subscription(model_.Changed(), [this] { Sync(); });
  Sync();
}

void ListBoxView::SetHorizontalExtent(int pixels) {
  extent_ = std::max(pixels, 0);
  if (Handle() != nullptr) SendMessageW(Handle(), LB_SETHORIZONTALEXTENT, WPARAM(extent_), 0);
}

void ListBoxView::Sync() {
  HWND list = Handle();
  if (list == nullptr) return;
  syncing_ = true;
  const auto& items = model_.Items();
  // The frame loop appends one entry at a time: add only what is new.
  const bool prefix =
      shown_.size() <= items.size() && std::equal(shown_.begin(), shown_.end(), items.begin());
  if (!prefix) {
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    shown_.clear();
  }
  for (std::size_t i = shown_.size(); i < items.size(); ++i) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(items[i]).c_str()));
    shown_.push_back(items[i]);
  }
  if (int(SendMessageW(list, LB_GETCURSEL, 0, 0)) != model_.ListIndex())
    SendMessageW(list, LB_SETCURSEL, WPARAM(model_.ListIndex()), 0);  // and scrolls to it
  syncing_ = false;
}

bool ListBoxView::Message(unsigned message, std::uintptr_t w, std::intptr_t l,
                          std::intptr_t& result) {
  if (message != WM_COMMAND || reinterpret_cast<HWND>(l) != Handle() || HIWORD(w) != LBN_SELCHANGE)
    return false;
  result = 0;
  if (syncing_) return true;
  const int row = int(SendMessageW(Handle(), LB_GETCURSEL, 0, 0));
  if (row == model_.ListIndex()) return true;
  model_.ListIndex(row);
  if (Click) {
    const auto click = Click;
    RunHandler(click);
  }
  return true;
}

// ---------------------------------------------------------------- VScrollBar

VScrollBar::VScrollBar(Widget* parent) : Widget(parent) {
  CreateWindowed(L"SCROLLBAR", SBS_VERT);
  ApplyRange();
}

void VScrollBar::Min(std::int32_t v) {
  min_ = v;
  ApplyRange();
}

void VScrollBar::Max(std::int32_t v) {
  max_ = v;
  ApplyRange();
}

void VScrollBar::ApplyRange() {
  if (Handle() == nullptr) return;
  // A reversed or empty range leaves the bar where it is: nothing to scroll.
  SCROLLINFO info{sizeof info, SIF_RANGE | SIF_POS, min_, RangeEnd(), 0, 0, 0};
  info.nPos = std::clamp(Value(), min_, RangeEnd());
  SetScrollInfo(Handle(), SB_CTL, &info, TRUE);
}

std::int32_t VScrollBar::Value() const {
  SCROLLINFO info{sizeof info, SIF_POS, 0, 0, 0, 0, 0};
  if (Handle() == nullptr || !GetScrollInfo(Handle(), SB_CTL, &info)) return min_;
  return info.nPos;
}

void VScrollBar::Value(std::int32_t v) {
  SCROLLINFO info{sizeof info, SIF_POS, 0, 0, 0, std::clamp(v, min_, RangeEnd()), 0};
  if (Handle() != nullptr) SetScrollInfo(Handle(), SB_CTL, &info, TRUE);
}

bool VScrollBar::Message(unsigned message, std::uintptr_t w, std::intptr_t l,
                         std::intptr_t& result) {
  if (message != WM_VSCROLL || reinterpret_cast<HWND>(l) != Handle()) return false;
  result = 0;
  const std::int32_t before = Value();
  std::int64_t v = before;
  bool dragging = false, released = false;
  SCROLLINFO track{sizeof track, SIF_TRACKPOS, 0, 0, 0, 0, 0};
  switch (LOWORD(w)) {
    case SB_LINEUP:
      v -= small_;
      break;
    case SB_LINEDOWN:
      v += small_;
      break;
    case SB_PAGEUP:
      v -= large_;
      break;
    case SB_PAGEDOWN:
      v += large_;
      break;
    case SB_TOP:
      v = min_;
      break;
    case SB_BOTTOM:
      v = RangeEnd();
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      GetScrollInfo(Handle(), SB_CTL, &track);
      v = track.nTrackPos;
      dragging = LOWORD(w) == SB_THUMBTRACK;
      released = !dragging;
      break;
    default:
      return true;
  }
  const auto value = std::int32_t(std::clamp<std::int64_t>(v, min_, RangeEnd()));
  if (value == before && !released) return true;
  Value(value);
  const auto handler = dragging ? Scroll : Change;
  if (handler) RunHandler(handler);
  return true;
}

// ---------------------------------------------------------------- MsgBox

namespace {
MessageBoxHook& MessageHook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { MessageHook() = std::move(hook); }

void MsgBox(Form* owner, const std::string& text, const std::string& title, int style) {
  if (auto& hook = MessageHook()) {
    hook(owner, text, title, style);
    return;
  }
  // Only the icon bits of the style: the box always has its one OK button.
  MessageBoxW(owner != nullptr ? owner->Handle() : nullptr, Wide(text).c_str(), Wide(title).c_str(),
              MB_OK | (UINT(style) & MB_ICONMASK));
}

// ---------------------------------------------------------------- Timer

namespace {
// The running timers of the window thread, by the system's id.
std::map<UINT_PTR, Timer*>& Running() {
  static std::map<UINT_PTR, Timer*> running;
  return running;
}

void CALLBACK TimerTicked(HWND, UINT, UINT_PTR id, DWORD) {
  const auto it = Running().find(id);
  if (it == Running().end()) return;
  Timer* timer = it->second;
  if (timer->Tick) {
    const auto tick = timer->Tick;  // the handler may disable or destroy the timer
    RunHandler(tick);
  }
}
}  // namespace

Timer::~Timer() { Enabled(false); }

void Timer::Enabled(bool on) {
  if (on && id_ == 0) {
    id_ = SetTimer(nullptr, 0, UINT(std::max(interval_, int(USER_TIMER_MINIMUM))), TimerTicked);
    if (id_ != 0) Running()[id_] = this;
  } else if (!on && id_ != 0) {
    KillTimer(nullptr, id_);
    Running().erase(id_);
    id_ = 0;
  }
}

void Timer::Interval(int ms) {
  interval_ = std::max(ms, 0);
  if (id_ != 0) {
    Enabled(false);
    Enabled(true);
  }
}

std::optional<int> RunMessages(const std::function<bool()>& keepGoing) {
  MSG msg{};
  while (keepGoing()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return int(msg.wParam);
    if (got < 0) {
      ReportFailure("GetMessageW");
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return std::nullopt;
}

void PumpMessages() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace win32

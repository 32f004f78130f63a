#include "platform/win32/controls.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/system/system.h"

namespace win32 {

namespace {

constexpr wchar_t kFormClass[] = L"VelkorForm";

std::wstring Wide(const std::string& s) { return sys::PathOf(s).native(); }

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

MouseArgs ArgsOf(HWND window, UINT message, WPARAM w, LPARAM l) {
  MouseArgs args;
  args.button = ButtonOf(message);
  args.buttons =
      ((w & MK_LBUTTON) ? 1u : 0u) | ((w & MK_RBUTTON) ? 2u : 0u) | ((w & MK_MBUTTON) ? 4u : 0u);
  args.pos = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
  POINT screen{args.pos.x, args.pos.y};
  ClientToScreen(window, &screen);
  args.globalPos = {int(screen.x), int(screen.y)};
  return args;
}

void Dispatch(const MouseHandler& handler, const MouseArgs& args) {
  if (!handler) return;
  // The handler may unload the window; it runs on a copy.
  const MouseHandler h = handler;
  RunHandler([&] { h(args); });
}

}  // namespace

bool RunHandler(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Velkor: a handler failed: %s\n", e.what());
    return false;
  }
}

// ---------------------------------------------------------------- Form

struct FormProcedure {
  static LRESULT CALLBACK Proc(HWND h, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    Form* form = reinterpret_cast<Form*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(h, message, w, l);
    switch (message) {
      case WM_CLOSE:
        form->Unload();
        return 0;
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
      case WM_LBUTTONDBLCLK:  // a second press is a press
      case WM_RBUTTONDBLCLK:
      case WM_MBUTTONDBLCLK:
        // The window keeps the mouse until the button is released.
        SetCapture(h);
        Dispatch(form->Mouse.MouseDown, ArgsOf(h, message, w, l));
        return 0;
      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        if (GetCapture() == h) ReleaseCapture();
        Dispatch(form->Mouse.MouseUp, ArgsOf(h, message, w, l));
        return 0;
      case WM_MOUSEMOVE:
        Dispatch(form->Mouse.MouseMove, ArgsOf(h, message, w, l));
        return 0;
      default:
        return DefWindowProcW(h, message, w, l);
    }
  }
};

namespace {
bool RegisterFormClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = FormProcedure::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc) != 0;
  }();
  return registered;
}
}  // namespace

Form::Form() {
  if (!RegisterFormClass()) return;
  hwnd_ = CreateWindowExW(0, kFormClass, L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, nullptr,
                          nullptr, GetModuleHandleW(nullptr), this);
}

Form::~Form() {
  if (hwnd_ == nullptr) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);  // no more events reach this object
  DestroyWindow(hwnd_);
}

void Form::Show() {
  loaded_ = true;
  RunHandler([this] { Form_Load(); });
  if (loaded_ && hwnd_ != nullptr) ShowWindow(hwnd_, SW_SHOW);
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
  if (!loaded_ || hwnd_ == nullptr) return;
  // The program's other windows take no input until this one has unloaded.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  for (HWND w : disabled)
    if (w != hwnd_) EnableWindow(w, FALSE);
  ShowWindow(hwnd_, SW_SHOW);
  modal_ = true;
  MSG msg{};
  bool quit = false;
  while (loaded_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;  // the program is ending: the outer loop must see it too
      break;
    }
    if (got < 0) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  modal_ = false;
  for (HWND w : disabled)
    if (w != hwnd_ && IsWindow(w)) EnableWindow(w, TRUE);
  if (quit) PostQuitMessage(int(msg.wParam));
}

void Form::Unload() {
  if (!loaded_) return;
  loaded_ = false;  // an unload during unload finds the window closed
  RunHandler([this] { Form_QueryUnload(); });
  RunHandler([this] { Form_Unload(); });
  if (hwnd_ == nullptr) return;
  ShowWindow(hwnd_, SW_HIDE);
  // A modal display waiting in GetMessage wakes and sees the window gone.
  if (modal_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void Form::Move(int left, int top) {
  if (hwnd_ != nullptr)
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::Move(int left, int top, int width, int height) {
  if (hwnd_ != nullptr)
    SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::Resize(int width, int height) {
  if (hwnd_ != nullptr)
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

platform::Rect Form::WindowRect() const {
  RECT r{};
  if (hwnd_ == nullptr || !GetWindowRect(hwnd_, &r)) return {};
  return {int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top)};
}

int Form::Left() const { return WindowRect().left; }
int Form::Top() const { return WindowRect().top; }
int Form::Width() const { return WindowRect().width; }
int Form::Height() const { return WindowRect().height; }
bool Form::Visible() const { return hwnd_ != nullptr && IsWindowVisible(hwnd_); }

void Form::Caption(const std::string& title) {
  if (hwnd_ != nullptr) SetWindowTextW(hwnd_, Wide(title).c_str());
}

std::string Form::Caption() const {
  if (hwnd_ == nullptr) return {};
  std::wstring text(std::size_t(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
  text.resize(std::size_t(GetWindowTextW(hwnd_, text.data(), int(text.size()))));
  return sys::Utf8Of(std::filesystem::path(text));
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

}  // namespace win32

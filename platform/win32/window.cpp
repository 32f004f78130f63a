#include "platform/win32/window.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <commdlg.h>
// The name of this side's own function, not the system's wide or narrow one.
#undef GetOpenFileName

#include <cmath>
#include <vector>

#include "platform/system/system.h"

namespace win32 {

using sys::Wide;

namespace {
OpenFileHook& OpenHook() {
  static OpenFileHook hook;
  return hook;
}
}  // namespace

Image SkinImage(const std::string& name) {
  auto pixels = LoadSkinImage(name);
  return pixels ? Image(std::move(*pixels)) : Image();
}

Cursor SkinCursor(const std::string& name, int hotX, int hotY) {
  const auto pixels = LoadSkinImage(name);
  return pixels ? Cursor(MakeCursor(*pixels, hotX, hotY)) : Cursor();
}

platform::Picture SkinPicture(const std::string& name) {
  const auto pixels = LoadSkinImage(name);
  return pixels ? PictureOf(*pixels) : platform::Picture();
}

platform::Size Screen() {
  const ScreenMetrics m = ReadScreen();
  return {m.width, m.height};
}

double TwipsPerPixelX() { return ReadScreen().twipsPerPixelX; }
double TwipsPerPixelY() { return ReadScreen().twipsPerPixelY; }

void CentreWindowInTwips(Form& window) {
  const ScreenMetrics m = ReadScreen();
  window.Move(platform::CentreInTwips(m.width, window.Width(), m.twipsPerPixelX),
              platform::CentreInTwips(m.height, window.Height(), m.twipsPerPixelY));
}

bool CursorPosition(platform::Point& out) {
  POINT p{};
  if (!::GetCursorPos(&p)) return false;
  out = {int(p.x), int(p.y)};
  return true;
}

void AnimateRects(Form* window, const platform::Rect& from, const platform::Rect& to) {
  const RECT a{from.left, from.top, from.left + from.width, from.top + from.height};
  const RECT b{to.left, to.top, to.left + to.width, to.top + to.height};
  DrawAnimatedRects(window != nullptr ? window->Handle() : nullptr, IDANI_CAPTION, &a, &b);
}

void SetOpenFileHook(OpenFileHook hook) { OpenHook() = std::move(hook); }

std::optional<std::string> GetOpenFileName(const OpenFileRequest& r) {
  if (auto& hook = OpenHook()) return hook(r);
  // The filter: the description, then the pattern, each ended by a null,
  // and one more null after the last pair.
  std::wstring filter = Wide(r.filterDescription);
  filter += L'\0';
  filter += Wide(r.pattern);
  filter += L'\0';
  const std::wstring title = Wide(r.title), folder = Wide(r.initialDir);
  std::vector<wchar_t> file(32768, L'\0');  // the longest path the system takes
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = r.owner != nullptr ? r.owner->Handle() : nullptr;
  ofn.lpstrFilter = filter.c_str();  // its last null is the string's own
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = DWORD(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&ofn)) {
    // A cancel is no failure; anything else is said with the dialog's error.
    if (const DWORD error = CommDlgExtendedError(); error != 0) {
      sys::Diagnostic("GetOpenFileNameW failed: error " + std::to_string(error));
    }
    return std::nullopt;
  }
  return sys::Narrow(file.data());
}

// The program does not declare itself aware of the screen's scaling: its
// windows are laid out in pixels round fixed-size skin pictures and a 13-pixel
// font, so on a scaled screen the system enlarges each window whole, as it did
// for the program of old, rather than leaving larger text in the same boxes.
Application::Application(int&, char**) {}

void Application::Name(const std::string&, const std::string&) {
  // The windows carry their own captions; the system keeps no other name.
}

int Application::Run() {
  return RunMessages([] { return true; }).value_or(1);  // none: the system failed
}

void InstallYieldHook() { sys::SetYieldHook(PumpMessages); }

void Quit() { PostQuitMessage(0); }

}  // namespace win32

// The window side on Windows, in the terms the windows use (see
// platform/window/window.h): the controls of platform/win32/controls.h, the
// skin's pictures from the program's resources, and the system's own screen,
// pointer, zoom rectangles, file dialog and message loop.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/picture/picture.h"
#include "platform/win32/controls.h"
#include "platform/window/types.h"

namespace win32 {

// Tells whether a window still exists after a step that may have closed it.
template <typename T>
class Alive {
 public:
  explicit Alive(T* widget) : widget_(widget), alive_(widget ? widget->Lifetime() : nullptr) {}
  explicit operator bool() const { return alive_ && *alive_; }
  T* operator->() const { return widget_; }

 private:
  T* widget_;
  std::shared_ptr<const bool> alive_;
};

// A skin picture by its file name ("title.png"); null when there is none.
Image SkinImage(const std::string& name);
// The skin picture `name` as a pointer with its hot spot at (hotX, hotY).
Cursor SkinCursor(const std::string& name, int hotX, int hotY);
// The skin picture `name` as a picture for the drawing layer, without its
// transparency.
platform::Picture SkinPicture(const std::string& name);

// The screen's size in pixels and the twips one pixel spans across and down.
platform::Size Screen();
double TwipsPerPixelX();
double TwipsPerPixelY();
// Moves a window of its current size to the screen's centre, worked out in
// twips (see platform::CentreInTwips).
void CentreWindowInTwips(Form& window);

// The pointer's position on the screen; false when it cannot be read.
bool CursorPosition(platform::Point& out);

// Animates a caption bar between two screen rectangles (DrawAnimatedRects).
void AnimateRects(Form* window, const platform::Rect& from, const platform::Rect& to);

using OpenFileRequest = platform::OpenFileRequest<Form>;
using OpenFileHook = std::function<std::optional<std::string>(const OpenFileRequest&)>;
void SetOpenFileHook(OpenFileHook hook);  // empty: the real dialog
// The chosen file's path; none when the dialog was cancelled.
std::optional<std::string> GetOpenFileName(const OpenFileRequest& request);

// The program's message loop and what it needs set up first.
class Application {
 public:
  Application(int& argc, char** argv);
  // The name and version the program goes by.
  void Name(const std::string& name, const std::string& version);
  // Runs the message loop until the program ends; its exit status.
  int Run();
};

// Routes sys::DoEvents to the message loop.
void InstallYieldHook();
// Ends the program's message loop.
void Quit();

}  // namespace win32

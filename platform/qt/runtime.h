// The window system's services for Velkor's windows: the application object
// (which knows the global position of the mouse event being handled), screen
// metrics, the yield hook, the skin font and pictures, the message box and the
// file-open dialog (both behind seams that tests replace), the animated zoom
// rectangles and the single-instance lock.
#pragma once

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>

#include <functional>
#include <optional>
#include <string>

#include "platform/picture/picture.h"
#include "platform/system/system.h"
#include "platform/window/types.h"

class QWidget;

namespace qtplat {

class Form;

// The program's application object. It records the global position of every
// mouse event while that event is being handled, so that GetCursorPos answers
// with the position the handler is reacting to (a synthesised test event does
// not move the real cursor).
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  ~Application() override;
  // The name and version the program goes by.
  void Name(const std::string& name, const std::string& version);
  // Runs the event loop until the program ends; its exit status. A stop
  // request (sys::StopRequested: SIGTERM, SIGINT, SIGHUP) ends every event
  // loop, the windows' own included, with 128 + the signal: a split in
  // progress stops at its next frame, finishes the frames it handed over and
  // removes its temporary files on the way out, as a press on it would.
  int Run();
  bool notify(QObject* receiver, QEvent* event) override;
};

// Routes sys::DoEvents to the Qt event loop.
void InstallYieldHook();

// The global position of the mouse event being handled, else the cursor's.
// Returns false when no screen is there to ask.
bool GetCursorPos(QPoint& out);

// Screen size in pixels and the twips-per-pixel factors (1440 / logical dpi).
QSize ScreenSize();
// Tests lay windows out for a screen of another size; an empty size restores
// the real screen's.
void SetScreenSizeOverride(QSize size);
double TwipsPerPixelX();
double TwipsPerPixelY();

using platform::CentreInTwips;
// Moves a window of its current size to the screen's centre, so computed.
void CentreWindowInTwips(QWidget& window);

// "ＭＳ Ｐゴシック" 9.75 pt, with IPAPGothic as the face that stands in for it.
QFont SkinFont();

// A skin picture embedded in the program (":/skin/NAME").
QPixmap SkinPixmap(const QString& name);

// Conversions between Qt images and the drawing layer's pictures.
platform::Picture PictureFromImage(const QImage& image);
QImage ImageOfBitmap(const gdi::Bitmap& bmp);  // a view on 32-bit pixels, a copy otherwise

// Message box with one OK button; style 48 shows the exclamation icon.
using MessageBoxHook = std::function<void(QWidget* owner, const std::string& text,
                                          const std::string& title, int style)>;
void SetMessageBoxHook(MessageBoxHook hook);  // empty: the real message box
void MsgBox(QWidget* owner, const std::string& text, const std::string& title, int style);

// The file-open dialog's request (the seam tests replace it through).
using OpenFileRequest = platform::OpenFileRequest<Form>;
using OpenFileHook = std::function<std::optional<std::string>(const OpenFileRequest&)>;
void SetOpenFileHook(OpenFileHook hook);  // empty: the real dialog
std::optional<std::string> GetOpenFileName(const OpenFileRequest& request);
using sys::MatchesPattern;

// Animates a caption bar from one screen rectangle to another and returns
// when it has been drawn. No user input is handled meanwhile, and no timer of
// the program ticks. The duration (about a quarter of a second) can be set to
// 0, which draws nothing.
constexpr int IDANI_CAPTION = 3;
void DrawAnimatedRects(QWidget* window, int idAni, const QRect& from, const QRect& to);
void SetZoomDuration(int ms);
bool ZoomInProgress();
// Tests watch which rectangles the zoom effects are asked to animate.
using ZoomObserver = std::function<void(const QRect& from, const QRect& to)>;
void SetZoomObserver(ZoomObserver observer);

}  // namespace qtplat

#include "platform/qt/runtime.h"

#include "platform/qt/window.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <vector>

#include "platform/system/system.h"

namespace qtplat {

namespace {

std::vector<QPoint>& EventPositions() {
  static std::vector<QPoint> stack;
  return stack;
}

bool IsMouseEvent(QEvent::Type t) {
  return t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease ||
         t == QEvent::MouseMove || t == QEvent::MouseButtonDblClick;
}

MessageBoxHook& MessageHook() {
  static MessageBoxHook hook;
  return hook;
}

OpenFileHook& OpenHook() {
  static OpenFileHook hook;
  return hook;
}

int& ZoomMs() {
  static int ms = 250;
  return ms;
}

bool zooming = false;
QSize screenOverride;
ZoomObserver zoomObserver;

// The caption bar that DrawAnimatedRects moves across the screen.
class ZoomBar : public QWidget {
 public:
  ZoomBar()
      : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                             Qt::X11BypassWindowManagerHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, QColor(0, 0, 128));
    g.setColorAt(1, QColor(16, 132, 208));
    p.fillRect(rect(), g);
  }
};

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}
Application::~Application() = default;

int Application::Run() {
  // A signal handler may do no more than set a flag: this looks at it from
  // the event loop (a split's frame loop lets it run between frames).
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [] {
    if (sys::StopRequested()) QCoreApplication::exit(sys::StopStatus());
  });
  watch.start(50);
  return exec();
}

void Application::Name(const std::string& name, const std::string& version) {
  QCoreApplication::setApplicationName(QString::fromStdString(name));
  QCoreApplication::setApplicationVersion(QString::fromStdString(version));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  // The last resort: every handler of Velkor's own runs inside RunHandler,
  // so nothing is expected here; an exception from Qt's own code would
  // otherwise end the program.
  try {
    if (!IsMouseEvent(event->type())) return QApplication::notify(receiver, event);
    auto* me = static_cast<QMouseEvent*>(event);
    EventPositions().push_back(me->globalPosition().toPoint());
    struct Pop {
      ~Pop() { EventPositions().pop_back(); }
    } pop;
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    qWarning("Velkor: an event handler failed: %s", e.what());
    return false;
  }
}

void InstallYieldHook() {
  sys::SetYieldHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

bool GetCursorPos(QPoint& out) {
  if (!EventPositions().empty()) {
    out = EventPositions().back();
    return true;
  }
  if (QGuiApplication::primaryScreen() == nullptr) return false;
  out = QCursor::pos();
  return true;
}

void SetScreenSizeOverride(QSize size) { screenOverride = size; }

QSize ScreenSize() {
  if (!screenOverride.isEmpty()) return screenOverride;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().size() : QSize(1024, 768);
}

double TwipsPerPixelX() {
  QScreen* s = QGuiApplication::primaryScreen();
  const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
  return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

double TwipsPerPixelY() {
  QScreen* s = QGuiApplication::primaryScreen();
  const double dpi = s ? s->logicalDotsPerInchY() : 96.0;
  return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

void CentreWindowInTwips(QWidget& window) {
  const QSize screen = ScreenSize();
  window.move(CentreInTwips(screen.width(), window.width(), TwipsPerPixelX()),
              CentreInTwips(screen.height(), window.height(), TwipsPerPixelY()));
}

QFont SkinFont() {
  QFont f;
  f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
  f.setPointSizeF(9.75);
  f.setWeight(QFont::Normal);
  return f;
}

QPixmap SkinPixmap(const QString& name) { return QPixmap(QStringLiteral(":/skin/") + name); }

Image SkinImage(const std::string& name) { return SkinPixmap(QString::fromStdString(name)); }

Cursor SkinCursor(const std::string& name, int hotX, int hotY) {
  return QCursor(SkinImage(name), hotX, hotY);
}

platform::Picture SkinPicture(const std::string& name) {
  return PictureFromImage(SkinImage(name).toImage());
}

platform::Size Screen() {
  const QSize s = ScreenSize();
  return {s.width(), s.height()};
}

bool CursorPosition(platform::Point& out) {
  QPoint p;
  if (!GetCursorPos(p)) return false;
  out = {p.x(), p.y()};
  return true;
}

void AnimateRects(Form* window, const platform::Rect& from, const platform::Rect& to) {
  DrawAnimatedRects(window, IDANI_CAPTION, QRect(from.left, from.top, from.width, from.height),
                    QRect(to.left, to.top, to.width, to.height));
}

void Quit() { QCoreApplication::quit(); }

platform::Picture PictureFromImage(const QImage& image) {
  const QImage src = image.convertToFormat(QImage::Format_RGB32);
  auto bmp = gdi::Bitmap::Create(src.width(), src.height(), gdi::Format::Rgb32);
  if (!bmp) return {};
  bmp->DiscardPendingZero();
  for (int y = 0; y < src.height(); ++y) {
    const auto* line = reinterpret_cast<const std::uint32_t*>(src.constScanLine(y));
    std::uint32_t* row = bmp->Row32(y);
    for (int x = 0; x < src.width(); ++x) row[x] = line[x] & 0x00FFFFFFu;
  }
  return platform::Picture(std::move(*bmp));
}

QImage ImageOfBitmap(const gdi::Bitmap& bmp) {
  if (bmp.Width() == 0 || bmp.Height() == 0) return {};
  if (bmp.PixelFormat() == gdi::Format::Rgb32) {
    return QImage(reinterpret_cast<const uchar*>(bmp.Row32(0)), bmp.Width(), bmp.Height(),
                  qsizetype(bmp.Width()) * 4, QImage::Format_RGB32);
  }
  QImage img(bmp.Width(), bmp.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bmp.Height(); ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
    for (int x = 0; x < bmp.Width(); ++x) line[x] = gdi::ToPixel32(bmp.ColorAt(x, y));
  }
  return img;
}

void SetMessageBoxHook(MessageBoxHook hook) { MessageHook() = std::move(hook); }

void MsgBox(QWidget* owner, const std::string& text, const std::string& title, int style) {
  if (auto& hook = MessageHook()) {
    hook(owner, text, title, style);
    return;
  }
  QMessageBox box(owner);
  box.setWindowTitle(QString::fromStdString(title));
  box.setText(QString::fromStdString(text));
  box.setIcon((style & 0x70) == 48 ? QMessageBox::Warning : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.setFont(SkinFont());
  box.exec();
}

void SetOpenFileHook(OpenFileHook hook) { OpenHook() = std::move(hook); }

std::optional<std::string> GetOpenFileName(const OpenFileRequest& r) {
  if (auto& hook = OpenHook()) return hook(r);
  QFileDialog dialog(r.owner, QString::fromStdString(r.title),
                     QString::fromStdString(r.initialDir));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The description ends in "(gif)", which the dialog would read as the
  // pattern: the real pattern goes in a last pair of parentheses, which the
  // dialog hides. Name filters of this dialog ignore case, so ANIM.GIF shows.
  dialog.setNameFilter(QString::fromStdString(r.filterDescription + " (" + r.pattern + ")"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.size() != 1) return std::nullopt;
  return files.front().toStdString();
}

void DrawAnimatedRects(QWidget* window, int idAni, const QRect& from, const QRect& to) {
  (void)window;
  if (zoomObserver) zoomObserver(from, to);
  if (idAni != IDANI_CAPTION || ZoomMs() <= 0 || zooming) return;
  zooming = true;
  struct Done {
    ~Done() { zooming = false; }
  } done;
  // The bar is a caption's height; it grows (or shrinks) with the rectangle's
  // width and travels from one rectangle's top to the other's.
  constexpr int kCaption = 18;
  ZoomBar bar;
  QElapsedTimer clock;
  clock.start();
  const int total = ZoomMs();
  for (;;) {
    const double t = std::min(1.0, double(clock.elapsed()) / total);
    auto lerp = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    const int left = lerp(from.left(), to.left());
    const int top = lerp(from.top(), to.top());
    const int width = std::max(1, lerp(from.width(), to.width()));
    const int height = std::max(1, std::min(kCaption, lerp(from.height(), to.height())));
    bar.setGeometry(left, top, width, height);
    if (!bar.isVisible()) bar.show();
    bar.repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (t >= 1.0) break;
    QThread::msleep(15);
  }
}

void SetZoomDuration(int ms) { ZoomMs() = std::max(ms, 0); }
bool ZoomInProgress() { return zooming; }
void SetZoomObserver(ZoomObserver observer) { zoomObserver = std::move(observer); }

}  // namespace qtplat

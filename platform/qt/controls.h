// The controls of Velkor's windows: thin Qt views over the headless models of
// platform/controls, plus the image, label, scroll bar and timer controls and
// the window base class with load, query-unload, unload and modal display.
#pragma once

#include <QCursor>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/window/types.h"

class QEventLoop;

namespace qtplat {

using platform::MouseArgs;
using platform::MouseHandler;
using platform::RunHandler;

// Mouse event handlers a control passes its events to. A control that has a
// press keeps receiving the mouse until the button is released, wherever the
// pointer goes.
struct MouseEvents {
  MouseHandler MouseDown, MouseUp, MouseMove;
  bool Handle(QEvent* e);  // true when the event was a mouse event handled here
};

// The place, the look and the state of every control and window, in the
// windows' own terms; `Base`, the Qt widget, does the work.
template <typename Base>
class Control : public Base {
 public:
  using Base::Base;
  void Move(int left, int top) { Base::move(left, top); }
  void Move(int left, int top, int width, int height) {
    Base::setGeometry(left, top, width, height);
  }
  void Resize(int width, int height) { Base::resize(width, height); }
  int Left() const { return Base::x(); }
  int Top() const { return Base::y(); }
  int Width() const { return Base::width(); }
  int Height() const { return Base::height(); }
  // The window's rectangle on the screen, its frame included.
  platform::Rect WindowRect() const {
    const QRect r = Base::frameGeometry();
    return {r.x(), r.y(), r.width(), r.height()};
  }
  void Visible(bool on) { Base::setVisible(on); }
  bool Visible() const { return Base::isVisible(); }
  void Enabled(bool on) { Base::setEnabled(on); }
  bool Enabled() const { return Base::isEnabled(); }
  void MouseIcon(const QCursor& cursor) { Base::setCursor(cursor); }
  void ToolTipText(const std::string& text) { Base::setToolTip(QString::fromStdString(text)); }
  // 0 brings the control in front of its siblings, 1 sends it behind them.
  void ZOrder(int position) { position == 0 ? Base::raise() : Base::lower(); }
};

// A plain container: its children are clipped to it.
class Frame : public Control<QWidget> {
 public:
  using Control<QWidget>::Control;
};

// A top-level, borderless window. Load runs before the window is shown; a
// close request of any kind runs query-unload then unload; ShowModal returns
// once the window has unloaded.
class Form : public Control<QWidget> {
 public:
  explicit Form(QWidget* parent = nullptr);
  void Caption(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }
  void Icon(const QPixmap& picture) { setWindowIcon(QIcon(picture)); }
  void BackColor(gdi::COLORREF colour);
  // Files dropped on the window, as local paths (a dropped item that is not
  // a local file is an empty path): `accepts` says whether the window takes
  // them, `drop` takes them. Unset: the window takes no drops.
  using Paths = std::vector<std::string>;
  void OnDropFiles(std::function<bool(const Paths&)> accepts,
                   std::function<void(const Paths&)> drop);
  // Presses and releases on the window itself, outside its controls.
  MouseEvents Mouse;
  ~Form() override;

  void Show();       // load, then show; returns at once
  void ShowModal();  // load, show, and wait until unloaded
  void Unload();     // does nothing when not loaded
  bool Loaded() const { return loaded_; }

 protected:
  virtual void Form_Load() {}
  virtual void Form_QueryUnload() {}
  virtual void Form_Unload() {}
  void closeEvent(QCloseEvent* e) override;
  bool event(QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  std::function<bool(const Paths&)> acceptsDrop_;
  std::function<void(const Paths&)> drop_;
  bool loaded_ = false;
  QEventLoop* loop_ = nullptr;
};

// Shows a platform::PictureBox: the model's image is painted as it is, the
// view takes the model's size (plus the border), and mouse events go to the
// handlers. A box with a persistent image repaints when refreshed; one
// without repaints at once after every drawing.
class PictureBoxView : public Control<QWidget> {
 public:
  PictureBoxView(platform::PictureBox* model, QWidget* parent, int border = 0);
  // Shows another model, or none (nothing is painted and the size stays).
  void SetModel(platform::PictureBox* model);
  platform::PictureBox* Model() const { return model_; }
  MouseEvents Mouse;

 protected:
  void paintEvent(QPaintEvent*) override;
  bool event(QEvent* e) override;

 private:
  void ModelChanged();
  platform::PictureBox* model_ = nullptr;
  platform::Subscription subscription_;
  int border_ = 0;
};

// An image control: shows a picture, stretched to the control or at its own
// size, and passes mouse events on.
class ImageControl : public Control<QWidget> {
 public:
  explicit ImageControl(QWidget* parent, bool stretch = false);
  void Picture(const QPixmap& pic);  // a null pixmap shows nothing
  const QPixmap& Picture() const { return picture_; }
  MouseEvents Mouse;

 protected:
  void paintEvent(QPaintEvent*) override;
  bool event(QEvent* e) override;

 private:
  QPixmap picture_;
  bool stretch_;
};

// A label in the skin font, transparent unless given a background.
class Label : public Control<QLabel> {
 public:
  Label(QWidget* parent, const std::string& caption, gdi::COLORREF text = gdi::RGB(0, 0, 0));
  void Caption(const std::string& text) { setText(QString::fromStdString(text)); }
  std::string Caption() const { return text().toStdString(); }
  // White background with a single-line border.
  void SetBoxed();
  // The caption centred across the label, from its top.
  void CentreCaption() { setAlignment(Qt::AlignHCenter | Qt::AlignTop); }
  // Sizes the label to its caption.
  void AutoSize() { adjustSize(); }
  // The caption's width in pixels in the label's font.
  int CaptionWidth() const { return fontMetrics().horizontalAdvance(text()); }
  // Presses go through the label to whatever lies beneath it.
  void PassMouseThrough() { setAttribute(Qt::WA_TransparentForMouseEvents); }
  MouseEvents Mouse;

 protected:
  bool event(QEvent* e) override;
};

// Shows a platform::ListBox. Choosing an entry sets the model's selection and
// raises Click; the horizontal extent is the scrollable width in pixels.
class ListBoxView : public Control<QListWidget> {
 public:
  ListBoxView(platform::ListBox& model, QWidget* parent);
  void SetHorizontalExtent(int pixels);
  int HorizontalExtent() const { return extent_; }
  std::function<void()> Click;

 private:
  void Sync();
  QSize ItemSize() const { return {extent_, fontMetrics().height() + 2}; }
  platform::ListBox& model_;
  platform::Subscription subscription_;
  int extent_ = 0;
  bool syncing_ = false;
};

// A vertical scroll bar with the window system's range rules kept as set: a
// maximum below the minimum is stored as given and shown as no movement.
class VScrollBar : public Control<QScrollBar> {
 public:
  explicit VScrollBar(QWidget* parent);
  void Min(std::int32_t v);
  void Max(std::int32_t v);
  std::int32_t Min() const { return min_; }
  std::int32_t Max() const { return max_; }
  void LargeChange(std::int32_t v);
  void SmallChange(std::int32_t v);
  std::int32_t LargeChange() const { return pageStep(); }
  std::int32_t SmallChange() const { return singleStep(); }
  std::int32_t Value() const { return value(); }
  std::function<void()> Change;  // the value changed by a click or a thumb release
  std::function<void()> Scroll;  // the thumb is being dragged

 private:
  void ApplyRange();
  std::int32_t min_ = 0, max_ = 32767;
};

// A timer control: ticks every Interval milliseconds while Enabled. It does
// not tick while a zoom animation is being drawn.
class Timer : public QObject {
 public:
  Timer();
  void Enabled(bool on);
  bool Enabled() const { return timer_.isActive(); }
  void Interval(int ms);
  int Interval() const { return timer_.interval(); }
  std::function<void()> Tick;

 private:
  QTimer timer_;
};

}  // namespace qtplat

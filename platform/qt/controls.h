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

#include "platform/controls/controls.h"
#include "platform/window/types.h"

class QEventLoop;

namespace qtplat {

using MouseArgs = platform::MouseArgs;
using MouseHandler = std::function<void(const MouseArgs&)>;

// The boundary round every handler the window side calls (mouse, click,
// scroll, timer, load and unload): an exception leaving the handler (running
// out of memory, in practice, where a run or a picture load does not refuse
// it itself) ends that handler's step there and never unwinds through Qt,
// which neither expects nor survives it. Returns false when it did.
bool RunHandler(const std::function<void()>& step);

// Mouse event handlers a control passes its events to. A control that has a
// press keeps receiving the mouse until the button is released, wherever the
// pointer goes.
struct MouseEvents {
  MouseHandler MouseDown, MouseUp, MouseMove;
  bool Handle(QEvent* e);  // true when the event was a mouse event handled here
};

// A top-level, borderless window. Load runs before the window is shown; a
// close request of any kind runs query-unload then unload; ShowModal returns
// once the window has unloaded.
class Form : public QWidget {
 public:
  explicit Form(QWidget* parent = nullptr);
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

 private:
  bool loaded_ = false;
  QEventLoop* loop_ = nullptr;
};

// Shows a platform::PictureBox: the model's image is painted as it is, the
// view takes the model's size (plus the border), and mouse events go to the
// handlers. A box with a persistent image repaints when refreshed; one
// without repaints at once after every drawing.
class PictureBoxView : public QWidget {
 public:
  PictureBoxView(platform::PictureBox* model, QWidget* parent, int border = 0);
  ~PictureBoxView() override;
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
  int subscription_ = 0;
  int border_ = 0;
};

// An image control: shows a picture, stretched to the control or at its own
// size, and passes mouse events on.
class ImageControl : public QWidget {
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
class Label : public QLabel {
 public:
  Label(QWidget* parent, const QString& caption, QColor text = Qt::black);
  void Caption(const std::string& text) { setText(QString::fromStdString(text)); }
  std::string Caption() const { return text().toStdString(); }
  // White background with a single-line border.
  void SetBoxed();
  MouseEvents Mouse;

 protected:
  bool event(QEvent* e) override;
};

// Shows a platform::ListBox. Choosing an entry sets the model's selection and
// raises Click; the horizontal extent is the scrollable width in pixels.
class ListBoxView : public QListWidget {
 public:
  ListBoxView(platform::ListBox& model, QWidget* parent);
  ~ListBoxView() override;
  void SetHorizontalExtent(int pixels);
  int HorizontalExtent() const { return extent_; }
  std::function<void()> Click;

 private:
  void Sync();
  QSize ItemSize() const { return {extent_, fontMetrics().height() + 2}; }
  platform::ListBox& model_;
  int subscription_ = 0;
  int extent_ = 0;
  bool syncing_ = false;
};

// A vertical scroll bar with the window system's range rules kept as set: a
// maximum below the minimum is stored as given and shown as no movement.
class VScrollBar : public QScrollBar {
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

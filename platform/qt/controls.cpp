#include "platform/qt/controls.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "platform/qt/runtime.h"
#include "platform/window/border.h"

namespace qtplat {

namespace {
QColor QColorOf(gdi::COLORREF c) {
  return QColor(gdi::GetRValue(c), gdi::GetGValue(c), gdi::GetBValue(c));
}

platform::MouseButton ButtonOf(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton:
      return platform::MouseButton::Left;
    case Qt::RightButton:
      return platform::MouseButton::Right;
    case Qt::MiddleButton:
      return platform::MouseButton::Middle;
    default:
      return platform::MouseButton::None;
  }
}
}  // namespace

bool MouseEvents::Handle(QEvent* e) {
  MouseHandler* handler = nullptr;
  switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:  // a second press is a press
      handler = &MouseDown;
      break;
    case QEvent::MouseButtonRelease:
      handler = &MouseUp;
      break;
    case QEvent::MouseMove:
      handler = &MouseMove;
      break;
    default:
      return false;
  }
  auto* me = static_cast<QMouseEvent*>(e);
  if (!*handler) return false;
  const QPoint pos = me->position().toPoint(), global = me->globalPosition().toPoint();
  // Qt's left, right and middle bits are 1, 2 and 4, as the held buttons' are.
  MouseArgs args{ButtonOf(me->button()),
                 unsigned(me->buttons().toInt()) & 7u,
                 {pos.x(), pos.y()},
                 {global.x(), global.y()}};
  // The handler may close and delete-later the window; copy it first.
  MouseHandler h = *handler;
  RunHandler([&] { h(args); });
  return true;
}

// ---------------------------------------------------------------- Form

Form::Form(QWidget* parent) : Control<QWidget>(parent, Qt::Window | Qt::FramelessWindowHint) {}

void Form::BackColor(gdi::COLORREF colour) {
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColorOf(colour));
  setPalette(pal);
}

void Form::OnDropFiles(std::function<bool(const Paths&)> accepts,
                       std::function<void(const Paths&)> drop) {
  acceptsDrop_ = std::move(accepts);
  drop_ = std::move(drop);
  setAcceptDrops(acceptsDrop_ && drop_);
}

namespace {
std::vector<std::string> LocalPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    paths.push_back(url.isLocalFile() ? url.toLocalFile().toStdString() : std::string());
  return paths;
}
}  // namespace

void Form::dragEnterEvent(QDragEnterEvent* e) {
  if (acceptsDrop_ && acceptsDrop_(LocalPaths(e->mimeData()))) e->acceptProposedAction();
}

void Form::dropEvent(QDropEvent* e) {
  const Paths paths = LocalPaths(e->mimeData());
  if (!acceptsDrop_ || !drop_ || !acceptsDrop_(paths)) return;
  e->acceptProposedAction();
  RunHandler([&] { drop_(paths); });
}

bool Form::event(QEvent* e) {
  // Only the window's own presses: the controls take theirs first.
  if ((e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick) &&
      Mouse.Handle(e)) {
    return true;
  }
  return QWidget::event(e);
}

Form::~Form() {
  if (loop_ != nullptr) loop_->quit();
}

void Form::Show() {
  loaded_ = true;
  RunHandler([this] { Form_Load(); });
  if (loaded_) show();
}

void Form::ShowModal() {
  if (loaded_) return;
  loaded_ = true;
  RunHandler([this] { Form_Load(); });
  if (!loaded_) return;
  setWindowModality(Qt::ApplicationModal);
  show();
  QEventLoop loop;
  loop_ = &loop;
  QPointer<Form> self(this);
  if (loaded_) loop.exec(QEventLoop::DialogExec);
  if (self) loop_ = nullptr;
}

void Form::Unload() {
  if (!loaded_) return;
  loaded_ = false;  // an unload during unload finds the window closed
  RunHandler([this] { Form_QueryUnload(); });
  RunHandler([this] { Form_Unload(); });
  hide();
  if (loop_ != nullptr) loop_->quit();
}

void Form::closeEvent(QCloseEvent* e) {
  Unload();
  e->accept();
}

// ---------------------------------------------------------------- PictureBoxView

PictureBoxView::PictureBoxView(platform::PictureBox* model, QWidget* parent, int border)
    : Control<QWidget>(parent), border_(border) {
  setAttribute(Qt::WA_OpaquePaintEvent);
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
  const QSize size(model_->Width() + 2 * border_, model_->Height() + 2 * border_);
  if (size != this->size()) resize(size);
  if (!isVisible()) return;
  // Drawing into a box without a persistent image appears at once.
  if (model_->Persistent()) {
    update();
  } else {
    repaint();
  }
}

void PictureBoxView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (border_ > 0) {
    for (const platform::Strip& s : platform::SunkenBorder(width(), height()))
      p.fillRect(s.rect.left, s.rect.top, s.rect.width, s.rect.height, QColorOf(s.colour));
  }
  if (model_ == nullptr) return;
  const gdi::Bitmap* bmp = model_->Image().Handle();
  if (bmp == nullptr) return;
  p.drawImage(QPoint(border_, border_), ImageOfBitmap(*bmp));
}

bool PictureBoxView::event(QEvent* e) {
  if (isEnabled() && Mouse.Handle(e)) return true;
  return QWidget::event(e);
}

// ---------------------------------------------------------------- ImageControl

ImageControl::ImageControl(QWidget* parent, bool stretch)
    : Control<QWidget>(parent), stretch_(stretch) {}

void ImageControl::Picture(const QPixmap& pic) {
  picture_ = pic;
  update();
}

void ImageControl::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  if (stretch_) {
    p.drawPixmap(rect(), picture_);
  } else {
    p.drawPixmap(0, 0, picture_);
  }
}

bool ImageControl::event(QEvent* e) {
  if (isEnabled() && Mouse.Handle(e)) return true;
  return QWidget::event(e);
}

// ---------------------------------------------------------------- Label

Label::Label(QWidget* parent, const std::string& caption, gdi::COLORREF text)
    : Control<QLabel>(QString::fromStdString(caption), parent) {
  setFont(SkinFont());
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, QColorOf(text));
  pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
  setPalette(pal);
  setAutoFillBackground(false);
}

void Label::SetBoxed() {
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setFrameShape(QFrame::Box);
  setLineWidth(1);
  setIndent(2);
}

bool Label::event(QEvent* e) {
  if (isEnabled() && Mouse.Handle(e)) return true;
  return QLabel::event(e);
}

// ---------------------------------------------------------------- ListBoxView

ListBoxView::ListBoxView(platform::ListBox& model, QWidget* parent)
    : Control<QListWidget>(parent), model_(model) {
  setFont(SkinFont());
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setSelectionMode(QAbstractItemView::SingleSelection);
  subscription_ = platform::Subscription(model_.Changed(), [this] { Sync(); });
  connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
    if (syncing_) return;
    model_.ListIndex(row);
    if (Click) RunHandler(Click);
  });
  Sync();
}

void ListBoxView::SetHorizontalExtent(int pixels) {
  extent_ = std::max(pixels, 0);
  for (int i = 0; i < count(); ++i) item(i)->setSizeHint(ItemSize());
}

void ListBoxView::Sync() {
  syncing_ = true;
  const auto& items = model_.Items();
  // The frame loop appends one entry at a time: add only what is new.
  bool prefix = count() <= int(items.size());
  for (int i = 0; prefix && i < count(); ++i) {
    prefix = item(i)->text() == QString::fromStdString(items[std::size_t(i)]);
  }
  if (!prefix) clear();
  for (std::size_t i = std::size_t(count()); i < items.size(); ++i) {
    auto* it = new QListWidgetItem(QString::fromStdString(items[i]), this);
    if (extent_ > 0) it->setSizeHint(ItemSize());
  }
  if (currentRow() != model_.ListIndex()) setCurrentRow(model_.ListIndex());
  if (model_.ListIndex() >= 0) scrollToItem(item(model_.ListIndex()));
  syncing_ = false;
}

// ---------------------------------------------------------------- VScrollBar

VScrollBar::VScrollBar(QWidget* parent) : Control<QScrollBar>(Qt::Vertical, parent) {
  setRange(0, 32767);
  setSingleStep(1);
  setPageStep(1);
  connect(this, &QScrollBar::valueChanged, this, [this](int) {
    auto& h = isSliderDown() ? Scroll : Change;
    if (h) RunHandler(h);
  });
  connect(this, &QScrollBar::sliderReleased, this, [this] {
    if (Change) RunHandler(Change);
  });
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
  // A reversed or empty range leaves the bar where it is: nothing to scroll.
  if (max_ <= min_) {
    setRange(min_, min_);
  } else {
    setRange(min_, max_);
  }
}

void VScrollBar::LargeChange(std::int32_t v) { setPageStep(std::max<int>(v, 1)); }
void VScrollBar::SmallChange(std::int32_t v) { setSingleStep(std::max<int>(v, 1)); }

// ---------------------------------------------------------------- Timer

Timer::Timer() {
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (ZoomInProgress()) return;  // a window is still zooming open
    if (Tick) RunHandler(Tick);
  });
}

void Timer::Enabled(bool on) {
  if (on && !timer_.isActive()) timer_.start();
  if (!on) timer_.stop();
}

void Timer::Interval(int ms) { timer_.setInterval(std::max(ms, 0)); }

}  // namespace qtplat

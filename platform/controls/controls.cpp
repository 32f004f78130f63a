#include "platform/controls/controls.h"

#include <algorithm>

namespace platform {

int ChangeNotifier::Subscribe(Callback cb) {
  const int id = next_++;
  callbacks_[id] = std::move(cb);
  return id;
}

void ChangeNotifier::Unsubscribe(int id) { callbacks_.erase(id); }

void ChangeNotifier::Notify() const {
  // A callback may subscribe or unsubscribe: work on a copy.
  const auto callbacks = callbacks_;
  for (const auto& [id, cb] : callbacks) {
    if (cb) cb();
  }
}

PictureBox::PictureBox(PictureBoxOptions options)
    : options_(options), backColor_(options.backColor), dc_(gdi::CreateCompatibleDC(nullptr)) {
  auto bmp = gdi::Bitmap::Create(std::max(options.width, 0), std::max(options.height, 0),
                                 gdi::Format::Rgb32);
  if (!bmp) bmp = gdi::Bitmap::Create(0, 0, gdi::Format::Rgb32);
  Attach(std::make_shared<gdi::Bitmap>(std::move(*bmp)));
  if (!options_.persistent) dc_->onDraw = [this] { changed_.Notify(); };
  Fill();
}

void PictureBox::Attach(std::shared_ptr<gdi::Bitmap> image) {
  image_ = std::move(image);
  gdi::SelectObject(*dc_, image_.get());
}

void PictureBox::Fill() {
  gdi::Bitmap* b = image_.get();
  const gdi::COLORREF c = gdi::GetNearestColor(*dc_, backColor_);
  const std::uint32_t v = gdi::ToPixel32(c);
  b->DiscardPendingZero();  // every pixel is set below
  for (int y = 0; y < b->Height(); ++y) std::fill(b->Row32(y), b->Row32(y) + b->Width(), v);
}

void PictureBox::BackColor(gdi::COLORREF c) {
  backColor_ = c;
  Cls();
}

void PictureBox::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == Width() && height == Height()) return;
  auto bmp = gdi::Bitmap::Create(width, height, gdi::Format::Rgb32);
  if (!bmp) return;
  auto old = image_;
  Attach(std::make_shared<gdi::Bitmap>(std::move(*bmp)));
  Fill();
  const int w = std::min(width, old->Width()), h = std::min(height, old->Height());
  for (int y = 0; y < h; ++y) std::copy(old->Row32(y), old->Row32(y) + w, image_->Row32(y));
  changed_.Notify();
}

void PictureBox::Picture(const platform::Picture& pic) {
  picture_ = pic;
  if (pic && options_.autoSize) Resize(pic.Width(), pic.Height());
  Fill();
  if (pic) {
    auto src = gdi::CreateCompatibleDC(dc_.get());
    gdi::SelectionGuard sel(*src, pic.Handle());
    // Into the image directly, so that a box without a persistent image is
    // told once, below, rather than once per drawing.
    auto onDraw = std::move(dc_->onDraw);
    gdi::BitBlt(*dc_, 0, 0, pic.Width(), pic.Height(), *src, 0, 0, gdi::SRCCOPY);
    dc_->onDraw = std::move(onDraw);
  }
  changed_.Notify();
}

void PictureBox::Refresh() { changed_.Notify(); }

void PictureBox::Cls() {
  Fill();
  changed_.Notify();
}

std::int64_t PictureBox::Point(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return -1;
  return gdi::FromPixel32(image_->Row32(y)[x]);
}

void ListBox::AddItem(const std::string& item) {
  items_.push_back(item);
  changed_.Notify();
}

void ListBox::Clear() {
  items_.clear();
  listIndex_ = -1;
  changed_.Notify();
}

void ListBox::ListIndex(int index) {
  if (index < -1 || index >= ListCount()) return;
  listIndex_ = index;
  changed_.Notify();
}

}  // namespace platform

// Headless models of the two controls the engine and the front ends share: the
// picture box and the list box. A view (a Qt widget, or nothing at all on the
// command line) subscribes to a model and repaints when told it changed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

namespace platform {

// Tells subscribers that a model changed.
class ChangeNotifier {
 public:
  using Callback = std::function<void()>;
  int Subscribe(Callback cb);
  void Unsubscribe(int id);
  void Notify() const;

 private:
  int next_ = 1;
  std::map<int, Callback> callbacks_;
};

// A view's subscription to a model, ended when it goes or is replaced. The
// model must outlive it.
class Subscription {
 public:
  Subscription() = default;
  Subscription(ChangeNotifier& notifier, ChangeNotifier::Callback cb)
      : notifier_(&notifier), id_(notifier.Subscribe(std::move(cb))) {}
  Subscription(Subscription&& other) noexcept { *this = std::move(other); }
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      End();
      notifier_ = std::exchange(other.notifier_, nullptr);
      id_ = other.id_;
    }
    return *this;
  }
  ~Subscription() { End(); }

 private:
  void End() {
    if (notifier_ != nullptr) notifier_->Unsubscribe(id_);
    notifier_ = nullptr;
  }
  ChangeNotifier* notifier_ = nullptr;
  int id_ = 0;
};

// The system-colour reference of the button face: the default back colour.
constexpr gdi::COLORREF kButtonFace = 0x80000000u | gdi::COLOR_BTNFACE;

struct PictureBoxOptions {
  int width = 32;
  int height = 32;
  bool autoSize = false;   // takes its picture's size when one is assigned
  bool persistent = true;  // keeps a persistent image (shown on refresh only)
  gdi::COLORREF backColor = kButtonFace;
};

// A picture box. Its device context always draws into a 32-bit image of the
// box's size; with a persistent image the view is told to repaint on Refresh,
// without one after every drawing into the context.
class PictureBox {
 public:
  explicit PictureBox(PictureBoxOptions options = {});
  PictureBox(const PictureBox&) = delete;
  PictureBox& operator=(const PictureBox&) = delete;

  gdi::DC& hDC() { return *dc_; }

  gdi::COLORREF BackColor() const { return backColor_; }
  // Setting the back colour clears the image to it.
  void BackColor(gdi::COLORREF c);

  int Width() const { return image_->Width(); }
  int Height() const { return image_->Height(); }
  int ScaleWidth() const { return Width(); }
  int ScaleHeight() const { return Height(); }
  // Resizes the image: what fits is kept, new area is the back colour.
  void Resize(int width, int height);

  bool AutoSize() const { return options_.autoSize; }
  bool Persistent() const { return options_.persistent; }

  // Shows `pic` at (0, 0) over the back colour; sizes the box to it when the
  // box sizes itself to its picture. An empty picture clears the box.
  void Picture(const platform::Picture& pic);
  const platform::Picture& Picture() const { return picture_; }

  void Refresh();
  // Fills the image with the back colour.
  void Cls();
  // Colour at (x, y); -1 outside the box.
  std::int64_t Point(int x, int y) const;
  // The current image, sharing the box's bitmap.
  platform::Picture Image() const { return platform::Picture(image_); }

  ChangeNotifier& Changed() { return changed_; }

 private:
  void Fill();
  void Attach(std::shared_ptr<gdi::Bitmap> image);

  PictureBoxOptions options_;
  gdi::COLORREF backColor_;
  std::unique_ptr<gdi::DC> dc_;
  std::shared_ptr<gdi::Bitmap> image_;
  platform::Picture picture_;
  ChangeNotifier changed_;
};

class ListBox {
 public:
  void AddItem(const std::string& item);
  void Clear();
  int ListCount() const { return int(items_.size()); }
  const std::string& List(int index) const { return items_.at(std::size_t(index)); }
  const std::vector<std::string>& Items() const { return items_; }
  int ListIndex() const { return listIndex_; }
  // -1 or an index of an item; anything else is ignored.
  void ListIndex(int index);
  ChangeNotifier& Changed() { return changed_; }

 private:
  std::vector<std::string> items_;
  int listIndex_ = -1;
  ChangeNotifier changed_;
};

}  // namespace platform

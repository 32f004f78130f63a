// What ui/ may use of the window side, checked against this build's side: a
// call one side lacks, or has in another shape, fails to build here on every
// system, not only in the other system's build. Included by window.h, after
// `wsys` names this build's side.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/gdi/gdi.h"
#include "platform/window/types.h"

namespace platform::conformance {

// Place, look and state: every control and every window.
template <typename C, typename Cursor>
concept Control = requires(C& c, const C& k, const Cursor& cursor, const std::string& text) {
  c.Move(0, 0);
  c.Move(0, 0, 1, 1);
  c.Resize(1, 1);
  { k.Left() } -> std::convertible_to<int>;
  { k.Top() } -> std::convertible_to<int>;
  { k.Width() } -> std::convertible_to<int>;
  { k.Height() } -> std::convertible_to<int>;
  { k.WindowRect() } -> std::same_as<Rect>;
  c.Visible(true);
  { k.Visible() } -> std::convertible_to<bool>;
  c.Enabled(true);
  { k.Enabled() } -> std::convertible_to<bool>;
  c.MouseIcon(cursor);
  c.ToolTipText(text);
  c.ZOrder(0);
};

// Controls a press reaches.
template <typename C>
concept Pressable = requires(C& c, const MouseArgs& args) {
  c.Mouse.MouseDown(args);
  c.Mouse.MouseUp(args);
  c.Mouse.MouseMove(args);
};

template <typename F, typename Image, typename Cursor>
concept Window = Control<F, Cursor> && Pressable<F> &&
    requires(F& f, const F& k, const Image& image, const std::string& text,
             std::function<bool(const std::vector<std::string>&)> accepts,
             std::function<void(const std::vector<std::string>&)> drop) {
  f.Caption(text);
  f.Icon(image);
  f.BackColor(gdi::COLORREF(0));
  f.OnDropFiles(accepts, drop);
  f.Show();
  f.ShowModal();
  f.Unload();
  { k.Loaded() } -> std::same_as<bool>;
};

template <typename V>
concept PictureBoxShown = requires(V& v, const V& k, PictureBox* model) {
  v.SetModel(model);
  { k.Model() } -> std::same_as<PictureBox*>;
};

template <typename I, typename Image>
concept ImageShown = requires(I& i, const Image& image) {
  i.Picture(image);
};

template <typename L>
concept Labelled = requires(L& l, const L& k, const std::string& text) {
  l.Caption(text);
  l.SetBoxed();
  l.CentreCaption();
  l.AutoSize();
  { k.CaptionWidth() } -> std::convertible_to<int>;
  l.PassMouseThrough();
};

template <typename L>
concept ListShown = requires(L& l, const L& k) {
  l.SetHorizontalExtent(0);
  { k.HorizontalExtent() } -> std::convertible_to<int>;
  { l.Click } -> std::convertible_to<std::function<void()>>;
};

template <typename S>
concept Scrolling = requires(S& s, const S& k, std::int32_t v) {
  s.Min(v);
  s.Max(v);
  s.LargeChange(v);
  s.SmallChange(v);
  { k.Min() } -> std::same_as<std::int32_t>;
  { k.Max() } -> std::same_as<std::int32_t>;
  { k.LargeChange() } -> std::same_as<std::int32_t>;
  { k.SmallChange() } -> std::same_as<std::int32_t>;
  { k.Value() } -> std::same_as<std::int32_t>;
  { s.Change } -> std::convertible_to<std::function<void()>>;
  { s.Scroll } -> std::convertible_to<std::function<void()>>;
};

template <typename T>
concept Ticking = requires(T& t, const T& k) {
  t.Enabled(true);
  { k.Enabled() } -> std::same_as<bool>;
  t.Interval(1);
  { t.Tick } -> std::convertible_to<std::function<void()>>;
};

}  // namespace platform::conformance

namespace platform::conformance::check {
using namespace ::wsys;
static_assert(Window<Form, Image, Cursor>);
static_assert(Control<Frame, Cursor>);
static_assert(Control<PictureBoxView, Cursor> && Pressable<PictureBoxView> &&
              PictureBoxShown<PictureBoxView>);
static_assert(Control<ImageControl, Cursor> && Pressable<ImageControl> &&
              ImageShown<ImageControl, Image>);
static_assert(Control<Label, Cursor> && Pressable<Label> && Labelled<Label>);
static_assert(Control<ListBoxView, Cursor> && ListShown<ListBoxView>);
static_assert(Control<VScrollBar, Cursor> && Scrolling<VScrollBar>);
static_assert(Ticking<Timer>);
// A skin picture, a pointer, and the test of whether a window still exists.
static_assert(std::is_copy_constructible_v<Image> && std::is_default_constructible_v<Image>);
static_assert(std::is_copy_constructible_v<Cursor> && std::is_default_constructible_v<Cursor>);
static_assert(std::is_constructible_v<Alive<Form>, Form*>);
static_assert(requires(const Alive<Form>& alive) {
  {bool(alive)};
  { alive.operator->() } -> std::convertible_to<Form*>;
});
// The screen, the pointer, the zoom rectangles, the dialogs.
static_assert(requires(Form & f, Form* window, Point& p, const Rect& r, const std::string& text,
                       const ::wsys::OpenFileRequest& request) {
  { Screen() } -> std::same_as<Size>;
  { CursorPosition(p) } -> std::same_as<bool>;
  AnimateRects(window, r, r);
  CentreWindowInTwips(f);
  { TwipsPerPixelX() } -> std::convertible_to<double>;
  MsgBox(window, text, text, 48);
  { GetOpenFileName(request) } -> std::same_as<std::optional<std::string>>;
  { SkinImage(text) } -> std::same_as<Image>;
  { SkinCursor(text, 0, 0) } -> std::same_as<Cursor>;
  { SkinPicture(text) } -> std::same_as<Picture>;
  InstallYieldHook();
  Quit();
});
static_assert(std::is_same_v<::wsys::OpenFileRequest, platform::OpenFileRequest<Form>>);
}  // namespace platform::conformance::check

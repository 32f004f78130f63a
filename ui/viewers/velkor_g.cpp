#include "ui/viewers/velkor_g.h"

#include <string>

#include "platform/system/system.h"

namespace {
constexpr int kStrip = 20;  // the title strip above the viewport
constexpr int kBorder = 2;  // the viewport's three-dimensional border
}  // namespace

Velkor_G::Velkor_G(SharedState& state, Borrowed main)
    : Pic_D({57, 53, true, true, platform::kButtonFace}),
      Pic_b1_Box({133 - 2 * kBorder, 129 - 2 * kBorder, false, false, gdi::RGB(192, 255, 192)}),
      Pic_b1(&Pic_b1_Box, this, kBorder),
      Pic_b1_Client(&Pic_b1),
      Pic_b2_Box({101, 97, false, true, gdi::RGB(255, 255, 192)}),
      Pic_b2(&Pic_b2_Box, &Pic_b1_Client),
      VScroll(&Pic_b1_Client),
      Image1(this, /*stretch=*/true),
      ImgExit(this),
      state_(state),
      main_(main) {
  Caption("Velkor");
  BackColor(gdi::RGB(192, 192, 192));

  Pic_b1.Move(0, kStrip);
  Pic_b1_Client.Move(kBorder, kBorder);
  VScroll.Move(104, 0, 15, 93);
  Image1.Move(0, 0, 133, 20);
  Image1.Picture(wsys::SkinImage("title.png"));
  lbl = new wsys::Label(this, "ﾌﾚｰﾑ", gdi::RGB(255, 255, 255));
  lbl->Move(8, 4);
  lbl->AutoSize();
  // The caption lies over the close button in a narrow gallery and has no
  // handler of its own: presses go through it to what lies beneath.
  lbl->PassMouseThrough();
  ImgExit.Move(112, 4, 15, 15);
  ImgExit.Picture(main_.imgImages[0]);
  ImgExit.ToolTipText("exit button");
  ImgExit.ZOrder(0);
  lbl->ZOrder(0);

  VScroll.Change = [this] { VScroll_Change(); };
  VScroll.Scroll = [this] { VScroll_Scroll(); };
  ImgExit.Mouse.MouseDown = [this](const wsys::MouseArgs&) { ImgExit_MouseDown(); };
  ImgExit.Mouse.MouseUp = [this](const wsys::MouseArgs&) { ImgExit_MouseUp(); };
  Drag.Attach(Image1, this);
}

Velkor_G::~Velkor_G() = default;

void Velkor_G::Form_Load() {
  Drag.DragActive = 0;
  const int width = state_.ImageWidth + 19;
  const platform::Size screen = wsys::Screen();
  const int height = screen.height * 2 / 3;
  Pic_b1_Box.Resize(width - 2 * kBorder, height - 2 * kBorder);
  Pic_b1_Client.Resize(Pic_b1_Box.Width(), Pic_b1_Box.Height());
  Image1.Resize(width, Image1.Height());
  ImgExit.Move(Image1.Width() - 21, ImgExit.Top());
  Pic_b2_Box.Resize(state_.ImageWidth, Pic_b2_Box.Height());
  VScroll.Move(Pic_b2_Box.Width() + 1, 0, VScroll.Width(), height - 4);

  Resize(width, height + kStrip);
  wsys::CentreWindowInTwips(*this);

  Pic_b1_Box.BackColor(gdi::RGB(255, 255, 255));
  ImgExit.MouseIcon(main_.mouseIcon);
  VScroll.MouseIcon(main_.mouseIcon);

  FillGallery();

  TakeOrigin(OriginX, OriginY);
  ZoomOpen(this, OriginX, OriginY);
}

void Velkor_G::FillGallery() {
  const int n = main_.lstFiles.ListCount();
  const std::int64_t s = std::int64_t(state_.ImageHeight) + 2;
  lbl->Caption(std::to_string(n) + " ﾌﾚｰﾑ");
  lbl->AutoSize();

  // The strip holds as many whole slots as the pixel budget allows.
  std::int64_t fit = n;
  const std::int64_t rowPixels = std::max<std::int64_t>(state_.ImageWidth, 1);
  if (s * n * rowPixels > StripPixelBudget) fit = StripPixelBudget / (s * rowPixels);
  const std::int64_t stripHeight = s * fit;
  Pic_b2_Box.Resize(state_.ImageWidth, int(stripHeight));
  if (Pic_b2_Box.Height() != stripHeight) return;  // the drawing layer refused the size

  framesDrawn_ = 0;
  for (GalleryIndex = 0; GalleryIndex < fit; ++GalleryIndex) {
    auto pic = platform::LoadPicture(main_.lstFiles.List(GalleryIndex));
    if (!pic) break;  // the first file that cannot be read ends the fill
    Pic_D.Picture(*pic);
    gdi::BitBlt(Pic_b2_Box.hDC(), 0, int(s * GalleryIndex), state_.ImageWidth, state_.ImageHeight,
                Pic_D.hDC(), 0, 0, gdi::SRCCOPY);
    ++framesDrawn_;
  }
  Pic_b2_Box.Refresh();
  VScroll.Min(0);
  VScroll.Max(std::int32_t(stripHeight - Pic_b1.Height()));
  VScroll.LargeChange(std::int32_t(s));
  VScroll.SmallChange(std::int32_t(s / 4));
}

void Velkor_G::VScroll_Change() { Pic_b2.Move(0, -VScroll.Value()); }
void Velkor_G::VScroll_Scroll() { Pic_b2.Move(0, -VScroll.Value()); }

void Velkor_G::ImgExit_MouseDown() { ImgExit.Picture(main_.imgImages[1]); }

void Velkor_G::ImgExit_MouseUp() {
  ImgExit.Picture(main_.imgImages[0]);
  wsys::Alive<Velkor_G> self(this);
  sys::DoEvents();
  if (self) Unload();
}

void Velkor_G::Form_QueryUnload() { ZoomClose(this, OriginX, OriginY); }

#include "ui/viewers/velkor_g.h"

#include "platform/qt/runtime.h"
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
  setWindowTitle(QStringLiteral("Velkor"));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(pal);

  Pic_b1.move(0, kStrip);
  Pic_b1_Client.move(kBorder, kBorder);
  VScroll.setGeometry(104, 0, 15, 93);
  Image1.setGeometry(0, 0, 133, 20);
  Image1.Picture(qtplat::SkinPixmap("title.png"));
  lbl = new qtplat::Label(this, QStringLiteral("ﾌﾚｰﾑ"), Qt::white);
  lbl->move(8, 4);
  lbl->adjustSize();
  // The caption lies over the close button in a narrow gallery and has no
  // handler of its own: presses go through it to what lies beneath.
  lbl->setAttribute(Qt::WA_TransparentForMouseEvents);
  ImgExit.setGeometry(112, 4, 15, 15);
  ImgExit.Picture(main_.imgImages[0]);
  ImgExit.setToolTip(QStringLiteral("exit button"));
  ImgExit.raise();
  lbl->raise();

  VScroll.Change = [this] { VScroll_Change(); };
  VScroll.Scroll = [this] { VScroll_Scroll(); };
  ImgExit.Mouse.MouseDown = [this](const qtplat::MouseArgs&) { ImgExit_MouseDown(); };
  ImgExit.Mouse.MouseUp = [this](const qtplat::MouseArgs&) { ImgExit_MouseUp(); };
  Drag.Attach(Image1, this);
}

Velkor_G::~Velkor_G() = default;

void Velkor_G::Form_Load() {
  Drag.DragActive = 0;
  const int width = state_.ImageWidth + 19;
  const QSize screen = qtplat::ScreenSize();
  const int height = screen.height() * 2 / 3;
  Pic_b1_Box.Resize(width - 2 * kBorder, height - 2 * kBorder);
  Pic_b1_Client.resize(Pic_b1_Box.Width(), Pic_b1_Box.Height());
  Image1.resize(width, Image1.height());
  ImgExit.move(Image1.width() - 21, ImgExit.y());
  Pic_b2_Box.Resize(state_.ImageWidth, Pic_b2_Box.Height());
  VScroll.setGeometry(Pic_b2_Box.Width() + 1, 0, VScroll.width(), height - 4);

  resize(width, height + kStrip);
  qtplat::CentreWindowInTwips(*this);

  Pic_b1_Box.BackColor(gdi::RGB(255, 255, 255));
  ImgExit.setCursor(main_.mouseIcon);
  VScroll.setCursor(main_.mouseIcon);

  FillGallery();

  TakeOrigin(OriginX, OriginY);
  ZoomOpen(this, OriginX, OriginY);
}

void Velkor_G::FillGallery() {
  const int n = main_.lstFiles.ListCount();
  const std::int64_t s = std::int64_t(state_.ImageHeight) + 2;
  lbl->setText(QString::number(n) + QStringLiteral(" ﾌﾚｰﾑ"));
  lbl->adjustSize();

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
    state_.ApiResult = gdi::BitBlt(Pic_b2_Box.hDC(), 0, int(s * GalleryIndex), state_.ImageWidth,
                                   state_.ImageHeight, Pic_D.hDC(), 0, 0, gdi::SRCCOPY);
    ++framesDrawn_;
  }
  Pic_b2_Box.Refresh();
  VScroll.Min(0);
  VScroll.Max(std::int32_t(stripHeight - Pic_b1.height()));
  VScroll.LargeChange(std::int32_t(s));
  VScroll.SmallChange(std::int32_t(s / 4));
}

void Velkor_G::VScroll_Change() { Pic_b2.move(0, -VScroll.Value()); }
void Velkor_G::VScroll_Scroll() { Pic_b2.move(0, -VScroll.Value()); }

void Velkor_G::ImgExit_MouseDown() { ImgExit.Picture(main_.imgImages[1]); }

void Velkor_G::ImgExit_MouseUp() {
  ImgExit.Picture(main_.imgImages[0]);
  QPointer<Velkor_G> self(this);
  sys::DoEvents();
  if (self) Unload();
}

void Velkor_G::Form_QueryUnload() { ZoomClose(this, OriginX, OriginY); }

#include "ui/main/velkor_m.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <cmath>

#include "platform/qt/runtime.h"
#include "platform/system/system.h"

namespace {

constexpr int kPanelTop = 20;
constexpr int kThumb = 90;
constexpr std::int32_t kEdgeRaised = 5;

struct CommandPlace {
  const char* caption;
  int left, top;  // of the caption; the face sits 4 pixels higher
  const char* toolTip;
};
constexpr std::array<CommandPlace, 5> kCommands{{
    {"ﾌｧｲﾙの選択", 12, 16, "ｱﾆﾒｰｼｮﾝGifﾌｧｲﾙ"},
    {"ｱﾆﾒﾌﾟﾚﾋﾞｭｰ", 296, 16, nullptr},
    {"ﾌﾚｰﾑ分割", 296, 84, nullptr},
    {"全ﾌﾚｰﾑ画像", 400, 256, nullptr},
    {"終了", 400, 296, nullptr},
}};

qtplat::ImageControl* NewImage(QWidget* parent, int x, int y, int w, int h, bool stretch = false) {
  auto* c = new qtplat::ImageControl(parent, stretch);
  c->setGeometry(x, y, w, h);
  return c;
}

qtplat::Label* NewLabel(QWidget* parent, const char* caption, int x, int y, int w, int h,
                        QColor text = Qt::black) {
  auto* l = new qtplat::Label(parent, QString::fromUtf8(caption), text);
  // The stand-in face runs a little wider than the one the layout was made
  // for: a caption never gets cut, it may reach into the free room beside it.
  w = std::max(w, l->fontMetrics().horizontalAdvance(l->text()) + 1);
  l->setGeometry(x, y, w, h);
  return l;
}

}  // namespace

Velkor_M::Velkor_M(SharedState& state, SettingsFiles settingsFiles)
    : Pic_C_Box({513, 333, false, true, gdi::RGB(128, 128, 128)}),
      Pic_Velkor_Box({kThumb, kThumb, false, true, gdi::RGB(0xE0, 0xE0, 0xE0)}),
      Pic_Gif_Box({kThumb, kThumb, false, true, gdi::RGB(0xE0, 0xE0, 0xE0)}),
      Pic_Dmy({49, 49, true, true, platform::kButtonFace}),
      Pic_Mbl({579, 21, false, true, platform::kButtonFace}),
      Image1(this, /*stretch=*/true),
      ImgExit(this),
      Pic_C(&Pic_C_Box, this),
      state_(state),
      settingsFiles_(std::move(settingsFiles)) {
  setWindowTitle(QStringLiteral("Velkorの設定"));
  setWindowIcon(QIcon(qtplat::SkinPixmap("icon-256.png")));
  setAcceptDrops(true);

  // Resource controls: the skin pictures the windows show and borrow.
  Img_Off = qtplat::SkinPixmap("cmd_off.png");
  Img_On = qtplat::SkinPixmap("cmd_on.png");
  imgImages = {qtplat::SkinPixmap("exit_off.png"), qtplat::SkinPixmap("exit_on.png")};
  Img_Opt_Off = qtplat::SkinPixmap("opt_off.png");
  Img_Opt_On = qtplat::SkinPixmap("opt_on.png");
  Img_Ra = {qtplat::SkinPixmap("check_off.png"), qtplat::SkinPixmap("check_on.png")};
  MouseIcon = QCursor(qtplat::SkinPixmap("hand.png"), 12, 10);
  Pic_Mbl.Picture(qtplat::PictureFromImage(qtplat::SkinPixmap("background.png").toImage()));

  // Title strip.
  Image1.setGeometry(0, 0, 513, 22);
  Image1.Picture(qtplat::SkinPixmap("title.png"));
  lbl[1] = NewLabel(this, "Velkor", 8, 4, 79, 13, Qt::white);
  ImgExit.setGeometry(492, 4, 15, 15);
  ImgExit.Picture(imgImages[0]);
  ImgExit.setToolTip(QStringLiteral("exit button"));

  // Content panel, below the strip's 20-pixel band.
  Pic_C.move(0, kPanelTop);
  for (int i = 0; i < 5; ++i) {
    const auto& c = kCommands[std::size_t(i)];
    Img_Cmd[std::size_t(i)] = NewImage(&Pic_C, c.left, c.top - 4, 95, 22, /*stretch=*/true);
  }
  for (int i = 0; i < 5; ++i) {
    const auto& c = kCommands[std::size_t(i)];
    auto* l = NewLabel(&Pic_C, c.caption, c.left, c.top, 95, 17);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    if (c.toolTip) l->setToolTip(QString::fromUtf8(c.toolTip));
    lbl_Cmd[std::size_t(i)] = l;
  }
  lbl_Path = NewLabel(&Pic_C, "", 12, 40, 381, 17);
  lbl_Path->SetBoxed();
  lbl[0] = NewLabel(&Pic_C, "保存ﾌｧｲﾙ", 12, 88, 56, 13);
  Img_File[0] = NewImage(&Pic_C, 76, 88, 13, 13);
  lbl_File[0] = NewLabel(&Pic_C, "bmp", 92, 88, 22, 13);
  Img_File[1] = NewImage(&Pic_C, 124, 88, 13, 13);
  lbl_File[1] = NewLabel(&Pic_C, "gif", 140, 88, 13, 13);
  lbl_Trans = NewLabel(&Pic_C, "(     透過処理 )", 164, 88, 84, 13);
  Img_Trans = NewImage(&Pic_C, 172, 88, 13, 13);
  lstFiles = new qtplat::ListBoxView(lstFilesModel, &Pic_C);
  lstFiles->setGeometry(12, 112, 381, 160);
  Pic_Velkor = new qtplat::PictureBoxView(&Pic_Velkor_Box, &Pic_C);
  Pic_Velkor->move(404, 12);
  Pic_Gif = new qtplat::PictureBoxView(&Pic_Gif_Box, &Pic_C);
  Pic_Gif->move(404, 112);

  // Event wiring.
  for (int i = 0; i < 5; ++i) {
    auto& m = lbl_Cmd[std::size_t(i)]->Mouse;
    m.MouseDown = [this, i](const qtplat::MouseArgs& a) { lbl_Cmd_MouseDown(i, a.button); };
    m.MouseUp = [this, i](const qtplat::MouseArgs& a) { lbl_Cmd_MouseUp(i, a.button); };
  }
  ImgExit.Mouse.MouseDown = [this](const qtplat::MouseArgs&) { ImgExit_MouseDown(); };
  ImgExit.Mouse.MouseUp = [this](const qtplat::MouseArgs&) { ImgExit_MouseUp(); };
  Drag.Attach(Image1, this);
  for (int i = 0; i < 2; ++i) {
    Img_File[std::size_t(i)]->Mouse.MouseDown = [this, i](const qtplat::MouseArgs&) {
      Img_File_MouseDown(i);
    };
    lbl_File[std::size_t(i)]->Mouse.MouseDown = [this, i](const qtplat::MouseArgs&) {
      lbl_File_MouseDown(i);
    };
  }
  Img_Trans->Mouse.MouseDown = [this](const qtplat::MouseArgs&) { Img_Trans_MouseDown(); };
  lbl_Trans->Mouse.MouseDown = [this](const qtplat::MouseArgs&) { lbl_Trans_MouseDown(); };
  lstFiles->Click = [this] { lstFiles_Click(); };

  EndProgram = [] { QCoreApplication::quit(); };
}

Velkor_M::~Velkor_M() = default;

void Velkor_M::Form_Load() {
  // (A second copy of the program has already ended before any window.)
  Drag.DragActive = 0;

  resize(Pic_C_Box.Width(), Pic_C_Box.Height() + kPanelTop);
  const QSize screen = qtplat::ScreenSize();
  move((screen.width() - width()) / 2, (screen.height() - height()) / 2);

  ListExtent = std::int32_t(std::lround(lstFiles->width() / qtplat::TwipsPerPixelX() + 600));
  lstFiles->SetHorizontalExtent(ListExtent);

  for (const platform::Point& p :
       TilePositions(Pic_C.width(), Pic_C.height(), Pic_Mbl.Width(), Pic_Mbl.Height())) {
    state_.ApiResult = gdi::BitBlt(Pic_C_Box.hDC(), p.x, p.y, Pic_Mbl.Width(), Pic_Mbl.Height(),
                                   Pic_Mbl.hDC(), 0, 0, gdi::SRCCOPY);
  }
  Pic_C_Box.Refresh();

  for (int i = 0; i < 5; ++i) {
    Img_Cmd[std::size_t(i)]->Picture(Img_Off);
    lbl_Cmd[std::size_t(i)]->setCursor(MouseIcon);
  }

  LoadSettings(state_, settingsFiles_.load, sys::ProgramFolder());

  DrawBevel(Pic_Velkor_Box, kEdgeRaised);
  DrawBevel(Pic_Gif_Box, kEdgeRaised);

  ShowOptionPictures();

  for (QWidget* w : {static_cast<QWidget*>(lstFiles), static_cast<QWidget*>(&ImgExit),
                     static_cast<QWidget*>(Img_Trans), static_cast<QWidget*>(lbl_Trans)}) {
    w->setCursor(MouseIcon);
  }
  for (int i = 0; i < 2; ++i) {
    Img_File[std::size_t(i)]->setCursor(MouseIcon);
    lbl_File[std::size_t(i)]->setCursor(MouseIcon);
  }

  EnableCommand(1, false);
  EnableCommand(2, false);
  EnableCommand(3, false);
}

void Velkor_M::Form_Unload() {
  if (EndProgram) EndProgram();
}

std::vector<platform::Point> Velkor_M::TilePositions(int W, int H, int w, int h) {
  std::vector<platform::Point> out;
  if (w <= 0 || h <= 0) return out;  // an empty tile would never leave the panel
  int x = 0, y = 0;
  for (;;) {
    out.push_back({x, y});
    if (y > H) {
      if (x > W) break;
      x += w;
      y = 0;
    } else {
      y += h;
    }
  }
  return out;
}

void Velkor_M::ShowOptionPictures() {
  const int type = state_.OutputFileType;
  // A stored value other than 0 or 1 names no picture: those steps show
  // nothing and start-up goes on.
  if (type == 0 || type == 1) {
    Img_File[std::size_t(type)]->Picture(Img_Opt_On);
    Img_File[std::size_t(type ^ 1)]->Picture(Img_Opt_Off);
  }
  const int trans = state_.TransparentOption;
  if (trans == 0 || trans == 1) Img_Trans->Picture(Img_Ra[std::size_t(trans)]);
}

void Velkor_M::EnableCommand(int index, bool on) { lbl_Cmd[std::size_t(index)]->setEnabled(on); }

bool Velkor_M::CommandEnabled(int index) const { return lbl_Cmd[std::size_t(index)]->isEnabled(); }

void Velkor_M::lbl_Cmd_MouseDown(int index, platform::MouseButton) {
  Img_Cmd[std::size_t(index)]->Picture(Img_On);
}

void Velkor_M::lbl_Cmd_MouseUp(int index, platform::MouseButton) {
  Img_Cmd[std::size_t(index)]->Picture(Img_Off);
  QPointer<Velkor_M> self(this);
  sys::DoEvents();  // the released face is painted before a long command starts
  if (self) RunCommand(index);
}

void Velkor_M::RunCommand(int index) {
  switch (index) {
    case 0:
      lstFilesModel.Clear();
      FileSelection();
      break;
    case 1:
      state_.RunMode = 0;
      state_.SourcePath = lbl_Path->Caption();
      if (ShowPreviewWindow) ShowPreviewWindow();
      break;
    case 2:
      state_.TransparentRun = state_.TransparentOption != 0 ? -1 : 0;
      lstFilesModel.Clear();
      state_.RunMode = 1;
      state_.SourcePath = lbl_Path->Caption();
      if (ShowPreviewWindow) ShowPreviewWindow();
      EnableCommand(3, true);
      Pic_Gif_Box.Cls();
      Pic_Gif_Box.Resize(kThumb, kThumb);
      DrawBevel(Pic_Gif_Box, kEdgeRaised);
      break;
    case 3:
      if (ShowGalleryWindow) ShowGalleryWindow();
      break;
    case 4:
      SaveSettingsFile(state_, settingsFiles_);
      Unload();  // ends the program
      break;
    default:
      break;
  }
}

void Velkor_M::ImgExit_MouseDown() { ImgExit.Picture(imgImages[1]); }

void Velkor_M::ImgExit_MouseUp() {
  ImgExit.Picture(imgImages[0]);
  QPointer<Velkor_M> self(this);
  sys::DoEvents();
  if (self) Unload();  // without saving the settings
}

void Velkor_M::FileSelection() {
  qtplat::OpenFileRequest request;
  request.owner = this;
  request.title = "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択";
  request.filterDescription = "ｱﾆﾒｰｼｮﾝGifﾌｧｲﾙ (gif)";
  request.pattern = "*.gif";
  request.initialDir = state_.LastFolder;
  const auto chosen = qtplat::GetOpenFileName(request);
  state_.ApiResult = chosen ? 1 : 0;
  if (!chosen) return;
  ChooseSource(*chosen);
}

void Velkor_M::ChooseSource(const std::string& path) {
  Pic_Velkor->hide();
  lbl_Path->Caption(path);
  // A file the loader cannot read leaves the previous picture in the loader,
  // and the steps after it work on that.
  if (auto pic = platform::LoadPicture(lbl_Path->Caption())) Pic_Dmy.Picture(*pic);
  if (Pic_Dmy.Width() <= 32767 && Pic_Dmy.Height() <= 32767) {
    state_.ImageWidth = std::int16_t(Pic_Dmy.Width());
    state_.ImageHeight = std::int16_t(Pic_Dmy.Height());
  }
  DrawThumbnail(Pic_Velkor_Box, Pic_Dmy.Width(), Pic_Dmy.Height());
  Pic_Velkor->show();
  EnableCommand(1, true);
  EnableCommand(2, true);
  ApplySourceNames(state_, lbl_Path->Caption());
  EnableCommand(3, false);
}

void Velkor_M::DrawThumbnail(platform::PictureBox& box, int w, int h) {
  // The longer side becomes 90; smaller pictures are enlarged. A picture
  // with no pixels has no aspect to keep: the box keeps its size.
  if (w > 0 && h > 0) {
    double tw = kThumb, th = kThumb;
    if (w > h) {
      th = kThumb * double(h) / double(w);
    } else {
      tw = kThumb * double(w) / double(h);
    }
    const int iw = int(std::nearbyint(tw)), ih = int(std::nearbyint(th));
    box.Resize(iw, ih);
    state_.ApiResult = gdi::SetStretchBltMode(box.hDC(), gdi::COLORONCOLOR);
    state_.ApiResult =
        gdi::StretchBlt(box.hDC(), 0, 0, iw, ih, Pic_Dmy.hDC(), 0, 0, w, h, gdi::SRCCOPY);
  }
  box.Refresh();
  DrawBevel(box, kEdgeRaised);
}

void Velkor_M::lstFiles_Click() {
  const int index = lstFilesModel.ListIndex();
  if (index == -1) return;
  Pic_Gif->hide();
  if (auto pic = platform::LoadPicture(lstFilesModel.List(index))) Pic_Dmy.Picture(*pic);
  DrawThumbnail(Pic_Gif_Box, Pic_Dmy.Width(), Pic_Dmy.Height());
  Pic_Gif->show();
}

void Velkor_M::ChooseOutputType(int index) {
  state_.OutputFileType = std::int16_t(index);
  ShowOptionPictures();
}

void Velkor_M::ToggleTransparency() {
  state_.TransparentOption = std::int16_t(state_.TransparentOption ^ 1);
  ShowOptionPictures();
}

void Velkor_M::Img_File_MouseDown(int index) { ChooseOutputType(index); }
void Velkor_M::lbl_File_MouseDown(int index) { ChooseOutputType(index); }
void Velkor_M::Img_Trans_MouseDown() { ToggleTransparency(); }
void Velkor_M::lbl_Trans_MouseDown() { ToggleTransparency(); }

std::optional<std::string> DroppedSource(const QList<QUrl>& urls) {
  if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
  const QFileInfo info(urls.front().toLocalFile());
  if (!info.isFile()) return std::nullopt;
  const std::string path = info.absoluteFilePath().toStdString();
  if (!qtplat::MatchesPattern(info.fileName().toStdString(), "*.gif")) return std::nullopt;
  return path;
}

void Velkor_M::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls() && DroppedSource(e->mimeData()->urls())) e->acceptProposedAction();
}

void Velkor_M::dropEvent(QDropEvent* e) {
  const auto path = e->mimeData()->hasUrls() ? DroppedSource(e->mimeData()->urls()) : std::nullopt;
  if (!path) return;
  e->acceptProposedAction();
  // The same as command 0 with this file chosen in the dialog.
  qtplat::RunHandler([&] {
    lstFilesModel.Clear();
    ChooseSource(*path);
  });
}

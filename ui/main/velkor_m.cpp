#include "ui/main/velkor_m.h"

#include <cmath>
#include <filesystem>

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

template <typename Parent>
wsys::ImageControl* NewImage(Parent* parent, int x, int y, int w, int h, bool stretch = false) {
  auto* c = new wsys::ImageControl(parent, stretch);
  c->Move(x, y, w, h);
  return c;
}

template <typename Parent>
wsys::Label* NewLabel(Parent* parent, const char* caption, int x, int y, int w, int h,
                      gdi::COLORREF text = gdi::RGB(0, 0, 0)) {
  auto* l = new wsys::Label(parent, caption, text);
  // The stand-in face runs a little wider than the one the layout was made
  // for: a caption never gets cut, it may reach into the free room beside it.
  w = std::max(w, l->CaptionWidth() + 1);
  l->Move(x, y, w, h);
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
  Caption("Velkorの設定");
  Icon(wsys::SkinImage("icon-256.png"));
  OnDropFiles([](const Paths& paths) { return DroppedSource(paths).has_value(); },
              [this](const Paths& paths) {
                // The same as command 0 with this file chosen in the dialog.
                if (const auto path = DroppedSource(paths)) {
                  lstFilesModel.Clear();
                  ChooseSource(*path);
                }
              });

  // Resource controls: the skin pictures the windows show and borrow.
  Img_Off = wsys::SkinImage("cmd_off.png");
  Img_On = wsys::SkinImage("cmd_on.png");
  imgImages = {wsys::SkinImage("exit_off.png"), wsys::SkinImage("exit_on.png")};
  Img_Opt_Off = wsys::SkinImage("opt_off.png");
  Img_Opt_On = wsys::SkinImage("opt_on.png");
  Img_Ra = {wsys::SkinImage("check_off.png"), wsys::SkinImage("check_on.png")};
  MouseIcon = wsys::SkinCursor("hand.png", 12, 10);
  Pic_Mbl.Picture(wsys::SkinPicture("background.png"));

  // Title strip.
  Image1.Move(0, 0, 513, 22);
  Image1.Picture(wsys::SkinImage("title.png"));
  lbl[1] = NewLabel(this, "Velkor", 8, 4, 79, 13, gdi::RGB(255, 255, 255));
  ImgExit.Move(492, 4, 15, 15);
  ImgExit.Picture(imgImages[0]);
  ImgExit.ToolTipText("exit button");

  // Content panel, below the strip's 20-pixel band.
  Pic_C.Move(0, kPanelTop);
  for (int i = 0; i < 5; ++i) {
    const auto& c = kCommands[std::size_t(i)];
    Img_Cmd[std::size_t(i)] = NewImage(&Pic_C, c.left, c.top - 4, 95, 22, /*stretch=*/true);
  }
  for (int i = 0; i < 5; ++i) {
    const auto& c = kCommands[std::size_t(i)];
    auto* l = NewLabel(&Pic_C, c.caption, c.left, c.top, 95, 17);
    l->CentreCaption();
    if (c.toolTip) l->ToolTipText(c.toolTip);
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
  lstFiles = new wsys::ListBoxView(lstFilesModel, &Pic_C);
  lstFiles->Move(12, 112, 381, 160);
  Pic_Velkor = new wsys::PictureBoxView(&Pic_Velkor_Box, &Pic_C);
  Pic_Velkor->Move(404, 12);
  Pic_Gif = new wsys::PictureBoxView(&Pic_Gif_Box, &Pic_C);
  Pic_Gif->Move(404, 112);

  // Event wiring.
  for (int i = 0; i < 5; ++i) {
    auto& m = lbl_Cmd[std::size_t(i)]->Mouse;
    m.MouseDown = [this, i](const wsys::MouseArgs& a) { lbl_Cmd_MouseDown(i, a.button); };
    m.MouseUp = [this, i](const wsys::MouseArgs& a) { lbl_Cmd_MouseUp(i, a.button); };
  }
  ImgExit.Mouse.MouseDown = [this](const wsys::MouseArgs&) { ImgExit_MouseDown(); };
  ImgExit.Mouse.MouseUp = [this](const wsys::MouseArgs&) { ImgExit_MouseUp(); };
  Drag.Attach(Image1, this);
  for (int i = 0; i < 2; ++i) {
    Img_File[std::size_t(i)]->Mouse.MouseDown = [this, i](const wsys::MouseArgs&) {
      Img_File_MouseDown(i);
    };
    lbl_File[std::size_t(i)]->Mouse.MouseDown = [this, i](const wsys::MouseArgs&) {
      lbl_File_MouseDown(i);
    };
  }
  Img_Trans->Mouse.MouseDown = [this](const wsys::MouseArgs&) { Img_Trans_MouseDown(); };
  lbl_Trans->Mouse.MouseDown = [this](const wsys::MouseArgs&) { lbl_Trans_MouseDown(); };
  lstFiles->Click = [this] { lstFiles_Click(); };

  EndProgram = [] { wsys::Quit(); };
}

Velkor_M::~Velkor_M() = default;

void Velkor_M::Form_Load() {
  // (A second copy of the program has already ended before any window.)
  Drag.DragActive = 0;

  Resize(Pic_C_Box.Width(), Pic_C_Box.Height() + kPanelTop);
  const platform::Size screen = wsys::Screen();
  Move((screen.width - Width()) / 2, (screen.height - Height()) / 2);

  ListExtent = std::int32_t(std::lround(lstFiles->Width() / wsys::TwipsPerPixelX() + 600));
  lstFiles->SetHorizontalExtent(ListExtent);

  for (const platform::Point& p :
       TilePositions(Pic_C.Width(), Pic_C.Height(), Pic_Mbl.Width(), Pic_Mbl.Height())) {
    gdi::BitBlt(Pic_C_Box.hDC(), p.x, p.y, Pic_Mbl.Width(), Pic_Mbl.Height(), Pic_Mbl.hDC(), 0, 0,
                gdi::SRCCOPY);
  }
  Pic_C_Box.Refresh();

  for (int i = 0; i < 5; ++i) {
    Img_Cmd[std::size_t(i)]->Picture(Img_Off);
    lbl_Cmd[std::size_t(i)]->MouseIcon(MouseIcon);
  }

  if (const auto loaded = LoadSettings(state_, settingsFiles_.load, sys::ProgramFolder());
      !loaded) {
    sys::Diagnostic("the settings were not read: " + loaded.problem);
  }

  DrawBevel(Pic_Velkor_Box, kEdgeRaised);
  DrawBevel(Pic_Gif_Box, kEdgeRaised);

  ShowOptionPictures();

  lstFiles->MouseIcon(MouseIcon);
  ImgExit.MouseIcon(MouseIcon);
  Img_Trans->MouseIcon(MouseIcon);
  lbl_Trans->MouseIcon(MouseIcon);
  for (int i = 0; i < 2; ++i) {
    Img_File[std::size_t(i)]->MouseIcon(MouseIcon);
    lbl_File[std::size_t(i)]->MouseIcon(MouseIcon);
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

void Velkor_M::EnableCommand(int index, bool on) { lbl_Cmd[std::size_t(index)]->Enabled(on); }

bool Velkor_M::CommandEnabled(int index) const { return lbl_Cmd[std::size_t(index)]->Enabled(); }

void Velkor_M::lbl_Cmd_MouseDown(int index, platform::MouseButton) {
  Img_Cmd[std::size_t(index)]->Picture(Img_On);
}

void Velkor_M::lbl_Cmd_MouseUp(int index, platform::MouseButton) {
  Img_Cmd[std::size_t(index)]->Picture(Img_Off);
  wsys::Alive<Velkor_M> self(this);
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
      // The program ends all the same; a user who finds the settings gone
      // next time can read why.
      if (const auto saved = SaveSettingsFile(state_, settingsFiles_); !saved) {
        sys::Diagnostic("the settings were not saved: " + saved.problem);
      }
      Unload();  // ends the program
      break;
    default:
      break;
  }
}

void Velkor_M::ImgExit_MouseDown() { ImgExit.Picture(imgImages[1]); }

void Velkor_M::ImgExit_MouseUp() {
  ImgExit.Picture(imgImages[0]);
  wsys::Alive<Velkor_M> self(this);
  sys::DoEvents();
  if (self) Unload();  // without saving the settings
}

void Velkor_M::FileSelection() {
  wsys::OpenFileRequest request;
  request.owner = this;
  request.title = "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択";
  request.filterDescription = "ｱﾆﾒｰｼｮﾝGifﾌｧｲﾙ (gif)";
  request.pattern = "*.gif";
  request.initialDir = state_.LastFolder;
  const auto chosen = wsys::GetOpenFileName(request);
  // The dialog's answer is tested through ApiResult, as the window always has.
  state_.ApiResult = chosen ? 1 : 0;
  if (state_.ApiResult == 0) return;
  ChooseSource(*chosen);
}

void Velkor_M::ChooseSource(const std::string& path) {
  Pic_Velkor->Visible(false);
  lbl_Path->Caption(path);
  // A file the loader cannot read leaves the previous picture in the loader,
  // and the steps after it work on that.
  if (auto pic = platform::LoadPicture(lbl_Path->Caption())) Pic_Dmy.Picture(*pic);
  if (Pic_Dmy.Width() <= 32767 && Pic_Dmy.Height() <= 32767) {
    state_.ImageWidth = std::int16_t(Pic_Dmy.Width());
    state_.ImageHeight = std::int16_t(Pic_Dmy.Height());
  }
  DrawThumbnail(Pic_Velkor_Box, Pic_Dmy.Width(), Pic_Dmy.Height());
  Pic_Velkor->Visible(true);
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
    gdi::SetStretchBltMode(box.hDC(), gdi::COLORONCOLOR);
    gdi::StretchBlt(box.hDC(), 0, 0, iw, ih, Pic_Dmy.hDC(), 0, 0, w, h, gdi::SRCCOPY);
  }
  box.Refresh();
  DrawBevel(box, kEdgeRaised);
}

void Velkor_M::lstFiles_Click() {
  const int index = lstFilesModel.ListIndex();
  if (index == -1) return;
  Pic_Gif->Visible(false);
  if (auto pic = platform::LoadPicture(lstFilesModel.List(index))) Pic_Dmy.Picture(*pic);
  DrawThumbnail(Pic_Gif_Box, Pic_Dmy.Width(), Pic_Dmy.Height());
  Pic_Gif->Visible(true);
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

std::optional<std::string> DroppedSource(const std::vector<std::string>& paths) {
  if (paths.size() != 1 || paths.front().empty()) return std::nullopt;
  std::error_code ec;
  const auto path = std::filesystem::absolute(sys::PathOf(paths.front()), ec);
  if (ec || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  if (!sys::MatchesPattern(sys::Utf8Of(path.filename()), "*.gif")) return std::nullopt;
  return sys::Utf8Of(path.lexically_normal());
}

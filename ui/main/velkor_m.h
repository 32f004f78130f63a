// Velkor_M: the main window. Title strip with drag and close button, five
// command buttons, the source file's path and thumbnail, the output options,
// the list of exported frame files with the thumbnail of the chosen entry.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/window/window.h"
#include "settings/settings.h"
#include "ui/viewers/effects.h"

class Velkor_M : public wsys::Form {
 public:
  // `settingsFiles` says where the settings are read from and saved to.
  Velkor_M(SharedState& state, SettingsFiles settingsFiles);
  ~Velkor_M() override;

  // --- models, declared first: the views below show them until they go ---
  platform::PictureBox Pic_C_Box;
  platform::ListBox lstFilesModel;
  platform::PictureBox Pic_Velkor_Box;
  platform::PictureBox Pic_Gif_Box;
  platform::PictureBox Pic_Dmy;  // the hidden picture loader
  platform::PictureBox Pic_Mbl;  // the background strip

  // --- title strip ---
  wsys::ImageControl Image1;
  std::array<wsys::Label*, 2> lbl{};  // 0 "保存ﾌｧｲﾙ" on the panel, 1 "Velkor" on the strip
  wsys::ImageControl ImgExit;

  // --- content panel and its controls ---
  wsys::PictureBoxView Pic_C;
  std::array<wsys::ImageControl*, 5> Img_Cmd{};
  std::array<wsys::Label*, 5> lbl_Cmd{};
  wsys::Label* lbl_Path = nullptr;
  std::array<wsys::ImageControl*, 2> Img_File{};
  std::array<wsys::Label*, 2> lbl_File{};
  wsys::Label* lbl_Trans = nullptr;
  wsys::ImageControl* Img_Trans = nullptr;
  wsys::ListBoxView* lstFiles = nullptr;
  wsys::PictureBoxView* Pic_Velkor = nullptr;
  wsys::PictureBoxView* Pic_Gif = nullptr;

  // --- resource controls (never on screen) ---
  wsys::Image Img_Off, Img_On;
  std::array<wsys::Image, 2> imgImages;  // close button at rest, pressed
  wsys::Image Img_Opt_Off, Img_Opt_On;
  std::array<wsys::Image, 2> Img_Ra;  // check picture off, on
  wsys::Cursor MouseIcon;             // the hand pointer

  // --- window-level state ---
  std::int32_t ListExtent = 0;
  WindowDrag Drag;

  // Event handlers.
  void lbl_Cmd_MouseDown(int index, platform::MouseButton button);
  void lbl_Cmd_MouseUp(int index, platform::MouseButton button);
  void ImgExit_MouseDown();
  void ImgExit_MouseUp();
  void Img_File_MouseDown(int index);
  void lbl_File_MouseDown(int index);
  void Img_Trans_MouseDown();
  void lbl_Trans_MouseDown();
  void lstFiles_Click();

  // The command that a released caption runs.
  void RunCommand(int index);
  // What a confirmed choice of `path` does (the dialog, a drop, the command
  // line): path, loader, size, thumbnail, commands, folder and base name.
  void ChooseSource(const std::string& path);
  // Fits the loader's picture into 90 x 90 and draws it, bevelled, into `box`.
  void DrawThumbnail(platform::PictureBox& box, int w, int h);
  void ChooseOutputType(int index);
  void ToggleTransparency();
  bool CommandEnabled(int index) const;

  // The places the background tiling copies the strip to.
  static std::vector<platform::Point> TilePositions(int W, int H, int w, int h);

  // Open the preview window and the gallery; replaced until those windows
  // exist in a build, and by tests that watch the order of events.
  std::function<void()> ShowPreviewWindow;
  std::function<void()> ShowGalleryWindow;
  // Ends the program after command 4 (the application's quit by default).
  std::function<void()> EndProgram;

 protected:
  void Form_Load() override;
  void Form_Unload() override;

 private:
  void FileSelection();
  void ShowOptionPictures();
  void EnableCommand(int index, bool on);
  SharedState& state_;
  SettingsFiles settingsFiles_;
};

// The file a drop names, when it is exactly one file (given by its path,
// absolute or not) matching "*.gif"; its absolute path.
std::optional<std::string> DroppedSource(const std::vector<std::string>& paths);

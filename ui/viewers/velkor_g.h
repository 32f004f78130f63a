// Velkor_G: the gallery. Every frame file of the last split run, one below the
// other on one tall strip that a scroll bar moves inside a viewport two thirds
// of the screen high.
#pragma once

#include <array>
#include <cstdint>

#include "platform/controls/controls.h"
#include "platform/window/window.h"
#include "settings/settings.h"
#include "ui/viewers/effects.h"

class Velkor_G : public wsys::Form {
 public:
  // What the gallery borrows from the main window.
  struct Borrowed {
    const platform::ListBox& lstFiles;
    const std::array<wsys::Image, 2>& imgImages;
    const wsys::Cursor& mouseIcon;
  };
  Velkor_G(SharedState& state, Borrowed main);
  ~Velkor_G() override;

  // The most pixels the strip may hold (256 MiB of 32-bit pixels). Frames
  // beyond it are not drawn, as when a frame file cannot be read.
  static constexpr std::int64_t kStripPixelBudget = std::int64_t(64) << 20;
  std::int64_t StripPixelBudget = kStripPixelBudget;

  platform::PictureBox Pic_D;
  platform::PictureBox Pic_b1_Box;
  wsys::PictureBoxView Pic_b1;  // the viewport, with its border
  wsys::Frame Pic_b1_Client;    // its inside, which clips the strip
  platform::PictureBox Pic_b2_Box;
  wsys::PictureBoxView Pic_b2;  // the strip
  wsys::VScrollBar VScroll;
  wsys::ImageControl Image1;
  wsys::Label* lbl = nullptr;
  wsys::ImageControl ImgExit;

  std::int16_t OriginX = 0, OriginY = 0;
  WindowDrag Drag;
  std::int32_t GalleryIndex = 0;
  int FramesDrawn() const { return framesDrawn_; }

  void VScroll_Change();
  void VScroll_Scroll();
  void ImgExit_MouseDown();
  void ImgExit_MouseUp();

 protected:
  void Form_Load() override;
  void Form_QueryUnload() override;

 private:
  void FillGallery();
  SharedState& state_;
  Borrowed main_;
  int framesDrawn_ = 0;
};

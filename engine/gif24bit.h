// clsGif24bit: cuts an animated GIF into single-frame GIF files that the
// platform's picture loader decodes, composes the frames on an off-screen
// canvas with colour-keyed masking, plays them once and, in a split run,
// exports every composed frame.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"
#include "settings/settings.h"

class clsGif24bit {
 public:
  // `master` is the box the animation is drawn in (its context becomes the
  // target); `display` and `lstFiles` receive the exported frames of a split
  // run and may be absent for a preview.
  clsGif24bit(platform::PictureBox& master, SharedState& state,
              platform::PictureBox* display = nullptr, platform::ListBox* lstFiles = nullptr);
  ~clsGif24bit();
  clsGif24bit(const clsGif24bit&) = delete;
  clsGif24bit& operator=(const clsGif24bit&) = delete;

  // --- public surface ---
  std::int32_t UserDelay() const { return userDelay_; }
  void UserDelay(const std::int32_t& lngDelay);
  std::int16_t StopRender() const { return stopRender_; }
  void StopRender(const std::int16_t& blS);
  void ImageCtl(platform::PictureBox& CurImageCtl) { imageCtl_ = &CurImageCtl; }
  gdi::DC* hDCImage() const { return TargetDC; }

  // What the break-out's reads and steps throw on failure; it is caught in one
  // place, which sets NotAnimatedFlag.
  struct Failure {};

  // Makes the canvas from ScreenWidth and ScreenHeight, filled with the
  // target's back colour. A size the drawing layer refuses throws; the
  // break-out turns that into NotAnimatedFlag. Returns 0.
  std::int16_t fCreateBitMap();
  std::int16_t fGifBreakOutFrames();
  void RenderGif();
  void CleanUp();

  // Loads one single-frame file; tests replace it to see the exact bytes.
  // The program's own loader decodes the bytes it has just written instead of
  // reading the file back; a replaced loader is given the file, one frame at
  // a time on one thread.
  using Loader = std::function<std::optional<platform::Picture>(const std::string& path)>;
  Loader PictureLoader;
  static std::optional<platform::Picture> LoadFramePicture(const std::string& path);

  // Threads the break-out decodes frames on; 0: one per core of the machine.
  // Only the frame files and their pictures are touched off the calling
  // thread: nothing there reaches the window system.
  unsigned DecodeThreads = 0;

  // --- stream fields ---
  // The file while the break-out reads and cuts it (position P is
  // FileBytes[P - 1]); emptied once every frame has been cut out.
  std::vector<std::uint8_t> FileBytes;
  std::uint8_t BackgroundIndex = 0;
  std::uint8_t PixelAspect = 0;
  std::uint8_t ColorResolution = 0;
  std::int16_t GlobalTableFlag = 0;
  std::array<std::uint8_t, 768> GlobalColorTable{};
  std::int16_t ScreenWidth = 0;
  std::int16_t ScreenHeight = 0;
  std::int16_t GlobalSortFlag = 0;
  std::uint8_t GlobalTableSize = 0;
  std::array<std::uint8_t, 768> LocalColorTable{};

  // --- frame table (parallel columns, rows from 0) ---
  std::vector<std::int32_t> FrameStart;  // 1-based file positions
  std::vector<std::int32_t> FrameEnd;
  std::vector<platform::Picture> FramePicture;
  std::vector<std::int16_t> FrameLeft, FrameTop, FrameWidth, FrameHeight;
  std::vector<std::int16_t> FrameSortFlag, LocalTableFlag, InterlaceFlag;
  std::vector<std::uint8_t> LocalTableSize, LzwCodeSize;
  std::vector<std::int16_t> DelayTime;
  std::vector<std::uint8_t> TransparentIndex, DisposalMethod;
  std::vector<std::int16_t> UserInputFlag, TransparentFlag;
  // The colour a transparent frame is keyed on: its own table's entry at its
  // transparent index after every repair; -1 when the table has no such entry.
  std::vector<std::int32_t> FrameKeyColor;

  // --- drawing side ---
  gdi::Bitmap* CanvasBitmap = nullptr;
  gdi::DC* TargetDC = nullptr;
  std::unique_ptr<gdi::DC> CanvasDC;
  gdi::COLORREF CanvasBackColor = 0;
  std::int32_t CanvasWidth = 0;
  std::int32_t CanvasHeight = 0;
  gdi::BITMAPINFOHEADER CanvasDescription;
  gdi::RECT FrameRect;  // the canvas, or a frame's left, top, width, height

  // The most frame pixels one break-out keeps (frames are 8-bit, so bytes):
  // a small file can describe many huge frames, and all of them stay in
  // memory until the run ends. A file that needs more is refused.
  std::int64_t FramePixelBudget = std::int64_t(2) << 30;

  // Files a split run could not write, in order.
  std::vector<std::string> FailedFiles;

  void MaskedBlit(gdi::DC& dst, gdi::DC& ref, gdi::DC& frameDC, const gdi::RECT& rect,
                  std::int16_t x, std::int16_t y, gdi::COLORREF& key);
  static void NearestSolidColor(gdi::COLORREF& color, gdi::COLORREF& result);
  // A fresh, exclusively created temporary file "<folder><prefix>…<.extension>".
  static std::string fTempFileName(std::string& folder, const std::string& prefix,
                                   const std::string& extension);

 private:
  std::uint8_t Byte(std::int64_t p) const;
  std::int16_t Word(std::int64_t p) const;
  std::int64_t SkipSubBlocks(std::int64_t s) const;
  template <typename F>
  void ForEachRowColumn(F&& f);  // every per-row column but FrameKeyColor
  void GrowRows(std::size_t rows);
  void Walk(std::int64_t& p, std::size_t r);
  void ReadImage(std::int64_t& p, std::size_t r, std::int64_t& tableStart);
  void Repair(std::size_t r, std::int64_t tableStart);
  // Cuts out and loads every frame; with the program's own loader it also
  // loads the file's first image, for Finish.
  std::optional<platform::Picture> WriteFrames();
  bool CutFrame(std::size_t k, const std::string& folder, bool fromMemory);
  void Finish(std::optional<platform::Picture> whole);

  SharedState& state_;
  platform::PictureBox* display_;
  platform::ListBox* lstFiles_;
  platform::PictureBox* imageCtl_;
  std::int32_t userDelay_ = 0;
  std::int16_t stopRender_ = 0;
  std::int64_t globalStart_ = 0;  // G
  double second_ = 0;             // the repair's running Second
  std::vector<std::uint8_t> packed_;
  std::unique_ptr<gdi::Bitmap> canvas_;
  gdi::Bitmap* canvasPrevious_ = nullptr;
};

// clsGif24bit: cuts an animated GIF into single-frame GIF files that the
// platform's picture loader decodes, composes the frames on an off-screen
// canvas with colour-keyed masking, plays them once and, in a split run,
// exports every composed frame.
//
// A run uses threads, both started and joined inside one call (see
// engine/frame_threads.h for their contract):
//   - fGifBreakOutFrames decodes the frames on a small pool (DecodeThreads)
//     and joins it before it returns;
//   - RenderGif writes the exported frames on two writer threads and joins
//     them before it returns.
// Everything else, every yield to the window system included, happens on the
// thread that calls the engine.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/browser_frames.h"
#include "engine/run_result.h"
#include "platform/controls/controls.h"
#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

class GIF;
class FileWindow;
class FrameWriter;

// What a split run writes for each frame. The window always writes what
// GifFiles says (GIF or bitmap files); the command line can also ask for PNG
// files of the composed frames, with their transparency (a pixel no frame has
// drawn since the canvas was last cleared is transparent), or of the pixels
// each frame stores itself.
enum class FrameFiles { ByOutputType, Png, StoredPng };
// How frames are composed: by the window's rules (every frame drawn with the
// drawing layer onto a canvas of the logical screen), or as a web browser
// shows them (see engine/browser_frames.h), decoded straight from the file's
// bytes. The window program always uses its own.
enum class Composition { Window, Browser };

// What one run is asked to do: which file, whether it is a split run, and
// what a split writes. The window side fills the first five from the
// program's record and leaves the rest as they are; the command line sets
// them all from its options.
struct RunOptions {
  std::string DecoderPath;     // the file broken into frames
  bool Split = false;          // a split run exports its frames; a preview only plays
  bool GifFiles = true;        // GIF frame files, else Windows bitmaps
  bool Transparent = false;    // GIF frames mark their top-left colour transparent
  std::string OutputBaseName;  // frame n goes to OutputBaseName + "_" + "00n" + extension
  // Frame n's path without its extension, given the number of frames, when
  // the frames are named otherwise than OutputBaseName says.
  std::function<std::string(std::int64_t n, std::int64_t frames)> FramePath;

  FrameFiles ExportAs = FrameFiles::ByOutputType;
  // Which frames a split run writes, by number from 1; none set: every one.
  // The others are played and composed as ever, but neither listed nor
  // written.
  std::function<bool(std::int64_t n)> ExportSelected;
  // A file no frame of a split run may replace (the source); a frame whose
  // name leads to it is reported as not written.
  std::string ProtectedFile;
  // A frame whose name is taken (by a file, a folder or a link) is kept as it
  // is and reported as not written, kept.
  bool KeepExisting = false;

  Composition Compose = Composition::Window;
  // What transparent pixels of a browser composition become in frame files
  // that have no transparency (bitmaps, GIF files, 0x00RRGGBB).
  std::uint32_t BrowserBackground = 0;

  // A file whose bytes are damaged at frame K (cut short, a broken block,
  // image data that cannot be decoded) breaks out into frames 1 ... K-1 when
  // set, and Damage() says where; a file without one whole frame, one that
  // is no GIF, or one over the pixel budget is refused as ever. Unset, any
  // damage refuses the file.
  bool Salvage = false;

  // Threads the break-out decodes frames on; 0: one per core of the machine.
  // Only the frame files and their pictures are touched off the calling
  // thread: nothing there reaches the window system.
  unsigned DecodeThreads = 0;
  // Whether a run starts threads of its own, to decode and to write frames;
  // without, it does all on the calling thread (velkor-split runs one file on
  // each core instead).
  bool OwnThreads = true;
  // Called once the break-out knows how many frame pixels it keeps, before
  // it decodes any, with the bytes the run will hold (HeldBytes); what it
  // returns is held until CleanUp. Runs side by side share one memory budget
  // through it (it may wait).
  std::function<std::shared_ptr<void>(std::int64_t pixels)> PixelGate;
  // Set: a split run hands each frame it exports to this instead of writing
  // a file (the command line packs them into sheets): frame n's composed
  // picture (0x00RRGGBB) and its alpha as a PNG frame has it (nullptr:
  // opaque), on the thread that runs the engine, in frame order. Frame names
  // are neither checked nor taken. It returns why the frame could not be
  // kept, empty when it was; the frame is then reported as written or not.
  std::function<std::string(std::int64_t n, const gdi::Bitmap& picture, const std::uint8_t* alpha)>
      TakeFrame;
  // The same for the browser composition, before TakeFrame: its canvas as it
  // stands after frame n, RGBA bytes (alpha 0 or 255), rows top to bottom, as
  // the composition holds it (a program reading frames into arrays wants
  // these bytes, not the drawing layer's).
  std::function<std::string(std::int64_t n, const std::uint8_t* rgba, int width, int height)>
      TakeCanvas;
  // Browser composition: whether the break-out decodes every frame's data
  // before the play, so that a split that cannot write every frame writes
  // none (or, salvaged, knows where to stop). Off, only the first frame is
  // checked, and a frame whose data cannot be decoded ends the play there:
  // the frames before it have been handed over, and RunResult::playFailure
  // says why. For callers that take frames as they come rather than files.
  bool CheckFrames = true;
};

// One frame of the file as the break-out reads it: where its bytes lie, its
// image descriptor and graphic control fields, and its decoded picture.
struct FrameRecord {
  std::int32_t FrameStart = 0;  // 1-based file positions of its first block
  std::int32_t FrameEnd = 0;    // and of its image data's terminator
  platform::Picture FramePicture;
  std::int16_t FrameLeft = 0, FrameTop = 0, FrameWidth = 0, FrameHeight = 0;
  bool LocalTableFlag = false, InterlaceFlag = false;
  std::uint8_t LocalTableSize = 0;
  std::int16_t DelayTime = 0;  // hundredths; the file's 16 bits in signed storage
  std::uint8_t TransparentIndex = 0, DisposalMethod = 0;
  bool UserInputFlag = false, TransparentFlag = false;
  // The colour a transparent frame is keyed on: its own table's entry at its
  // transparent index after every repair; -1 when the table has no such entry.
  std::int32_t FrameKeyColor = -1;
};

class clsGif24bit {
 public:
  // `master` is the box the animation is drawn in (its context becomes the
  // target); `display` receives the exported frames of a split run and may be
  // absent for a preview.
  explicit clsGif24bit(platform::PictureBox& master, platform::PictureBox* display = nullptr);
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
  // How long the frame loop waits before it draws frame k, in ms.
  std::int32_t FrameWait(std::size_t k) const;

  RunOptions Options;

  // What the break-out's reads and steps throw on failure; it is caught in one
  // place, which keeps it as LastFailure.
  struct Failure : std::exception {
    explicit Failure(BreakOutFailure failure) : what_(failure) {}
    BreakOutFailure what_;
    const char* what() const noexcept override { return "the file cannot be broken into frames"; }
  };
  // Why the last break-out failed (reason None when it did not): the window
  // side's NotAnimatedFlag.
  const BreakOutFailure& LastFailure() const { return lastFailure_; }
  bool BrokenOut() const { return lastFailure_.reason == BreakOutReason::None; }
  // Where the bytes of a file broken out with Salvage are damaged (frame K);
  // the frame table then holds frames 1 ... K-1 only. None otherwise.
  const std::optional<BreakOutFailure>& Damage() const { return damage_; }

  // The bytes a run holds while it plays: `framePixels` of 8-bit frame
  // pictures, the canvas, the boxes' pictures and what PNG frames keep.
  std::int64_t HeldBytes(std::int64_t framePixels) const;

  // Makes the canvas from ScreenWidth and ScreenHeight, filled with the
  // target's back colour. A size the drawing layer refuses throws; the
  // break-out turns that into NotAnimatedFlag. Returns 0.
  std::int16_t fCreateBitMap();
  std::int16_t fGifBreakOutFrames();
  // Plays the frames once; a split run hands every exported frame, written or
  // not, to `sink` (when given), in frame order on the calling thread.
  // Returns what was written and what was not, with the reasons.
  RunResult RenderGif(ExportSink* sink = nullptr);
  void CleanUp();

  // Sees every single-frame file while it exists: its frame index (from 0),
  // its path and its bytes. Calls are made one at a time, from any of the
  // decoding threads; tests use it to check what is cut out.
  using FrameFileObserver = std::function<void(std::size_t k, const std::string& path,
                                               const std::vector<std::uint8_t>& bytes)>;
  FrameFileObserver ObserveFrameFile;

  using FrameFiles = ::FrameFiles;
  using Composition = ::Composition;
  // The browser composition's canvas (0 x 0 before a break-out).
  int BrowserCanvasWidth() const { return browserWidth_; }
  int BrowserCanvasHeight() const { return browserHeight_; }

  // --- stream fields ---
  // How many bytes of the file the break-out reads at a time while it walks
  // its blocks; each frame is then read again on its own to be cut out, so
  // the file is never held whole beside its frames. Tests make it tiny.
  std::size_t ReadPieceBytes = std::size_t(1) << 20;
  std::uint8_t BackgroundIndex = 0;
  std::uint8_t PixelAspect = 0;
  bool GlobalTableFlag = false;
  std::array<std::uint8_t, 768> GlobalColorTable{};
  std::int16_t ScreenWidth = 0;
  std::int16_t ScreenHeight = 0;
  std::uint8_t GlobalTableSize = 0;
  std::array<std::uint8_t, 768> LocalColorTable{};

  // --- frame table: every frame read to its end, in file order ---
  std::vector<FrameRecord> Frames;
  // What the stream says besides its frames: the loop count of a looping
  // extension (-1: none), and the text of every comment, in order.
  std::int32_t LoopCount = -1;
  std::vector<std::string> Comments;

  // --- drawing side ---
  gdi::Bitmap* CanvasBitmap = nullptr;
  std::unique_ptr<gdi::DC> CanvasDC;
  gdi::COLORREF CanvasBackColor = 0;
  std::int32_t CanvasWidth = 0;
  std::int32_t CanvasHeight = 0;
  // The canvas, or the frame being drawn, as a position and a size.
  struct Area {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
  };

  // The most frame pixels one break-out keeps (frames are 8-bit, so bytes):
  // a small file can describe many huge frames, and all of them stay in
  // memory until the run ends. A file that needs more is refused.
  static constexpr std::int64_t kFramePixelBudget = std::int64_t(2) << 30;
  std::int64_t FramePixelBudget = kFramePixelBudget;

  void MaskedBlit(gdi::DC& dst, gdi::DC& ref, gdi::DC& frameDC, const Area& rect, std::int16_t x,
                  std::int16_t y, gdi::COLORREF& key);
  static void NearestSolidColor(gdi::COLORREF& color, gdi::COLORREF& result);

 private:
  // The global table as the file holds it, before any repair.
  std::array<std::uint8_t, 768> StoredGlobalTable{};
  gdi::DC* TargetDC = nullptr;
  Area FrameRect;  // the frame being drawn
  // The encoder of the GIF frame being exported.
  std::shared_ptr<GIF> GifEncoder;
  // A fresh, exclusively created temporary file "<folder><prefix>…<.extension>".
  static std::string fTempFileName(std::string& folder, const std::string& prefix,
                                   const std::string& extension);

  [[noreturn]] void Fail(BreakOutReason reason, std::int64_t byte = -1,
                         std::int64_t frame = 0) const;
  std::uint8_t Byte(std::int64_t p, BreakOutReason reason, std::int64_t frame = 0) const;
  std::int16_t Word(std::int64_t p, BreakOutReason reason, std::int64_t frame = 0) const;
  void ReadHeader(std::int64_t& p);
  void ReadControl(std::int64_t p, FrameRecord& row);
  void ReadImage(std::int64_t& p, FrameRecord& row, std::int64_t frame, std::int64_t& tableStart);
  void Repair(FrameRecord& row, std::int64_t tableStart);
  void ReadFrames(std::int64_t p);
  void ReadFramesOrSalvage(std::int64_t p);
  void KeyOnGlobalTable();
  // Cuts out and decodes every frame, and decodes the file's first image,
  // which it returns for Finish.
  platform::Picture WriteFrames();
  bool CutFrame(std::size_t k, const std::string& folder, std::vector<std::uint8_t>& bytes,
                BreakOutFailure& failure);
  void Finish(platform::Picture whole);
  // Waits frame k's delay, applies its disposal and draws it onto the canvas
  // and into the target.
  void DrawFrame(std::size_t k, gdi::DC& frameDC);
  void ExportFrame(std::size_t k, FrameWriter& writer);
  // What a play reports of each frame: counted into `result`, then passed to
  // `sink` when given.
  static std::function<void(const ExportedFrame&)> Reporting(RunResult& result, ExportSink* sink);
  // Frames k and later that this run would export, reported as not written
  // for `reason` (a play that cannot go on).
  // Reports frame n as not written when its name leads to the source, or is
  // taken and the run keeps what it finds: true then.
  bool NameRefused(std::int64_t n, const std::string& name, FrameWriter& writer) const;
  void NotWrittenFrom(std::size_t k, FrameWriter& writer, const std::string& reason) const;
  // The file frame n is written to, and whether a split run exports frame k.
  std::string FrameFileName(std::int64_t n) const;
  bool Exports(std::size_t k) const;
  // Makes the coverage a PNG split keeps (throws std::bad_alloc when it
  // cannot), or drops it for any other run.
  void StartCoverage();
  // The transparency of the composed frame, one byte per pixel of the export
  // box (empty when every pixel is opaque), or the pixels frame k stores
  // itself, at the export box's size.
  std::vector<std::uint8_t> CompositionAlpha() const;
  // Hands frame n to Options.TakeFrame and reports it to `writer`.
  void TakeExported(std::int64_t n, const std::string& name, const platform::Picture& picture,
                    const std::vector<std::uint8_t>& alpha, FrameWriter& writer) const;
  // Reports frame n, handed to the caller by `take` (which returns why it
  // could not be kept), to `writer`.
  void ReportTaken(std::int64_t n, const std::string& name,
                   const std::function<std::string()>& take, FrameWriter& writer) const;
  platform::Picture StoredPixels(std::size_t k, std::vector<std::uint8_t>& alpha) const;
  void ReadExtension(std::size_t at, std::uint8_t label);
  void CoverFrame(std::size_t k, gdi::DC* mask, std::int16_t x, std::int16_t y, std::int32_t w,
                  std::int32_t h);
  // The part of the canvas the export box shows.
  int ShownWidth() const;
  int ShownHeight() const;

  // The browser composition: its walk (a byte that starts no block ends the
  // stream; each image takes only the control just before it), the check
  // that every frame's data decodes, and its play.
  void BrowserBreakOut(std::int64_t p);
  void BrowserWalk(std::int64_t p);
  void BrowserCheckFrames();
  RunResult BrowserRender(ExportSink* sink);
  // Frame k's image data, its sub-blocks joined, read with one read of the
  // file (from any thread); false when the read fails or falls short.
  bool BrowserData(std::size_t k, std::vector<std::uint8_t>& data) const;
  // Frame k's indices, rows top to bottom: None, or CannotRead (errno set)
  // or FrameUndecodable. Any thread; throws std::bad_alloc.
  BreakOutReason BrowserDecode(std::size_t k, std::vector<std::uint8_t>& data,
                               std::vector<std::uint8_t>& indices,
                               std::vector<std::uint8_t>& rows) const;
  unsigned BrowserThreads() const;
  // The play's decoding threads besides the composing one (none when the run
  // starts no threads), and the frames it decodes ahead into.
  unsigned BrowserAheadThreads() const;
  std::size_t BrowserSlots() const;
  void BrowserExport(std::size_t k, const browser::Canvas& canvas, FrameWriter& writer);
  std::vector<browser::Image> browserImages_;
  int browserWidth_ = 0, browserHeight_ = 0;

  platform::PictureBox* display_;
  platform::PictureBox* imageCtl_;
  std::int32_t userDelay_ = 0;
  std::int16_t stopRender_ = 0;
  // The file while the break-out walks and cuts it; closed once every frame
  // has been cut out.
  std::unique_ptr<FileWindow> file_;
  std::int64_t fileLength_ = 0;
  std::uint8_t At(std::int64_t offset) const;  // the file's byte at `offset` from 0
  // The header and global table every single-frame file starts with, with
  // every repair of the global table made.
  std::vector<std::uint8_t> header_;
  // Repairs of local tables, by offset in the file: applied to the frame's
  // bytes as it is cut out.
  struct TablePatch {
    std::int64_t at;
    std::array<std::uint8_t, 3> bytes;
  };
  std::vector<TablePatch> tablePatches_;
  std::int64_t globalStart_ = 0;  // G
  double second_ = 0;             // the repair's running Second
  std::unique_ptr<gdi::Bitmap> canvas_;
  // Where frames have drawn since the canvas was last cleared (1) and where
  // not (0), kept only for PNG output.
  std::optional<gdi::Bitmap> coverage_;
  std::unique_ptr<gdi::DC> coverageDC_;
  // Known to be covered wherever the export box shows the canvas: most
  // animations draw whole frames, which then need no transparency at all.
  bool coverageFull_ = false;
  BreakOutFailure lastFailure_;
  std::optional<BreakOutFailure> damage_;
  std::shared_ptr<void> pixelHold_;
  gdi::Bitmap* canvasPrevious_ = nullptr;
};

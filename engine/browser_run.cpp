// The browser composition of clsGif24bit: its walk, its checks and its play.
// It shares the window's header reading, reasons, frame table, writers and
// run result; its frames never go through temporary files or the picture
// loader, and only one canvas and the frames being written are held.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "encoder/gif_encoder.h"
#include "engine/file_window.h"
#include "engine/frame_threads.h"
#include "engine/gif24bit.h"
#include "platform/picture/gif_blocks.h"
#include "platform/picture/lzw.h"
#include "platform/system/system.h"

namespace gb = gifblocks;

namespace {
// The canvas's pixel x of a row (R, G, B, A in memory) as one word, and that
// word as the drawing layer's 0x00RRGGBB: plain shifts and a byte swap, which
// the compiler turns into vector shuffles.
inline std::uint32_t Rgba(const std::uint8_t* row, int x) {
  std::uint32_t v;
  std::memcpy(&v, row + std::size_t(x) * 4, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;  // 0xAABBGGRR
}
inline std::uint32_t Rgb(std::uint32_t rgba) { return __builtin_bswap32(rgba) >> 8; }
}  // namespace

void clsGif24bit::BrowserBreakOut(std::int64_t p) {
  try {
    BrowserWalk(p);
  } catch (const Failure& failure) {
    if (!Options.Salvage || !IsDamage(failure.what_.reason) || Frames.empty()) throw;
    damage_ = failure.what_;
  }
  const browser::Image& first = browserImages_.front();
  int width = 0, height = 0;
  browser::CanvasSize(std::uint16_t(ScreenWidth), std::uint16_t(ScreenHeight), first, width,
                      height);
  if (std::int64_t(width) * height > gdi::PixelLimit() || width == 0 || height == 0) {
    // Nothing to show, or more than any canvas may hold.
    if (width == 0 || height == 0) {
      width = std::max(width, 1);
      height = std::max(height, 1);
    } else {
      Fail(BreakOutReason::CanvasRefused);
    }
  }
  browserWidth_ = width;
  browserHeight_ = height;
  if (Options.PixelGate) {
    // Asked before any frame is decoded: the canvas and what disposal 3
    // keeps of it, the frame pictures and their alpha the writers may hold
    // (three), and the indices of the largest frame in each slot the play
    // decodes ahead into and for each decoding thread (when interlaced).
    std::int64_t largest = 0;
    for (const auto& image : browserImages_) {
      largest = std::max(largest, std::int64_t(image.width) * image.height);
    }
    const std::int64_t canvas = std::int64_t(width) * height;
    pixelHold_ =
        Options.PixelGate(2 * 4 * canvas + 3 * 5 * canvas +
                          std::int64_t(BrowserSlots() + BrowserAheadThreads() + 1) * largest);
  }
  BrowserCheckFrames();
}

void clsGif24bit::BrowserWalk(std::int64_t p) {
  const std::int64_t n = fileLength_;
  std::int64_t o = p - 1;  // offsets from 0 here
  std::int64_t start = o;
  browser::Image image;
  FrameRecord row;
  while (true) {
    const std::int64_t frame = std::int64_t(Frames.size()) + 1;
    if (o >= n) {
      Fail(Frames.empty() ? BreakOutReason::NoImage : BreakOutReason::NoTrailer, n - 1, frame);
    }
    const std::uint8_t introducer = At(o);
    if (introducer == gb::kTrailer) break;
    if (introducer == gb::kExtension) {
      if (o + 1 >= n) Fail(BreakOutReason::TruncatedExtension, o, frame);
      const std::uint8_t label = At(o + 1);
      const auto end = gb::SkipSubBlocks(*file_, std::size_t(n), std::size_t(o + 2));
      if (!end) Fail(BreakOutReason::TruncatedExtension, o, frame);
      if (label == gb::kGraphicControlLabel) {
        // Only the control right before an image describes it.
        image = {};
        row = {};
        if (At(o + 2) >= 4) {
          const std::uint8_t flags = At(o + 3);
          image.disposal = (flags >> 2) & 7;
          image.transparent = (flags & 1) != 0;
          image.transparentIndex = At(o + 6);
          row.DisposalMethod = image.disposal;
          row.TransparentFlag = image.transparent;
          row.UserInputFlag = (flags & 2) != 0;
          row.TransparentIndex = image.transparentIndex;
          row.DelayTime = std::int16_t(At(o + 4) | (At(o + 5) << 8));
        }
      } else if (label == gb::kCommentLabel ||
                 (label == gb::kApplicationLabel && At(o + 2) == 11)) {
        ReadExtension(std::size_t(o), label);
      }
      o = std::int64_t(*end) + 1;
      continue;
    }
    // A byte that starts no block ends the stream: the frames before it stay.
    if (introducer != gb::kImageSeparator) break;

    if (o + std::int64_t(gb::kImageDescriptorSize) > n) {
      Fail(BreakOutReason::TruncatedDescriptor, o, frame);
    }
    auto word = [&](std::size_t at) {
      return int(At(o + std::int64_t(at))) | At(o + std::int64_t(at) + 1) << 8;
    };
    image.left = word(gb::kImageLeftAt);
    image.top = word(gb::kImageTopAt);
    image.width = word(gb::kImageWidthAt);
    image.height = word(gb::kImageHeightAt);
    const std::uint8_t flags = At(o + std::int64_t(gb::kImageFlagsAt));
    image.interlaced = (flags & gb::kInterlaceFlag) != 0;
    image.start = start;
    std::int64_t q = o + std::int64_t(gb::kImageDescriptorSize);
    if (flags & gb::kTableFlag) {
      const std::int64_t len = std::int64_t(gb::TableBytes(flags));
      if (q + len > n) Fail(BreakOutReason::TruncatedLocalTable, q, frame);
      image.tableAt = q;
      image.tableEntries = int(len / 3);
      q += len;
    }
    if (q >= n) Fail(BreakOutReason::TruncatedImageData, q, frame);
    image.dataAt = q;
    image.codeSize = At(q);
    std::int64_t s = q + 1;
    while (s < n && At(s) != 0) s += std::int64_t(At(s)) + 1;
    if (s >= n) Fail(BreakOutReason::TruncatedImageData, q, frame);
    image.dataEnd = s;
    if (start + 1 > INT32_MAX || s + 1 > INT32_MAX) Fail(BreakOutReason::TooLong, start, frame);

    row.FrameStart = std::int32_t(start + 1);
    row.FrameEnd = std::int32_t(s + 1);
    row.FrameLeft = std::int16_t(image.left);
    row.FrameTop = std::int16_t(image.top);
    row.FrameWidth = std::int16_t(image.width);
    row.FrameHeight = std::int16_t(image.height);
    row.LocalTableFlag = (flags & gb::kTableFlag) != 0;
    row.LocalTableSize = flags & gb::kTableSizeMask;
    row.InterlaceFlag = image.interlaced;
    Frames.push_back(row);
    browserImages_.push_back(image);
    image = {};
    row = {};
    o = s + 1;
    start = o;
  }
  if (Frames.empty()) Fail(BreakOutReason::NoImage, std::min(o, n - 1));
}

bool clsGif24bit::BrowserData(std::size_t k, std::vector<std::uint8_t>& data) const {
  // The sub-blocks are read whole, their size bytes then squeezed out in
  // place: the walk has already checked that the chain ends at dataEnd.
  const browser::Image& image = browserImages_[k];
  const std::size_t span = std::size_t(image.dataEnd - image.dataAt);
  data.resize(span);
  if (file_->File().ReadAt(std::uint64_t(image.dataAt + 1), data.data(), span) !=
      std::int64_t(span)) {
    return false;
  }
  std::size_t got = 0;
  for (std::size_t s = 0; s < span && data[s] != 0;) {
    const std::size_t n = data[s];
    if (s + 1 + n > span) return false;  // the file changed under the walk
    std::memmove(data.data() + got, data.data() + s + 1, n);
    got += n;
    s += n + 1;
  }
  data.resize(got);
  return true;
}

BreakOutReason clsGif24bit::BrowserDecode(std::size_t k, std::vector<std::uint8_t>& data,
                                          std::vector<std::uint8_t>& indices,
                                          std::vector<std::uint8_t>& rows) const {
  const browser::Image& image = browserImages_[k];
  const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
  if (pixels == 0) return BreakOutReason::None;
  errno = 0;
  if (!BrowserData(k, data)) return BreakOutReason::CannotRead;
  indices.resize(pixels);
  if (!lzw::Decode(image.codeSize, data.data(), data.size(), indices.data(), pixels)) {
    return BreakOutReason::FrameUndecodable;
  }
  if (!image.interlaced) return BreakOutReason::None;
  rows.resize(pixels);
  const std::size_t w = std::size_t(image.width);
  for (int r = 0; r < image.height; ++r) {
    std::copy_n(indices.data() + std::size_t(r) * w, w,
                rows.data() + std::size_t(browser::InterlacedRow(r, image.height)) * w);
  }
  indices.swap(rows);
  return BreakOutReason::None;
}

unsigned clsGif24bit::BrowserThreads() const {
  return !Options.OwnThreads          ? 1u
         : Options.DecodeThreads != 0 ? Options.DecodeThreads
                                      : std::max(1u, std::thread::hardware_concurrency());
}

unsigned clsGif24bit::BrowserAheadThreads() const {
  return Options.OwnThreads ? BrowserThreads() : 0u;
}

std::size_t clsGif24bit::BrowserSlots() const {
  return 2 * std::size_t(std::max(1u, BrowserAheadThreads()));
}

void clsGif24bit::BrowserCheckFrames() {
  // Every frame's data must decode before any is written, so that a file
  // that cannot be shown whole leaves nothing behind (or, salvaged, keeps
  // the frames before the first that cannot). Checking counts the pixels the
  // codes give and writes none; the frames are checked side by side.
  const unsigned threads = BrowserThreads();
  const std::size_t checked = Options.CheckFrames ? browserImages_.size() : 1;
  std::vector<std::vector<std::uint8_t>> data(threads);
  std::vector<BreakOutReason> why(checked, BreakOutReason::None);
  std::vector<int> errors(checked, 0);  // errno of a read that failed, on its own thread
  const std::size_t failed = DecodeFrames(checked, threads, [&](std::size_t k, unsigned w) {
    if (sys::StopRequested()) {
      why[k] = BreakOutReason::Interrupted;
      return false;
    }
    const browser::Image& image = browserImages_[k];
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    if (pixels == 0) return true;  // drawn as nothing, whatever its data
    try {
      errno = 0;
      if (!BrowserData(k, data[w])) {
        why[k] = BreakOutReason::CannotRead;
        errors[k] = errno;
        return false;
      }
    } catch (const std::bad_alloc&) {
      why[k] = BreakOutReason::OutOfMemory;
      return false;
    }
    if (lzw::Decode(image.codeSize, data[w].data(), data[w].size(), nullptr, pixels)) {
      return true;
    }
    why[k] = BreakOutReason::FrameUndecodable;
    return false;
  });
  if (failed >= checked) return;
  const std::int64_t frame = std::int64_t(failed) + 1;
  switch (why[failed]) {
    case BreakOutReason::Interrupted:
      Fail(BreakOutReason::Interrupted, -1, frame);
    case BreakOutReason::CannotRead:
      throw Failure({BreakOutReason::CannotRead, browserImages_[failed].dataAt, fileLength_, 0,
                     errors[failed] != 0 ? errors[failed] : EIO});
    case BreakOutReason::OutOfMemory:
      throw std::bad_alloc();
    default:
      break;
  }
  // The first image is the file's own picture, and refused as the window
  // program refuses a file whose picture cannot be loaded.
  if (failed == 0) throw Failure({BreakOutReason::FirstImageUndecodable, -1, fileLength_, 0, 0});
  const BreakOutFailure failure(BreakOutReason::FrameUndecodable, browserImages_[failed].start,
                                fileLength_, frame);
  if (!Options.Salvage) throw Failure(failure);
  damage_ = failure;
  Frames.resize(failed);
  browserImages_.resize(failed);
}

void clsGif24bit::BrowserExport(std::size_t k, const browser::Canvas& canvas, FrameWriter& writer) {
  const std::int64_t n = std::int64_t(k) + 1;
  const std::string name = FrameFileName(n);
  if (Options.TakeCanvas) {
    ReportTaken(
        n, name,
        [&] {
          return Options.TakeCanvas(n, canvas.Rgba().data(), canvas.Width(), canvas.Height());
        },
        writer);
    return;
  }
  if (!Options.TakeFrame && NameRefused(n, name, writer)) return;
  const int w = canvas.Width(), h = canvas.Height();
  auto bmp = gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
  if (!bmp) throw std::bad_alloc();
  bmp->DiscardPendingZero();
  const bool png = Options.ExportAs != FrameFiles::ByOutputType;
  std::vector<std::uint8_t> alpha;
  if (png) alpha.resize(std::size_t(w) * std::size_t(h));
  // Two loops with everything they read in locals, so that the compiler
  // keeps the background in a register and vectorises them (a store through
  // a row could otherwise change it).
  bool anyTransparent = false;
  const std::uint8_t* px = canvas.Rgba().data();
  const std::uint32_t background = Options.BrowserBackground;
  for (int y = 0; y < h; ++y, px += std::size_t(w) * 4) {
    std::uint32_t* const out = bmp->Row32(y);
    if (png) {
      std::uint8_t* const a = alpha.data() + std::size_t(y) * std::size_t(w);
      std::uint8_t lowest = 0xFF;
      for (int x = 0; x < w; ++x) {
        const std::uint32_t rgba = Rgba(px, x);
        out[x] = Rgb(rgba);
        a[x] = std::uint8_t(rgba >> 24);
        lowest = std::min(lowest, a[x]);
      }
      anyTransparent |= lowest == 0;
    } else {
      for (int x = 0; x < w; ++x) {
        const std::uint32_t rgba = Rgba(px, x);
        out[x] = (rgba >> 24) != 0 ? Rgb(rgba) : background;
      }
    }
  }
  platform::Picture picture(std::move(*bmp));
  if (Options.TakeFrame) {
    TakeExported(n, name, picture, alpha, writer);
    return;
  }
  if (png) {
    if (!anyTransparent) alpha.clear();  // opaque: no alpha channel
    writer.WritePng(n, name, std::move(picture), std::move(alpha));
    return;
  }
  if (!Options.GifFiles) {
    writer.WriteBitmap(n, name, std::move(picture));
    return;
  }
  auto encoder = std::make_shared<GIF>();
  const std::int16_t transparent = Options.Transparent ? -1 : 0;
  const gdi::COLORREF corner = gdi::FromPixel32(picture.Handle()->Row32(0)[0]);
  if (!encoder->Capture(picture, nullptr, transparent, corner)) {
    writer.Failed(n, name, "the frame cannot be captured");
    return;
  }
  encoder->Yields = false;  // the writer threads never yield (see frame_threads.h)
  writer.WriteGif(n, name, std::move(encoder));
}

RunResult clsGif24bit::BrowserRender(ExportSink* sink) {
  RunResult result;
  result.breakOut = lastFailure_;
  if (!BrokenOut() || browserImages_.empty() || !file_) return result;
  const FrameWriter::Reporter report = Reporting(result, sink);
  FrameWriter writer(Options.OwnThreads);
  const std::size_t frames = browserImages_.size();
  std::size_t k = 0, handed = 0;
  std::string undecodable;  // why frame k could not be drawn
  try {
    browser::Canvas canvas(browserWidth_, browserHeight_);
    std::optional<browser::Canvas> alone;  // a frame's own pixels, for StoredPng
    if (Options.ExportAs == FrameFiles::StoredPng) alone.emplace(browserWidth_, browserHeight_);
    // Frames are decoded ahead on threads of the run's own while the calling
    // thread composes them in order; only a few are held.
    const unsigned threads = BrowserAheadThreads();
    const std::size_t slots = BrowserSlots();
    std::vector<std::vector<std::uint8_t>> indices(slots), data(threads + 1), rows(threads + 1);
    // How each slot's frame decoded, and errno where it could not be read.
    std::vector<BreakOutReason> decoded(slots);
    std::vector<int> errors(slots);
    std::vector<std::uint8_t> localTable;  // the table of the frame being drawn
    DecodeAhead ahead(frames, threads, slots, [&](std::size_t f, std::size_t s, unsigned w) {
      try {
        decoded[s] = BrowserDecode(f, data[w], indices[s], rows[w]);
        errors[s] = errno;
      } catch (const std::bad_alloc&) {  // nothing leaves a decoding thread
        decoded[s] = BreakOutReason::OutOfMemory;
      } catch (...) {
        decoded[s] = BreakOutReason::FrameUndecodable;
      }
    });
    for (; k < frames; ++k) {
      if (stopRender_ || sys::StopRequested()) break;
      const std::size_t s = ahead.Wait(k);
      switch (decoded[s]) {
        case BreakOutReason::None:
          break;
        case BreakOutReason::OutOfMemory:
          throw std::bad_alloc();
        case BreakOutReason::CannotRead:
          throw Failure({BreakOutReason::CannotRead, browserImages_[k].dataAt, fileLength_,
                         std::int64_t(k) + 1, errors[s] != 0 ? errors[s] : EIO});
        default:
          Fail(BreakOutReason::FrameUndecodable, browserImages_[k].start, std::int64_t(k) + 1);
      }
      sys::Sleep(FrameWait(k));  // --realtime plays the frames as the preview does
      browser::Image image = browserImages_[k];
      const std::uint8_t* table = nullptr;
      int entries = 0;
      if (image.tableAt >= 0) {
        localTable.resize(std::size_t(image.tableEntries) * 3);
        for (std::size_t i = 0; i < localTable.size(); ++i) {
          localTable[i] = At(image.tableAt + std::int64_t(i));
        }
        table = localTable.data();
        entries = image.tableEntries;
      } else if (GlobalTableFlag) {
        table = StoredGlobalTable.data();
        entries = int(gb::TableBytes(GlobalTableSize) / 3);
      }
      canvas.Draw(image, indices[s].data(), table, entries);
      if (Exports(k)) {
        if (alone) {
          *alone = browser::Canvas(browserWidth_, browserHeight_);
          browser::Image own = image;
          own.disposal = 0;
          alone->Draw(own, indices[s].data(), table, entries);
        }
        BrowserExport(k, alone ? *alone : canvas, writer);
        handed = k + 1;
      }
      ahead.Release(k);
      writer.Report(report);
    }
  } catch (const std::bad_alloc&) {
    undecodable = sys::ErrorText(ENOMEM);
  } catch (const Failure& failure) {
    undecodable = DescribeFailure(failure.what_);
    result.playFailure = failure.what_;
  } catch (const FileWindow::ReadFailure& failure) {
    undecodable = sys::ErrorText(failure.error != 0 ? failure.error : EIO);
  }
  if (!undecodable.empty()) {
    // Frame k could not be drawn: it and every later one this run would have
    // exported are reported as not written; those handed over are written.
    NotWrittenFrom(std::max(k, handed), writer, undecodable);
  }
  writer.Finish(report);
  file_.reset();
  return result;
}

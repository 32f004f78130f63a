#include "engine/gif24bit.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "encoder/gif_encoder.h"
#include "platform/system/system.h"

namespace {

std::int32_t ColorAtOffset(const std::array<std::uint8_t, 768>& table, std::size_t t) {
  return std::int32_t(table[t]) | (std::int32_t(table[t + 1]) << 8) |
         (std::int32_t(table[t + 2]) << 16);
}

// Offset of the last entry of a table with size field `size`.
std::size_t LastEntry(std::uint8_t size) { return (std::size_t(3) << (size + 1)) - 3; }

// The colour of entry `index`, or -1 when the table has no such entry.
std::int32_t EntryColor(const std::array<std::uint8_t, 768>& table, std::uint8_t size,
                        std::uint8_t index) {
  const std::size_t t = std::size_t(index) * 3;
  return t <= LastEntry(size) ? ColorAtOffset(table, t) : -1;
}

// Removes a temporary file on every way out of the scope.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    if (!path_.empty()) sys::DeleteFile(path_);
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

 private:
  std::string path_;
};

std::string FrameNumber(std::int64_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%03lld", static_cast<long long>(n));
  return buf;
}

// Writes the exported frame files on two threads of their own, so that the
// next frame is composed while files are written. A bitmap job carries the
// export box's image: the writer encodes straight from it into its own buffer
// and lets go of it before writing the file; the frame loop waits for that
// (WaitSourceFree) before it draws into the box again. A GIF job carries an
// encoder that has already captured the box; it is encoded and written without
// yielding. The threads never reach the window system. The frame loop's waits
// that can be long (for a free writer, for the last files) let the window
// system run meanwhile, as the encoder's own yields used to.
class FrameWriter {
 public:
  ~FrameWriter() { Join(); }

  void Write(std::int64_t n, std::string name, platform::Picture source, std::shared_ptr<GIF> gif) {
    std::unique_lock lock(mutex_);
    if (threads_.empty()) {
      for (auto& buffer : buffers_) threads_.emplace_back([this, &buffer] { Run(buffer); });
    }
    WaitPumping(lock, [this] { return !job_; });
    job_ = Job{n, std::move(name), std::move(source), std::move(gif)};
    ready_.notify_one();
  }

  // Returns once the picture last handed over has been read.
  void WaitSourceFree() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !job_ && !reading_; });
  }

  // Waits for the files handed over; the frame numbers and names of those
  // that could not be written, in no particular order.
  std::vector<std::pair<std::int64_t, std::string>> Finish() {
    {
      std::unique_lock lock(mutex_);
      WaitPumping(lock, [this] { return !job_ && active_ == 0; });
    }
    Join();
    return std::move(failed_);
  }

 private:
  struct Job {
    std::int64_t n = 0;
    std::string name;
    platform::Picture source;  // a bitmap frame's picture
    std::shared_ptr<GIF> gif;  // or a GIF frame's captured encoder
  };

  template <typename Pred>
  void WaitPumping(std::unique_lock<std::mutex>& lock, Pred done) {
    while (!changed_.wait_for(lock, std::chrono::milliseconds(20), done)) {
      lock.unlock();
      sys::DoEvents();
      lock.lock();
    }
  }

  void Join() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
      ready_.notify_all();
    }
    for (auto& t : threads_) t.join();
    threads_.clear();
  }

  void Run(std::vector<std::uint8_t>& buffer) {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return done_ || job_; });
        if (!job_) return;
        job = std::move(*job_);
        job_.reset();
        ++active_;
        reading_ = !job.gif;  // a bitmap's picture is being read
        changed_.notify_all();
      }
      bool written = false, reading = !job.gif;
      auto release = [&] {  // lets go of the picture, once
        if (!reading) return;
        reading = false;
        job.source = platform::Picture();
        std::lock_guard lock(mutex_);
        reading_ = false;
        changed_.notify_all();
      };
      try {
        if (job.gif) {
          written = job.gif->WriteCaptured(job.name) != 0;
          job.gif.reset();
        } else {
          const bool encoded = bool(job.source);
          if (encoded) platform::EncodeBmp24(*job.source.Handle(), buffer);
          release();
          written = encoded && sys::WriteBinaryFile(job.name, buffer);
        }
      } catch (...) {  // out of memory: this file is not written
      }
      release();
      std::lock_guard lock(mutex_);
      --active_;
      if (!written) failed_.emplace_back(job.n, std::move(job.name));
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;    // a job or the end, for the writers
  std::condition_variable changed_;  // a job taken, a picture read, a file done
  std::optional<Job> job_;           // handed over and not yet taken
  bool reading_ = false;             // a writer is reading the picture it took
  int active_ = 0;                   // jobs taken and not yet done
  std::vector<std::pair<std::int64_t, std::string>> failed_;
  std::array<std::vector<std::uint8_t>, 2> buffers_;  // one per writer thread
  bool done_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

clsGif24bit::clsGif24bit(platform::PictureBox& master, SharedState& state,
                         platform::PictureBox* display, platform::ListBox* lstFiles)
    : PictureLoader(&clsGif24bit::LoadFramePicture),
      state_(state),
      display_(display),
      lstFiles_(lstFiles),
      imageCtl_(&master) {
  CanvasDC = gdi::CreateCompatibleDC(nullptr);
  TargetDC = &master.hDC();
}

clsGif24bit::~clsGif24bit() {
  if (CanvasDC) gdi::SelectObject(*CanvasDC, canvasPrevious_);
}

void clsGif24bit::UserDelay(const std::int32_t& lngDelay) {
  userDelay_ = std::clamp<std::int32_t>(lngDelay, 1, 1000);
}

void clsGif24bit::StopRender(const std::int16_t& blS) { stopRender_ = blS != 0 ? -1 : 0; }

// ---------------------------------------------------------------- reading

std::uint8_t clsGif24bit::Byte(std::int64_t p) const {
  if (p < 1 || p > std::int64_t(FileBytes.size())) throw Failure{};
  return FileBytes[std::size_t(p - 1)];
}

std::int16_t clsGif24bit::Word(std::int64_t p) const {
  // Both bytes must lie inside the file; the value is the file's unsigned
  // 16 bits in signed storage.
  const std::uint16_t lo = Byte(p), hi = Byte(p + 1);
  return static_cast<std::int16_t>(lo | (hi << 8));
}

std::int64_t clsGif24bit::SkipSubBlocks(std::int64_t s) const {
  while (Byte(s) != 0) s += std::int64_t(Byte(s)) + 1;
  return s;
}

template <typename F>
void clsGif24bit::ForEachRowColumn(F&& f) {
  f(packed_);
  f(FrameLeft);
  f(FrameTop);
  f(FrameWidth);
  f(FrameHeight);
  f(FrameSortFlag);
  f(LocalTableFlag);
  f(InterlaceFlag);
  f(LocalTableSize);
  f(LzwCodeSize);
  f(DelayTime);
  f(TransparentIndex);
  f(DisposalMethod);
  f(UserInputFlag);
  f(TransparentFlag);
}

void clsGif24bit::GrowRows(std::size_t rows) {
  ForEachRowColumn([rows](auto& column) {
    if (column.size() < rows) column.resize(rows);
  });
  if (FrameKeyColor.size() < rows) FrameKeyColor.resize(rows, -1);
}

void clsGif24bit::Walk(std::int64_t& p, std::size_t r) {
  const std::int64_t last = std::int64_t(FileBytes.size());
  while (true) {
    const std::uint8_t b = Byte(p);
    if (b == 0x2C) return;
    if (b == 0x21) {
      const std::uint8_t label = Byte(p + 1);
      if (label == 0xF9) {
        const std::uint8_t packed = Byte(p + 3);
        packed_[r] = packed;
        DelayTime[r] = Word(p + 4);
        TransparentIndex[r] = Byte(p + 6);
        DisposalMethod[r] = std::uint8_t(((packed & 0x10) ? 4 : DisposalMethod[r]) |
                                         ((packed & 0x08) ? 2 : 0) | ((packed & 0x04) ? 1 : 0));
        if (packed & 0x02) UserInputFlag[r] = -1;
        if (packed & 0x01) TransparentFlag[r] = -1;
        p += 8;
      } else if (label == 0xFF) {
        p = SkipSubBlocks(p + 14) + 1;
      } else if (label == 0xFE) {
        p = SkipSubBlocks(p + 2) + 1;
      } else if (label == 0x01) {
        p = SkipSubBlocks(p + 15) + 1;
      } else {
        p += 1;
      }
    } else {
      p += 1;
    }
    if (Byte(p) == 0x3B || p >= last) return;
  }
}

void clsGif24bit::ReadImage(std::int64_t& p, std::size_t r, std::int64_t& tableStart) {
  FrameLeft[r] = Word(p + 1);
  FrameTop[r] = Word(p + 3);
  FrameWidth[r] = Word(p + 5);
  FrameHeight[r] = Word(p + 7);
  const std::uint8_t packed = Byte(p + 9);
  packed_[r] = packed;
  LocalTableFlag[r] = (packed & 0x80) ? -1 : 0;
  InterlaceFlag[r] = (packed & 0x40) ? -1 : 0;
  FrameSortFlag[r] = (packed & 0x20) ? -1 : 0;
  LocalTableSize[r] = packed & 0x07;
  tableStart = 0;
  if (LocalTableFlag[r]) {
    tableStart = p + 10;
    const std::int64_t len = std::int64_t(3) << (LocalTableSize[r] + 1);
    Byte(tableStart + len - 1);  // the whole table lies inside the file
    std::copy_n(FileBytes.begin() + (tableStart - 1), len, LocalColorTable.begin());
    p += len;
  }
  LzwCodeSize[r] = Byte(p + 10);
  p = SkipSubBlocks(p + 11);
}

void clsGif24bit::Repair(std::size_t r, std::int64_t tableStart) {
  const bool local = LocalTableFlag[r] != 0;
  auto& table = local ? LocalColorTable : GlobalColorTable;
  const std::int64_t ts = local ? tableStart : globalStart_;
  // No table at all, or an index beyond it: there is no entry to repair, and
  // nothing outside the table is ever rewritten.
  if (!local && !GlobalTableFlag) return;
  const std::size_t e = LastEntry(local ? LocalTableSize[r] : GlobalTableSize);
  const std::size_t t = std::size_t(TransparentIndex[r]) * 3;
  if (t > e) return;

  const std::int32_t k = ColorAtOffset(table, t);
  bool needed = false;
  for (std::size_t o = 0; o <= e; o += 3) {
    if (o != t && ColorAtOffset(table, o) == k) needed = true;
  }
  if (!needed) return;

  double largest = 0;
  for (std::size_t o = 0; o <= e; o += 3) {
    const double c = ColorAtOffset(table, o);
    if (c > largest) {
      second_ = largest;
      largest = c;
    } else if (c > second_) {
      second_ = c;
    }
  }
  auto v = static_cast<std::int32_t>(std::nearbyint(largest - (largest - second_ / 2)));
  // The new colour must not be another entry's colour, or that entry's pixels
  // would turn transparent as well.
  auto taken = [&](std::int32_t colour) {
    for (std::size_t o = 0; o <= e; o += 3) {
      if (o != t && ColorAtOffset(table, o) == colour) return true;
    }
    return false;
  };
  while (taken(v)) v = v == 0 ? 0xFFFFFF : v - 1;

  const std::uint8_t bytes[3] = {std::uint8_t(v & 0xFF), std::uint8_t((v >> 8) & 0xFF),
                                 std::uint8_t((v >> 16) & 0xFF)};
  for (std::size_t i = 0; i < 3; ++i) {
    table[t + i] = bytes[i];
    if (ts > 0) FileBytes[std::size_t(ts - 1) + t + i] = bytes[i];
  }
}

std::string clsGif24bit::fTempFileName(std::string& folder, const std::string& prefix,
                                       const std::string& extension) {
  if (folder.empty()) folder = "./";
  return sys::CreateTempFile(folder, prefix, extension).value_or(std::string());
}

std::optional<platform::Picture> clsGif24bit::LoadFramePicture(const std::string& path) {
  return platform::LoadPicture(path);
}

bool clsGif24bit::CutFrame(std::size_t k, const std::string& folder, bool fromMemory) {
  std::string dir = folder;
  const std::string name = fTempFileName(dir, " " + std::to_string(k), "GIF");
  if (name.empty()) return false;
  TempFileGuard guard(name);

  const std::size_t headerLen = std::size_t(FrameStart[0] - 1);
  const std::size_t from = std::size_t(FrameStart[k] - 1), to = std::size_t(FrameEnd[k] - 1);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(headerLen + (to - from) + 4);
  bytes.assign(FileBytes.begin(), FileBytes.begin() + std::ptrdiff_t(headerLen));
  bytes.insert(bytes.end(), FileBytes.begin() + std::ptrdiff_t(from),
               FileBytes.begin() + std::ptrdiff_t(to));
  const std::uint8_t tail[4] = {0x00, 0x21, 0xF9, 0x3B};
  bytes.insert(bytes.end(), tail, tail + 4);
  // The file was made empty, private and exclusively for us; open it
  // without following a link put in its place.
  sys::OutputFile out(::open(name.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  if (!out.IsOpen()) return false;
  out.Write(bytes.data(), bytes.size());
  if (!out.Close()) return false;

  auto pic = fromMemory ? platform::LoadPictureFromMemory(bytes.data(), bytes.size())
                        : PictureLoader(name);
  if (!pic) return false;
  FramePicture[k] = std::move(*pic);
  return true;
}

std::optional<platform::Picture> clsGif24bit::WriteFrames() {
  const std::string folder = sys::TempFolder();
  const std::size_t frames = FrameStart.size();
  std::int64_t pixels = 0;
  for (std::size_t k = 0; k < frames; ++k) {
    pixels += std::int64_t(std::uint16_t(FrameWidth[k])) * std::uint16_t(FrameHeight[k]);
    if (pixels > FramePixelBudget) throw Failure{};
  }
  FramePicture.assign(frames, platform::Picture());

  // The frames are independent single-frame files: cut and decode them on
  // several threads. A replaced loader (a test watching the files) gets them
  // one at a time, in order.
  using Fn = std::optional<platform::Picture> (*)(const std::string&);
  const Fn* fn = PictureLoader.target<Fn>();
  const bool ownLoader = fn != nullptr && *fn == &clsGif24bit::LoadFramePicture;
  unsigned threads = DecodeThreads != 0 ? DecodeThreads : std::thread::hardware_concurrency();
  if (!ownLoader || threads == 0) threads = 1;
  threads = unsigned(std::min<std::size_t>(threads, frames + 1));

  // With the program's own loader, the file's first image (which the canvas
  // step shows) is loaded alongside, as the first job: last, it would keep
  // one thread busy while the others wait.
  std::optional<platform::Picture> whole;
  const std::size_t extra = ownLoader ? 1 : 0;
  const std::size_t jobs = frames + extra;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    try {
      while (!failed.load(std::memory_order_relaxed)) {
        const std::size_t job = next.fetch_add(1);
        if (job >= jobs) break;
        if (job < extra) {
          whole = LoadFramePicture(state_.DecoderPath);
        } else if (!CutFrame(job - extra, folder, ownLoader)) {
          failed = true;
        }
      }
    } catch (...) {  // out of memory on this thread: the file is refused
      failed = true;
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  // Every frame has been cut out of the file: its bytes are not needed to
  // play, and they can weigh as much as the frames themselves.
  std::vector<std::uint8_t>().swap(FileBytes);
  if (failed) throw Failure{};
  return whole;
}

void clsGif24bit::Finish(std::optional<platform::Picture> whole) {
  if (!whole) whole = PictureLoader(state_.DecoderPath);
  if (!whole) throw Failure{};
  imageCtl_->Picture(*whole);
  fCreateBitMap();
}

std::int16_t clsGif24bit::fGifBreakOutFrames() {
  CleanUp();
  if (state_.DecoderPath.empty()) return 0;
  try {
    auto data = sys::ReadWholeFile(state_.DecoderPath);
    if (!data || data->empty()) throw Failure{};
    FileBytes = std::move(*data);
    const std::int64_t last = std::int64_t(FileBytes.size());

    // Header.
    const std::uint32_t sig = std::uint32_t(Byte(1)) | (std::uint32_t(Byte(2)) << 8) |
                              (std::uint32_t(Byte(3)) << 16) | (std::uint32_t(Byte(4)) << 24);
    if (sig != 0x38464947u) {
      state_.NotAnimatedFlag = -1;
      return 0;
    }
    ScreenWidth = Word(7);
    ScreenHeight = Word(9);
    const std::uint8_t packed = Byte(11);
    BackgroundIndex = Byte(12);
    PixelAspect = Byte(13);
    GlobalTableFlag = (packed & 0x80) ? -1 : 0;
    ColorResolution = (packed >> 4) & 0x07;
    GlobalSortFlag = (packed & 0x08) ? -1 : 0;
    GlobalTableSize = packed & 0x07;
    std::int64_t p = 13;
    globalStart_ = 0;
    if (GlobalTableFlag) {
      const std::int64_t len = std::int64_t(3) << (GlobalTableSize + 1);
      Byte(p + len);  // the whole table lies inside the file
      std::copy_n(FileBytes.begin() + p, len, GlobalColorTable.begin());
      globalStart_ = p + 1;
      p += len;
    }
    p += 1;
    FramePicture.clear();
    second_ = 0;

    // Frame loop.
    std::size_t r = 0;
    std::int64_t start = p;
    bool first = true;
    while (p <= last) {
      GrowRows(r + 1);
      Walk(p, r);
      if (Byte(p) == 0x3B || p >= last) break;
      std::int64_t tableStart = 0;
      ReadImage(p, r, tableStart);
      if (TransparentFlag[r]) {
        Repair(r, tableStart);
        if (LocalTableFlag[r]) {
          FrameKeyColor[r] = EntryColor(LocalColorTable, LocalTableSize[r], TransparentIndex[r]);
        }
      }
      if (first) {
        FrameStart.clear();
        FrameEnd.clear();
        first = false;
      }
      if (start > INT32_MAX || p > INT32_MAX) throw Failure{};
      FrameStart.push_back(std::int32_t(start));
      FrameEnd.push_back(std::int32_t(p));
      p += 1;
      start = p;
      if (Byte(p) == 0x3B) break;
      ++r;
    }
    if (first) throw Failure{};  // no image at all

    // Frames keyed on the global table see every repair made to it.
    for (std::size_t k = 0; k < FrameStart.size(); ++k) {
      if (TransparentFlag[k] && !LocalTableFlag[k]) {
        FrameKeyColor[k] = GlobalTableFlag
                               ? EntryColor(GlobalColorTable, GlobalTableSize, TransparentIndex[k])
                               : -1;
      }
    }

    Finish(WriteFrames());
  } catch (const Failure&) {
    state_.NotAnimatedFlag = -1;
  }
  return 0;
}

// ---------------------------------------------------------------- drawing

void clsGif24bit::NearestSolidColor(gdi::COLORREF& color, gdi::COLORREF& result) {
  if (color & 0x80000000u) color = gdi::GetSysColor(int(color & 0xFFFFFF));
  auto screen = gdi::GetDC();
  result = gdi::GetNearestColor(*screen, color);
}

std::int16_t clsGif24bit::fCreateBitMap() {
  // Signed 16-bit arithmetic: a screen wider than 32736 overflows. A negative
  // size (a 16-bit field of 32768 or more) is refused like any size the
  // drawing layer cannot make.
  const std::int32_t sum = std::int32_t(ScreenWidth) + 31;
  if (sum > 32767 || ScreenWidth < 0 || ScreenHeight < 0) throw Failure{};
  CanvasWidth = sum & 0x0FFFFFE0;
  CanvasHeight = ScreenHeight;
  CanvasDescription = gdi::BITMAPINFOHEADER{};
  CanvasDescription.biSize = 0;
  CanvasDescription.biWidth = CanvasWidth;
  CanvasDescription.biHeight = CanvasHeight;
  CanvasDescription.biSizeImage = std::uint32_t(3 * CanvasWidth);  // bytes per row
  CanvasDescription.biPlanes = 1;
  CanvasDescription.biBitCount = 24;

  auto bmp = gdi::CreateCompatibleBitmap(*TargetDC, CanvasWidth, CanvasHeight);
  if (!bmp) throw Failure{};
  auto canvas = std::make_unique<gdi::Bitmap>(std::move(*bmp));
  gdi::Bitmap* previous = gdi::SelectObject(*CanvasDC, canvas.get());
  if (!canvas_) canvasPrevious_ = previous;
  canvas_ = std::move(canvas);
  CanvasBitmap = canvas_.get();

  FrameRect = {0, 0, CanvasWidth, CanvasHeight};
  gdi::COLORREF back = imageCtl_->BackColor();
  NearestSolidColor(back, CanvasBackColor);
  gdi::FillRect(*CanvasDC, FrameRect, gdi::CreateSolidBrush(CanvasBackColor));
  return 0;
}

void clsGif24bit::MaskedBlit(gdi::DC& dst, gdi::DC& ref, gdi::DC& frameDC, const gdi::RECT& rect,
                             std::int16_t x, std::int16_t y, gdi::COLORREF& key) {
  const auto w = static_cast<std::int16_t>(rect.right), h = static_cast<std::int16_t>(rect.bottom);
  auto maskDC = gdi::CreateCompatibleDC(&ref), invDC = gdi::CreateCompatibleDC(&ref);
  auto backDC = gdi::CreateCompatibleDC(&ref), foreDC = gdi::CreateCompatibleDC(&ref);
  auto mask = gdi::CreateMonoBitmap(w, h), inv = gdi::CreateMonoBitmap(w, h);
  auto back = gdi::CreateCompatibleBitmap(ref, w, h), fore = gdi::CreateCompatibleBitmap(ref, w, h);
  if (!mask || !inv || !back || !fore) return;
  gdi::SelectionGuard s1(*maskDC, &*mask), s2(*invDC, &*inv), s3(*backDC, &*back),
      s4(*foreDC, &*fore);

  const gdi::COLORREF previous = gdi::SetBkColor(frameDC, key);
  gdi::BitBlt(*maskDC, 0, 0, w, h, frameDC, 0, 0, gdi::SRCCOPY);
  key = gdi::SetBkColor(frameDC, previous);
  gdi::BitBlt(*invDC, 0, 0, w, h, *maskDC, 0, 0, gdi::NOTSRCCOPY);
  gdi::BitBlt(*backDC, 0, 0, w, h, *CanvasDC, x, y, gdi::SRCCOPY);
  gdi::BitBlt(*backDC, 0, 0, w, h, *maskDC, 0, 0, gdi::SRCAND);
  gdi::BitBlt(*foreDC, 0, 0, w, h, frameDC, 0, 0, gdi::SRCCOPY);
  gdi::BitBlt(*foreDC, 0, 0, w, h, *invDC, 0, 0, gdi::SRCAND);
  gdi::BitBlt(*backDC, 0, 0, w, h, *foreDC, 0, 0, gdi::SRCINVERT);
  gdi::BitBlt(dst, x, y, w, h, *backDC, 0, 0, gdi::SRCCOPY);
  gdi::BitBlt(*TargetDC, 0, 0, CanvasWidth, CanvasHeight, *CanvasDC, 0, 0, gdi::SRCCOPY);
}

void clsGif24bit::CleanUp() {
  if (!FramePicture.empty() && FramePicture[0]) {
    for (auto& pic : FramePicture) pic = platform::Picture();
  }
  ForEachRowColumn([](auto& column) { column.clear(); });
  FrameKeyColor.clear();
}

// ---------------------------------------------------------------- frame loop

void clsGif24bit::RenderGif() {
  std::int64_t n = 0;  // goes past 32767: no file of a run overwrites another
  FailedFiles.clear();
  std::vector<std::pair<std::int64_t, std::string>> failed;
  FrameWriter writer;
  if (FramePicture.empty() || !FramePicture[0] || !CanvasBitmap) return;
  gdi::DC& masterDC = imageCtl_->hDC();
  auto frameDC = gdi::CreateCompatibleDC(&masterDC);
  const std::size_t frames = std::min(FrameStart.size(), FramePicture.size());

  for (std::size_t k = 0; k < frames; ++k) {
    const bool split = state_.RunMode == 1;
    const bool gifOutput = state_.OutputFileType == 1;
    if (split && gifOutput) state_.GifEncoder = std::make_shared<GIF>();
    if (stopRender_) break;
    gdi::Bitmap* previous = gdi::SelectObject(*frameDC, FramePicture[k].Handle());

    gdi::COLORREF key = 0;
    if (TransparentFlag[k] && FrameKeyColor[k] >= 0) key = gdi::COLORREF(FrameKeyColor[k]);
    FrameRect = {FrameLeft[k], FrameTop[k], FrameWidth[k], FrameHeight[k]};

    // A delay that reads as negative (32768 hundredths or more) waits like 0.
    const std::int32_t delay = std::max<std::int32_t>(DelayTime[k], 0);
    sys::Sleep(delay < 100 ? delay * 10 + userDelay_ : userDelay_ + 100);

    if (DisposalMethod[k] == 2) {
      gdi::COLORREF back = imageCtl_->BackColor();
      NearestSolidColor(back, CanvasBackColor);
      gdi::FillRect(*CanvasDC, {0, 0, CanvasWidth, CanvasHeight},
                    gdi::CreateSolidBrush(CanvasBackColor));
    }

    if (TransparentFlag[k]) {
      MaskedBlit(*CanvasDC, masterDC, *frameDC, FrameRect, FrameLeft[k], FrameTop[k], key);
    } else {
      gdi::BitBlt(*CanvasDC, FrameLeft[k], FrameTop[k], FrameWidth[k], FrameHeight[k], *frameDC, 0,
                  0, gdi::SRCCOPY);
      gdi::BitBlt(*TargetDC, 0, 0, CanvasWidth, CanvasHeight, *CanvasDC, 0, 0, gdi::SRCCOPY);
      sys::DoEvents();
    }
    gdi::SelectObject(*frameDC, previous);

    // A stop requested meanwhile means the window has gone: nothing more is
    // drawn into or exported from it.
    if (split && !stopRender_ && display_ != nullptr) {
      writer.WaitSourceFree();  // the previous frame has been read from the box
      gdi::BitBlt(display_->hDC(), 0, 0, imageCtl_->ScaleWidth(), imageCtl_->ScaleHeight(),
                  masterDC, 0, 0, gdi::SRCCOPY);
      display_->Refresh();
      ++n;
      const std::string name =
          state_.OutputBaseName + "_" + FrameNumber(n) + (gifOutput ? ".gif" : ".bmp");
      if (lstFiles_ != nullptr) lstFiles_->AddItem(name);
      if (gifOutput) {
        // The box is captured here; the encoding and the file are the
        // writer's, so the box can take the next frame meanwhile.
        auto encoder = state_.GifEncoder;
        const bool captured =
            encoder && encoder->Capture(display_->Image(), &display_->hDC(), state_.TransparentRun,
                                        gdi::COLORREF(display_->Point(0, 0)));
        state_.GifEncoder.reset();
        if (captured) {
          encoder->Yields = false;
          writer.Write(n, name, platform::Picture(), std::move(encoder));
        } else {
          failed.emplace_back(n, name);
        }
      } else {
        writer.Write(n, name, display_->Image(), nullptr);
      }
    }
    sys::DoEvents();
  }
  frameDC.reset();
  for (auto& f : writer.Finish()) failed.push_back(std::move(f));
  std::sort(failed.begin(), failed.end());
  for (auto& f : failed) FailedFiles.push_back(std::move(f.second));
  sys::DoEvents();
}

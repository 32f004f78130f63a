#include "engine/gif24bit.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "encoder/gif_encoder.h"
#include "engine/file_window.h"
#include "engine/frame_threads.h"
#include "platform/picture/gif_blocks.h"
#include "platform/system/system.h"

namespace gb = gifblocks;

namespace {

// What the break-out does beyond the plain GIF format, on purpose: files made
// by the program's first users were split this way, and their frames must
// stay the same. (The block walk's own quirks are listed in gif_blocks.h.)
namespace quirks {

// StickyControlFlags: with several graphic control extensions before one
// image, the user-input and transparency flags are ORed, never cleared.
inline void Sticky(bool& flag, bool set) { flag = flag || set; }

// OredDisposal: disposal bit 4 of a later extension keeps or replaces the
// row's current bit, bits 3 and 2 are taken as they stand; for the first
// extension of a row this is simply bits 4-2.
inline std::uint8_t Disposal(std::uint8_t current, std::uint8_t flags) {
  return std::uint8_t(((flags & 0x10) ? 4 : current) | ((flags & 0x08) ? 2 : 0) |
                      ((flags & 0x04) ? 1 : 0));
}

// HalfSecond: a transparent entry whose colour also stands elsewhere in its
// table is rewritten to Second / 2 (not the midpoint of Largest and Second),
// with Second running on across the whole break-out; rounded half to even.
inline std::int32_t RepairValue(double largest, double second) {
  return static_cast<std::int32_t>(std::nearbyint(largest - (largest - second / 2)));
}

}  // namespace quirks

std::int32_t ColorAtOffset(const std::array<std::uint8_t, 768>& table, std::size_t t) {
  return std::int32_t(table[t]) | (std::int32_t(table[t + 1]) << 8) |
         (std::int32_t(table[t + 2]) << 16);
}

// Offset of the last entry of a table with size field `size`.
std::size_t LastEntry(std::uint8_t size) { return gb::TableBytes(size) - 3; }

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

// Every reason with its stable name and its words.
struct ReasonName {
  BreakOutReason reason;
  const char* id;
  const char* text;
};
constexpr ReasonName kReasons[] = {
    {BreakOutReason::None, "none", "no failure"},
    {BreakOutReason::CannotRead, "cannot-read", "cannot read the file"},
    {BreakOutReason::NotRegularFile, "not-a-regular-file", "not a regular file"},
    {BreakOutReason::Empty, "empty", "the file is empty"},
    {BreakOutReason::BadSignature, "bad-signature", "bad signature (not a GIF file)"},
    {BreakOutReason::TruncatedHeader, "truncated-header", "truncated in the header"},
    {BreakOutReason::TruncatedColorTable, "truncated-colour-table",
     "truncated in the colour table"},
    {BreakOutReason::TruncatedExtension, "truncated-extension", "truncated in an extension block"},
    {BreakOutReason::TruncatedDescriptor, "truncated-image-descriptor",
     "truncated in the image descriptor"},
    {BreakOutReason::TruncatedLocalTable, "truncated-local-colour-table",
     "truncated in the local colour table"},
    {BreakOutReason::TruncatedImageData, "truncated-image-data", "truncated in the image data"},
    {BreakOutReason::NoTrailer, "no-trailer", "ends after an image without the trailer"},
    {BreakOutReason::NoImage, "no-image", "holds no image"},
    {BreakOutReason::TooLong, "too-long", "too long to be split"},
    {BreakOutReason::NoPixels, "frame-without-pixels", "a frame has no pixels"},
    {BreakOutReason::TooManyPixels, "too-many-pixels", "too many pixels"},
    {BreakOutReason::TempFile, "temporary-file", "temporary file cannot be made"},
    {BreakOutReason::FrameUndecodable, "frame-undecodable", "the frame cannot be decoded"},
    {BreakOutReason::FirstImageUndecodable, "first-image-undecodable",
     "the first image cannot be decoded"},
    {BreakOutReason::CanvasRefused, "screen-too-large", "the logical screen is too large"},
    {BreakOutReason::OutOfMemory, "out-of-memory", "out of memory"},
    {BreakOutReason::Interrupted, "interrupted", "interrupted"},
};

const ReasonName& NameOf(BreakOutReason reason) {
  for (const auto& r : kReasons) {
    if (r.reason == reason) return r;
  }
  return kReasons[0];
}

}  // namespace

const char* ReasonId(BreakOutReason reason) { return NameOf(reason).id; }

bool IsSystemFailure(const BreakOutFailure& failure) {
  switch (failure.reason) {
    case BreakOutReason::OutOfMemory:
    case BreakOutReason::TempFile:
    case BreakOutReason::Interrupted:
      return true;
    case BreakOutReason::CannotRead:
      // A missing file, a folder or one not to be read is the input's; a
      // descriptor table full, memory or the disk failing are the system's.
      return failure.error == EMFILE || failure.error == ENFILE || failure.error == ENOMEM ||
             failure.error == EIO || failure.error == EAGAIN || failure.error == EINTR;
    default:
      return false;
  }
}

std::string DescribeFailure(const BreakOutFailure& failure) {
  std::string text = NameOf(failure.reason).text;
  if (failure.reason == BreakOutReason::TempFile && !failure.place.empty()) {
    text += " in " + failure.place;
  }
  if ((failure.reason == BreakOutReason::CannotRead ||
       failure.reason == BreakOutReason::TempFile) &&
      failure.error != 0) {
    text += ": ";
    text += sys::ErrorText(failure.error);
  }
  std::string where;
  if (failure.byte >= 0) {
    where = "byte " + std::to_string(failure.byte) + " of " + std::to_string(failure.length);
  }
  if (failure.frame > 0) {
    where += (where.empty() ? "" : ", ") + std::string("frame ") + std::to_string(failure.frame);
  }
  return where.empty() ? text : text + " (" + where + ")";
}

clsGif24bit::clsGif24bit(platform::PictureBox& master, platform::PictureBox* display)
    : display_(display), imageCtl_(&master) {
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
// Positions P are the file's bytes counted from 1 (At(P - 1)), as the frame
// table keeps them; the block walker counts from 0.

void clsGif24bit::Fail(BreakOutReason reason, std::int64_t byte, std::int64_t frame) const {
  throw Failure({reason, byte, fileLength_, frame, 0});
}

std::uint8_t clsGif24bit::At(std::int64_t offset) const { return (*file_)[std::uint64_t(offset)]; }

std::uint8_t clsGif24bit::Byte(std::int64_t p, BreakOutReason reason, std::int64_t frame) const {
  if (p < 1 || p > fileLength_) Fail(reason, std::max<std::int64_t>(p - 1, 0), frame);
  return At(p - 1);
}

std::int16_t clsGif24bit::Word(std::int64_t p, BreakOutReason reason, std::int64_t frame) const {
  // Both bytes must lie inside the file; the value is the file's unsigned
  // 16 bits in signed storage.
  const std::uint16_t lo = Byte(p, reason, frame), hi = Byte(p + 1, reason, frame);
  return static_cast<std::int16_t>(lo | (hi << 8));
}

void clsGif24bit::ReadHeader(std::int64_t& p) {
  constexpr auto kHeader = BreakOutReason::TruncatedHeader;
  const std::uint32_t sig =
      std::uint32_t(Byte(1, kHeader)) | (std::uint32_t(Byte(2, kHeader)) << 8) |
      (std::uint32_t(Byte(3, kHeader)) << 16) | (std::uint32_t(Byte(4, kHeader)) << 24);
  if (sig != 0x38464947u) Fail(BreakOutReason::BadSignature, 0);  // "GIF8"; the version is not read
  ScreenWidth = Word(gb::kScreenWidthAt + 1, kHeader);
  ScreenHeight = Word(gb::kScreenHeightAt + 1, kHeader);
  const std::uint8_t flags = Byte(gb::kScreenFlagsAt + 1, kHeader);
  BackgroundIndex = Byte(gb::kBackgroundAt + 1, kHeader);
  PixelAspect = Byte(gb::kAspectAt + 1, kHeader);
  GlobalTableFlag = (flags & gb::kTableFlag) != 0;
  GlobalTableSize = flags & gb::kTableSizeMask;
  p = std::int64_t(gb::kHeaderSize);  // the header's last byte
  globalStart_ = 0;
  if (GlobalTableFlag) {
    const std::int64_t len = std::int64_t(gb::TableBytes(GlobalTableSize));
    if (p + len > fileLength_) Fail(BreakOutReason::TruncatedColorTable, p);
    for (std::int64_t i = 0; i < len; ++i) GlobalColorTable[std::size_t(i)] = At(p + i);
    StoredGlobalTable = GlobalColorTable;
    globalStart_ = p + 1;
    p += len;
  }
  header_.resize(std::size_t(p));
  for (std::int64_t i = 0; i < p; ++i) header_[std::size_t(i)] = At(i);
  p += 1;  // the first block, and frame 1's FrameStart
}

void clsGif24bit::ReadControl(std::int64_t p, FrameRecord& row) {
  const std::uint8_t flags = At(p - 1 + std::int64_t(gb::kControlFlagsAt));
  const std::int64_t delay = p - 1 + std::int64_t(gb::kControlDelayAt);
  row.DelayTime = std::int16_t(At(delay) | (At(delay + 1) << 8));
  row.TransparentIndex = At(p - 1 + std::int64_t(gb::kControlTransparentAt));
  row.DisposalMethod = quirks::Disposal(row.DisposalMethod, flags);
  quirks::Sticky(row.UserInputFlag, flags & 0x02);
  quirks::Sticky(row.TransparentFlag, flags & 0x01);
}

void clsGif24bit::ReadExtension(std::size_t at, std::uint8_t label) {
  // Read for the frame table only; what they say changes no frame. The walk
  // has checked that every sub-block lies inside the file.
  auto bytes = [&](std::int64_t from, std::size_t n) {
    std::string text(n, '\0');
    for (std::size_t i = 0; i < n; ++i) text[i] = char(At(from + std::int64_t(i)));
    return text;
  };
  auto data = [&](std::size_t first) {
    std::string text;
    for (auto s = std::int64_t(at + first); At(s) != 0; s += std::int64_t(At(s)) + 1) {
      text += bytes(s + 1, At(s));
    }
    return text;
  };
  if (label == gb::kCommentLabel) {
    Comments.push_back(data(gb::kCommentDataAt));
  } else if (label == gb::kApplicationLabel) {
    // "NETSCAPE2.0" (or "ANIMEXTS1.0") with a first sub-block 1, count.
    const std::string id = bytes(std::int64_t(at) + 3, 11);
    const std::string sub = data(gb::kApplicationDataAt);
    if ((id == "NETSCAPE2.0" || id == "ANIMEXTS1.0") && sub.size() >= 3 && sub[0] == 1 &&
        LoopCount < 0) {
      LoopCount = std::uint8_t(sub[1]) | (std::uint8_t(sub[2]) << 8);
    }
  }
}

void clsGif24bit::ReadImage(std::int64_t& p, FrameRecord& row, std::int64_t frame,
                            std::int64_t& tableStart) {
  if (p - 1 + std::int64_t(gb::kImageDescriptorSize) > fileLength_) {
    Fail(BreakOutReason::TruncatedDescriptor, p - 1, frame);
  }
  constexpr auto kDesc = BreakOutReason::TruncatedDescriptor;
  row.FrameLeft = Word(p + gb::kImageLeftAt, kDesc, frame);
  row.FrameTop = Word(p + gb::kImageTopAt, kDesc, frame);
  row.FrameWidth = Word(p + gb::kImageWidthAt, kDesc, frame);
  row.FrameHeight = Word(p + gb::kImageHeightAt, kDesc, frame);
  const std::uint8_t flags = Byte(p + gb::kImageFlagsAt, kDesc, frame);
  row.LocalTableFlag = (flags & gb::kTableFlag) != 0;
  row.InterlaceFlag = (flags & gb::kInterlaceFlag) != 0;
  row.LocalTableSize = flags & gb::kTableSizeMask;
  tableStart = 0;
  if (row.LocalTableFlag) {
    tableStart = p + std::int64_t(gb::kImageDescriptorSize);
    const std::int64_t len = std::int64_t(gb::LocalTableBytes(flags));
    if (tableStart - 1 + len > fileLength_) {
      Fail(BreakOutReason::TruncatedLocalTable, tableStart - 1, frame);
    }
    for (std::int64_t i = 0; i < len; ++i) LocalColorTable[std::size_t(i)] = At(tableStart - 1 + i);
    p += len;
  }
  const std::int64_t codeSize = p + std::int64_t(gb::kImageDescriptorSize);
  Byte(codeSize, BreakOutReason::TruncatedImageData, frame);  // the LZW code size is there
  const auto end = gb::SkipSubBlocks(*file_, std::size_t(fileLength_), std::size_t(codeSize));
  if (!end) Fail(BreakOutReason::TruncatedImageData, codeSize - 1, frame);
  p = std::int64_t(*end) + 1;  // the image-data terminator
}

void clsGif24bit::Repair(FrameRecord& row, std::int64_t tableStart) {
  const bool local = row.LocalTableFlag;
  auto& table = local ? LocalColorTable : GlobalColorTable;
  const std::int64_t ts = local ? tableStart : globalStart_;
  // No table at all, or an index beyond it: there is no entry to repair, and
  // nothing outside the table is ever rewritten.
  if (!local && !GlobalTableFlag) return;
  const std::size_t e = LastEntry(local ? row.LocalTableSize : GlobalTableSize);
  const std::size_t t = std::size_t(row.TransparentIndex) * 3;
  if (t > e) return;

  const std::int32_t k = ColorAtOffset(table, t);
  auto taken = [&](std::int32_t colour) {  // by an entry other than the transparent one
    for (std::size_t o = 0; o <= e; o += 3) {
      if (o != t && ColorAtOffset(table, o) == colour) return true;
    }
    return false;
  };
  if (!taken(k)) return;

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
  auto v = quirks::RepairValue(largest, second_);
  // The new colour must not be another entry's colour, or that entry's pixels
  // would turn transparent as well.
  while (taken(v)) v = v == 0 ? 0xFFFFFF : v - 1;

  const std::array<std::uint8_t, 3> bytes = {std::uint8_t(v & 0xFF), std::uint8_t((v >> 8) & 0xFF),
                                             std::uint8_t((v >> 16) & 0xFF)};
  std::copy(bytes.begin(), bytes.end(), table.begin() + std::ptrdiff_t(t));
  // The file's own bytes of the table change with it: a global table in the
  // header every frame file starts with, a local one in its frame's bytes.
  if (ts <= 0) return;
  const std::int64_t at = ts - 1 + std::int64_t(t);
  if (local) {
    tablePatches_.push_back({at, bytes});
  } else {
    std::copy(bytes.begin(), bytes.end(), header_.begin() + std::ptrdiff_t(at));
  }
}

void clsGif24bit::ReadFrames(std::int64_t p) {
  const std::int64_t last = fileLength_;
  std::int64_t start = p;
  while (p <= last) {
    // Control extensions before an image describe it; those after the last
    // image describe no frame.
    FrameRecord row;
    const std::int64_t frame = std::int64_t(Frames.size()) + 1;
    const auto end = gb::WalkToImage(*file_, std::size_t(fileLength_), std::size_t(p - 1),
                                     [&](std::size_t at, std::uint8_t label) {
                                       if (label == gb::kGraphicControlLabel) {
                                         ReadControl(std::int64_t(at) + 1, row);
                                       } else {
                                         ReadExtension(at, label);
                                       }
                                     });
    if (end.stop == gb::Stop::Truncated) {
      // Cut short inside an extension, or stepped off the end over bytes
      // that start no block (ByteAtATime): the stream ends without the
      // image or the trailer that should come.
      const bool extension = At(std::int64_t(end.block)) == gb::kExtension;
      Fail(extension ? BreakOutReason::TruncatedExtension
                     : (Frames.empty() ? BreakOutReason::NoImage : BreakOutReason::NoTrailer),
           std::int64_t(end.block), frame);
    }
    p = std::int64_t(end.at) + 1;
    // The walk takes the file's last byte for its end (LastByteEnds). A
    // salvage asks whether anything was lost: a stream that ends there,
    // without its trailer, was cut short after its last whole frame.
    if (Options.Salvage && !Frames.empty() && end.stop == gb::Stop::LastByte) {
      Fail(BreakOutReason::NoTrailer, std::int64_t(end.at), frame);
    }
    if (Options.Salvage && !Frames.empty() && end.stop == gb::Stop::Image && p >= last) {
      Fail(BreakOutReason::TruncatedDescriptor, std::int64_t(end.at), frame);
    }
    if (end.stop != gb::Stop::Image || p >= last) break;  // a trailer or the last byte

    std::int64_t tableStart = 0;
    ReadImage(p, row, frame, tableStart);
    // A frame with no pixels can be neither composed nor written as a file
    // any other program reads.
    if (row.FrameWidth == 0 || row.FrameHeight == 0) {
      Fail(BreakOutReason::NoPixels, start - 1, frame);
    }
    if (row.TransparentFlag) {
      Repair(row, tableStart);
      if (row.LocalTableFlag) {
        row.FrameKeyColor = EntryColor(LocalColorTable, row.LocalTableSize, row.TransparentIndex);
      }
    }
    if (start > INT32_MAX || p > INT32_MAX) Fail(BreakOutReason::TooLong, start - 1, frame);
    row.FrameStart = std::int32_t(start);
    row.FrameEnd = std::int32_t(p);
    Frames.push_back(std::move(row));
    p += 1;
    start = p;
    if (p > last) Fail(BreakOutReason::NoTrailer, last, frame);
    if (At(p - 1) == gb::kTrailer) break;
  }
  if (Frames.empty()) Fail(BreakOutReason::NoImage, std::min(p, last) - 1);
  KeyOnGlobalTable();
}

void clsGif24bit::KeyOnGlobalTable() {
  // Frames keyed on the global table see every repair made to it.
  for (auto& frame : Frames) {
    if (frame.TransparentFlag && !frame.LocalTableFlag) {
      frame.FrameKeyColor =
          GlobalTableFlag ? EntryColor(GlobalColorTable, GlobalTableSize, frame.TransparentIndex)
                          : -1;
    }
  }
}

bool IsDamage(BreakOutReason reason) {
  switch (reason) {
    case BreakOutReason::TruncatedExtension:
    case BreakOutReason::TruncatedDescriptor:
    case BreakOutReason::TruncatedLocalTable:
    case BreakOutReason::TruncatedImageData:
    case BreakOutReason::NoTrailer:
      return true;
    default:
      return false;
  }
}

void clsGif24bit::ReadFramesOrSalvage(std::int64_t p) {
  try {
    ReadFrames(p);
  } catch (const Failure& failure) {
    if (!Options.Salvage || !IsDamage(failure.what_.reason) || Frames.empty()) throw;
    // The frames read whole before the damage, with the repairs of the
    // global table they made; those the lost frames would have made are not
    // known.
    damage_ = failure.what_;
    KeyOnGlobalTable();
  }
}

std::string clsGif24bit::fTempFileName(std::string& folder, const std::string& prefix,
                                       const std::string& extension) {
  if (folder.empty()) folder = "./";
  return sys::CreateTempFile(folder, prefix, extension).value_or(std::string());
}

bool clsGif24bit::CutFrame(std::size_t k, const std::string& folder,
                           std::vector<std::uint8_t>& bytes, BreakOutFailure& failure) {
  const std::int64_t frame = std::int64_t(k) + 1;
  failure = {BreakOutReason::CannotRead, -1, fileLength_, frame, 0};

  // The header with its repaired global table, then the frame's own bytes
  // read again from the file (the walk kept none of them), with the repair
  // of its local table.
  const std::int64_t from = Frames[k].FrameStart - 1, to = Frames[k].FrameEnd - 1;
  const std::size_t headerLen = header_.size(), len = std::size_t(to - from);
  // The image-data terminator, then an extension introducer and a control
  // label with no block after them, then the trailer: the loader reads the
  // one image and accepts what follows it. The buffer is the decoding
  // thread's own, kept from one frame to the next: fresh memory for every
  // frame would cost a page fault per page. It takes the tail before the
  // frame is read into it, so no growing copies the frame's bytes again.
  const std::uint8_t tail[4] = {0x00, gb::kExtension, gb::kGraphicControlLabel, gb::kTrailer};
  bytes.resize(headerLen + len + sizeof tail);
  std::copy(header_.begin(), header_.end(), bytes.begin());
  std::copy(tail, tail + sizeof tail, bytes.end() - sizeof tail);
  const std::int64_t got = file_->File().ReadAt(std::uint64_t(from), &bytes[headerLen], len);
  if (got != std::int64_t(len)) {  // the file changed since it was walked
    failure.byte = got < 0 ? from : from + got;
    failure.error = got < 0 ? errno : 0;
    return false;
  }
  auto patch = std::lower_bound(tablePatches_.begin(), tablePatches_.end(), from,
                                [](const TablePatch& p, std::int64_t at) { return p.at < at; });
  for (; patch != tablePatches_.end() && patch->at < to; ++patch) {
    std::copy(patch->bytes.begin(), patch->bytes.end(),
              bytes.begin() + std::ptrdiff_t(headerLen + std::size_t(patch->at - from)));
  }

  // A temporary file that cannot be made or written is the system's
  // failure (the folder missing or full, no descriptor left): said with the
  // folder and the reason, never blamed on the GIF.
  failure.reason = BreakOutReason::TempFile;
  failure.place = folder.empty() ? "./" : folder;
  std::string dir = folder;
  errno = 0;
  const std::string name = fTempFileName(dir, " " + std::to_string(k), "GIF");
  if (name.empty()) {
    failure.error = errno != 0 ? errno : EIO;
    return false;
  }
  TempFileGuard guard(name);
  if (!sys::WriteTempFile(name, bytes.data(), bytes.size(), &failure.error)) return false;
  if (ObserveFrameFile) {
    static std::mutex observing;
    std::lock_guard lock(observing);
    ObserveFrameFile(k, name, bytes);
  }

  // The bytes just written are decoded as they are, instead of being read
  // back from the file.
  platform::LoadFailure why;
  auto pic = platform::LoadPictureFromMemory(bytes.data(), bytes.size(), &why);
  if (!pic && why.kind == platform::LoadFailure::Kind::OutOfMemory) throw std::bad_alloc();
  if (!pic) {
    failure.reason = BreakOutReason::FrameUndecodable;
    failure.byte = Frames[k].FrameStart - 1;
    failure.place.clear();
    return false;
  }
  Frames[k].FramePicture = std::move(*pic);
  return true;
}

platform::Picture clsGif24bit::WriteFrames() {
  const std::string folder = sys::TempFolder();
  const std::size_t frames = Frames.size();
  std::int64_t pixels = 0;
  for (std::size_t k = 0; k < frames; ++k) {
    pixels +=
        std::int64_t(std::uint16_t(Frames[k].FrameWidth)) * std::uint16_t(Frames[k].FrameHeight);
    if (pixels > FramePixelBudget)
      Fail(BreakOutReason::TooManyPixels, Frames[k].FrameStart - 1, std::int64_t(k) + 1);
  }
  if (Options.PixelGate) pixelHold_ = Options.PixelGate(HeldBytes(pixels));

  // The file's first image (which the canvas step shows) is the first job:
  // last, it would keep one thread busy while the others wait. Then every
  // frame, each an independent single-frame file.
  platform::Picture whole;
  std::vector<BreakOutFailure> failures(frames + 1);
  const unsigned threads = !Options.OwnThreads ? 1u
                           : Options.DecodeThreads != 0
                               ? Options.DecodeThreads
                               : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::vector<std::uint8_t>> cutBytes(threads);
  const std::size_t failed = DecodeFrames(frames + 1, threads, [&](std::size_t job, unsigned w) {
    // A stop request ends the decoding at the next frame; the frames
    // being cut out finish, and their temporary files go with them.
    if (sys::StopRequested()) {
      failures[job] = {BreakOutReason::Interrupted, -1, 0, std::int64_t(job), 0};
      return false;
    }
    try {
      if (job == 0) {
        platform::LoadFailure why;
        auto pic = platform::LoadPicture(Options.DecoderPath, &why);
        if (pic) {
          whole = std::move(*pic);
          return true;
        }
        // Memory or descriptors running out, or a read failing, are the
        // system's, not the file's.
        if (why.kind == platform::LoadFailure::Kind::OutOfMemory) throw std::bad_alloc();
        failures[0] = {why.kind == platform::LoadFailure::Kind::CannotRead
                           ? BreakOutReason::CannotRead
                           : BreakOutReason::FirstImageUndecodable,
                       -1, 0, 0, why.error};
        return false;
      }
      return CutFrame(job - 1, folder, cutBytes[w], failures[job]);
    } catch (const std::bad_alloc&) {
      failures[job] = {BreakOutReason::OutOfMemory, -1, 0, job == 0 ? 0 : std::int64_t(job), 0};
      return false;
    } catch (...) {  // nothing leaves a decoding thread
      failures[job] = {
          job == 0 ? BreakOutReason::FirstImageUndecodable : BreakOutReason::FrameUndecodable,
          job == 0 ? -1 : Frames[job - 1].FrameStart - 1, 0, std::int64_t(job), 0};
      return false;
    }
  });
  // Every frame has been cut out of the file: its bytes are not needed to
  // play, and they can weigh as much as the frames themselves.
  file_.reset();
  if (failed <= frames) {
    failures[failed].length = fileLength_;
    // Image data that cannot be decoded is damage like a file cut short:
    // the frames before it were decoded whole, and a salvage keeps them.
    if (!Options.Salvage || failed < 2 ||
        failures[failed].reason != BreakOutReason::FrameUndecodable) {
      throw Failure(failures[failed]);
    }
    damage_ = failures[failed];
    Frames.resize(failed - 1);
  }
  return whole;
}

std::int64_t clsGif24bit::HeldBytes(std::int64_t framePixels) const {
  // Besides the 8-bit frame pictures: the 32-bit canvas of the logical
  // screen, the two boxes' 32-bit pictures of the first image, and for PNG
  // frames the canvas's coverage bits and an alpha byte a shown pixel.
  const std::int64_t canvas =
      ((std::int64_t(std::uint16_t(ScreenWidth)) + 31) & ~std::int64_t(31)) *
      std::uint16_t(ScreenHeight);
  const std::int64_t first = Frames.empty() ? 0
                                            : std::int64_t(std::uint16_t(Frames[0].FrameWidth)) *
                                                  std::uint16_t(Frames[0].FrameHeight);
  const std::int64_t png = Options.ExportAs == FrameFiles::ByOutputType ? 0 : canvas / 8 + first;
  return framePixels + 4 * canvas + 2 * 4 * first + png;
}

void clsGif24bit::Finish(platform::Picture whole) {
  imageCtl_->Picture(whole);
  fCreateBitMap();
}

std::int16_t clsGif24bit::fGifBreakOutFrames() {
  CleanUp();
  lastFailure_ = {};
  damage_.reset();
  LoopCount = -1;
  Comments.clear();
  if (Options.DecoderPath.empty()) {
    // No file is a file that is not there (a script's unset variable).
    lastFailure_ = {BreakOutReason::CannotRead, -1, 0, 0, ENOENT};
    return 0;
  }
  try {
    try {
      int error = 0;
      fileLength_ = 0;
      auto file = sys::InputFile::Open(Options.DecoderPath, &error);
      if (!file && error == sys::kNotRegularFile) {
        throw Failure({BreakOutReason::NotRegularFile, -1, 0, 0, 0});
      }
      if (!file) throw Failure({BreakOutReason::CannotRead, -1, 0, 0, error});
      fileLength_ = std::int64_t(file->Size());
      if (fileLength_ == 0) throw Failure(BreakOutFailure(BreakOutReason::Empty));
      file_ = std::make_unique<FileWindow>(std::move(*file), ReadPieceBytes);
      tablePatches_.clear();
      std::int64_t p = 0;
      ReadHeader(p);
      second_ = 0;
      if (Options.Compose == Composition::Browser) {
        BrowserBreakOut(p);  // the file stays open: each frame is decoded as it is played
        return 0;
      }
      ReadFramesOrSalvage(p);
      Finish(WriteFrames());
    } catch (const std::bad_alloc&) {
      throw Failure({BreakOutReason::OutOfMemory, -1, fileLength_, 0, 0});
    } catch (const FileWindow::ReadFailure& cut) {
      // The file became shorter while it was walked, or a read failed.
      throw Failure(
          {BreakOutReason::CannotRead, std::int64_t(cut.offset), fileLength_, 0, cut.error});
    }
  } catch (const Failure& failure) {
    lastFailure_ = failure.what_;
    damage_.reset();  // a refused file keeps no frames, damaged or not
  }
  file_.reset();
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
  if (sum > 32767 || ScreenWidth < 0 || ScreenHeight < 0) Fail(BreakOutReason::CanvasRefused);
  CanvasWidth = sum & 0x0FFFFFE0;
  CanvasHeight = ScreenHeight;

  auto bmp = gdi::CreateCompatibleBitmap(*TargetDC, CanvasWidth, CanvasHeight);
  // A size the drawing layer allows that still gets no bitmap found no
  // memory: that is the system's failure, not a screen too large.
  if (!bmp && gdi::SizeAllowed(CanvasWidth, CanvasHeight)) throw std::bad_alloc();
  if (!bmp) Fail(BreakOutReason::CanvasRefused);
  auto canvas = std::make_unique<gdi::Bitmap>(std::move(*bmp));
  gdi::Bitmap* previous = gdi::SelectObject(*CanvasDC, canvas.get());
  if (!canvas_) canvasPrevious_ = previous;
  canvas_ = std::move(canvas);
  CanvasBitmap = canvas_.get();

  FrameRect = {0, 0, CanvasWidth, CanvasHeight};
  gdi::COLORREF back = imageCtl_->BackColor();
  NearestSolidColor(back, CanvasBackColor);
  gdi::FillRect(*CanvasDC, {0, 0, CanvasWidth, CanvasHeight},
                gdi::CreateSolidBrush(CanvasBackColor));
  return 0;
}

void clsGif24bit::MaskedBlit(gdi::DC& dst, gdi::DC& ref, gdi::DC& frameDC, const Area& rect,
                             std::int16_t x, std::int16_t y, gdi::COLORREF& key) {
  const auto w = static_cast<std::int16_t>(rect.width), h = static_cast<std::int16_t>(rect.height);
  auto maskDC = gdi::CreateCompatibleDC(&ref), invDC = gdi::CreateCompatibleDC(&ref);
  auto backDC = gdi::CreateCompatibleDC(&ref), foreDC = gdi::CreateCompatibleDC(&ref);
  auto mask = gdi::CreateMonoBitmap(w, h), inv = gdi::CreateMonoBitmap(w, h);
  auto back = gdi::CreateCompatibleBitmap(ref, w, h), fore = gdi::CreateCompatibleBitmap(ref, w, h);
  if (!mask || !inv || !back || !fore) {
    // Without memory for the masks the frame cannot be drawn: the run says
    // so instead of exporting a frame it skipped.
    if (gdi::SizeAllowed(w, h)) throw std::bad_alloc();
    return;
  }
  gdi::SelectionGuard s1(*maskDC, &*mask), s2(*invDC, &*inv), s3(*backDC, &*back),
      s4(*foreDC, &*fore);

  const gdi::COLORREF previous = gdi::SetBkColor(frameDC, key);
  gdi::BitBlt(*maskDC, 0, 0, w, h, frameDC, 0, 0, gdi::SRCCOPY);
  key = gdi::SetBkColor(frameDC, previous);
  if (coverageDC_ && !coverageFull_) CoverFrame(0, maskDC.get(), x, y, w, h);
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
  Frames.clear();
  browserImages_.clear();
  browserWidth_ = browserHeight_ = 0;
  file_.reset();
  pixelHold_.reset();
}

// ---------------------------------------------------------------- frame loop

std::string clsGif24bit::FrameFileName(std::int64_t n) const {
  const char* extension = Options.ExportAs != FrameFiles::ByOutputType ? ".png"
                          : Options.GifFiles                           ? ".gif"
                                                                       : ".bmp";
  if (Options.FramePath) return Options.FramePath(n, std::int64_t(Frames.size())) + extension;
  return Options.OutputBaseName + "_" + FrameNumber(n) + extension;
}

bool clsGif24bit::NameRefused(std::int64_t n, const std::string& name, FrameWriter& writer) const {
  if (!Options.ProtectedFile.empty() && sys::SameFile(name, Options.ProtectedFile)) {
    writer.Failed(n, name, "it would replace the file being split");
    return true;
  }
  if (Options.KeepExisting && sys::NameTaken(name)) {
    writer.Failed(n, name, "exists", true);
    return true;
  }
  return false;
}

void clsGif24bit::TakeExported(std::int64_t n, const std::string& name,
                               const platform::Picture& picture,
                               const std::vector<std::uint8_t>& alpha, FrameWriter& writer) const {
  ReportTaken(
      n, name,
      [&] {
        return Options.TakeFrame(n, *picture.Handle(), alpha.empty() ? nullptr : alpha.data());
      },
      writer);
}

void clsGif24bit::ReportTaken(std::int64_t n, const std::string& name,
                              const std::function<std::string()>& take, FrameWriter& writer) const {
  std::string reason;
  try {
    reason = take();
  } catch (const std::bad_alloc&) {
    reason = sys::ErrorText(ENOMEM);
  }
  if (reason.empty()) {
    writer.Taken(n, name);
  } else {
    writer.Failed(n, name, std::move(reason));
  }
}

bool clsGif24bit::Exports(std::size_t k) const {
  return Options.Split && display_ != nullptr &&
         (!Options.ExportSelected || Options.ExportSelected(std::int64_t(k) + 1));
}

RunResult clsGif24bit::RenderGif(ExportSink* sink) {
  if (Options.Compose == Composition::Browser) return BrowserRender(sink);
  RunResult result;
  result.breakOut = lastFailure_;
  if (Frames.empty() || !Frames[0].FramePicture || !CanvasBitmap) return result;
  const FrameWriter::Reporter report = Reporting(result, sink);
  // The writers are joined before this returns, on every way out.
  FrameWriter writer(Options.OwnThreads);
  const std::size_t frames = Frames.size();
  std::size_t k = 0;
  std::size_t handed = 0;  // frames before this one were handed to the writer
  try {
    auto frameDC = gdi::CreateCompatibleDC(&imageCtl_->hDC());
    StartCoverage();
    for (; k < frames; ++k) {
      // A stop request from outside (a signal) ends the play as the
      // window's stop does: the frames handed over are still written.
      if (stopRender_ || sys::StopRequested()) break;
      DrawFrame(k, *frameDC);
      // A stop requested meanwhile means the window has gone: nothing more is
      // drawn into or exported from it. Frames are numbered from 1, and the
      // numbers go past 32767: no file of a run overwrites another.
      if (Exports(k) && !stopRender_ && !sys::StopRequested()) {
        ExportFrame(k, writer);
        handed = k + 1;  // written or reported as not, whatever happens next
      }
      writer.Report(report);
      sys::DoEvents();
    }
  } catch (const std::bad_alloc&) {
    // Memory ran out while frame k was drawn or handed over: the frames
    // handed over so far are still written, and every later one this run
    // would have exported is reported as not written.
    NotWrittenFrom(std::max(k, handed), writer, sys::ErrorText(ENOMEM));
  }
  writer.Finish(report);
  coverageDC_.reset();
  coverage_.reset();
  sys::DoEvents();
  return result;
}

std::function<void(const ExportedFrame&)> clsGif24bit::Reporting(RunResult& result,
                                                                 ExportSink* sink) {
  return [&result, sink](const ExportedFrame& frame) {
    if (frame.written) {
      ++result.framesWritten;
    } else if (frame.kept) {
      ++result.framesKept;
    } else {
      result.failed.push_back(frame);
    }
    if (sink != nullptr) sink->FrameExported(frame);
  };
}

void clsGif24bit::NotWrittenFrom(std::size_t k, FrameWriter& writer,
                                 const std::string& reason) const {
  for (; k < Frames.size(); ++k) {
    if (Exports(k)) writer.Failed(std::int64_t(k) + 1, FrameFileName(std::int64_t(k) + 1), reason);
  }
}

void clsGif24bit::StartCoverage() {
  coverage_.reset();
  coverageDC_.reset();
  if (Options.ExportAs != FrameFiles::Png || !Options.Split) return;
  coverage_ = gdi::Bitmap::Create(CanvasWidth, CanvasHeight, gdi::Format::Mono1);
  if (!coverage_) throw std::bad_alloc();
  coverageDC_ = gdi::CreateCompatibleDC(nullptr);
  gdi::SelectObject(*coverageDC_, &*coverage_);
  coverageFull_ = false;
}

std::int32_t clsGif24bit::FrameWait(std::size_t k) const {
  // A delay that reads as negative (32768 hundredths or more) waits like 0.
  const std::int32_t delay = std::max<std::int32_t>(Frames[k].DelayTime, 0);
  return delay < 100 ? delay * 10 + userDelay_ : userDelay_ + 100;
}

void clsGif24bit::DrawFrame(std::size_t k, gdi::DC& frameDC) {
  gdi::SelectionGuard selected(frameDC, Frames[k].FramePicture.Handle());
  gdi::COLORREF key = 0;
  if (Frames[k].TransparentFlag && Frames[k].FrameKeyColor >= 0)
    key = gdi::COLORREF(Frames[k].FrameKeyColor);
  FrameRect = {Frames[k].FrameLeft, Frames[k].FrameTop, Frames[k].FrameWidth,
               Frames[k].FrameHeight};

  sys::Sleep(FrameWait(k));

  if (Frames[k].DisposalMethod == 2) {
    gdi::COLORREF back = imageCtl_->BackColor();
    NearestSolidColor(back, CanvasBackColor);
    gdi::FillRect(*CanvasDC, {0, 0, CanvasWidth, CanvasHeight},
                  gdi::CreateSolidBrush(CanvasBackColor));
    if (coverageDC_) {
      gdi::FillRect(*coverageDC_, {0, 0, CanvasWidth, CanvasHeight}, gdi::CreateSolidBrush(0));
      coverageFull_ = false;
    }
  }

  if (Frames[k].TransparentFlag) {
    MaskedBlit(*CanvasDC, imageCtl_->hDC(), frameDC, FrameRect, Frames[k].FrameLeft,
               Frames[k].FrameTop, key);
  } else {
    gdi::BitBlt(*CanvasDC, Frames[k].FrameLeft, Frames[k].FrameTop, Frames[k].FrameWidth,
                Frames[k].FrameHeight, frameDC, 0, 0, gdi::SRCCOPY);
    if (coverageDC_ && !coverageFull_) {
      // A whole frame over all that is shown covers it: no blit needed.
      const int right =
          Frames[k].FrameLeft + std::min(int(Frames[k].FrameWidth), Frames[k].FramePicture.Width());
      const int bottom = Frames[k].FrameTop +
                         std::min(int(Frames[k].FrameHeight), Frames[k].FramePicture.Height());
      if (Frames[k].FrameLeft <= 0 && Frames[k].FrameTop <= 0 && right >= ShownWidth() &&
          bottom >= ShownHeight()) {
        coverageFull_ = true;
      } else {
        CoverFrame(k, nullptr, Frames[k].FrameLeft, Frames[k].FrameTop, Frames[k].FrameWidth,
                   Frames[k].FrameHeight);
      }
    }
    gdi::BitBlt(*TargetDC, 0, 0, CanvasWidth, CanvasHeight, *CanvasDC, 0, 0, gdi::SRCCOPY);
    sys::DoEvents();
  }
}

void clsGif24bit::ExportFrame(std::size_t k, FrameWriter& writer) {
  const std::int64_t n = std::int64_t(k) + 1;
  gdi::DC& masterDC = imageCtl_->hDC();
  writer.WaitSourceFree();  // the previous frame has been read from the box
  gdi::BitBlt(display_->hDC(), 0, 0, imageCtl_->ScaleWidth(), imageCtl_->ScaleHeight(), masterDC, 0,
              0, gdi::SRCCOPY);
  display_->Refresh();
  const std::string name = FrameFileName(n);
  if (Options.TakeFrame) {
    TakeExported(n, name, display_->Image(), CompositionAlpha(), writer);
    return;
  }
  if (NameRefused(n, name, writer)) return;
  if (Options.ExportAs == FrameFiles::Png) {
    writer.WritePng(n, name, display_->Image(), CompositionAlpha());
    return;
  }
  if (Options.ExportAs == FrameFiles::StoredPng) {
    std::vector<std::uint8_t> alpha;
    platform::Picture stored = StoredPixels(k, alpha);
    writer.WritePng(n, name, std::move(stored), std::move(alpha));
    return;
  }
  if (!Options.GifFiles) {
    writer.WriteBitmap(n, name, display_->Image());
    return;
  }
  // The box is captured here; the encoding and the file are the writer's, so
  // the box can take the next frame meanwhile.
  bool captured = false;
  try {
    GifEncoder = std::make_shared<GIF>();
    const std::int16_t transparent = Options.Transparent ? -1 : 0;
    captured = GifEncoder->Capture(display_->Image(), &display_->hDC(), transparent,
                                   gdi::COLORREF(display_->Point(0, 0)));
  } catch (const std::bad_alloc&) {  // no memory to capture this frame: it is not written
    writer.Failed(n, name, sys::ErrorText(ENOMEM));
    GifEncoder.reset();
    return;
  }
  auto encoder = std::move(GifEncoder);
  if (!captured) {
    writer.Failed(n, name, "the frame cannot be captured");
    return;
  }
  encoder->Yields = false;  // the writer threads never yield (see frame_threads.h)
  writer.WriteGif(n, name, std::move(encoder));
}

void clsGif24bit::CoverFrame(std::size_t k, gdi::DC* mask, std::int16_t x, std::int16_t y,
                             std::int32_t w, std::int32_t h) {
  // The frame's own blits again, onto one bit per canvas pixel, so that the
  // same pixels are clipped: an opaque frame covers its whole picture; a
  // transparent one where its mask is 0, as cover = ~(~cover & mask).
  auto dc = gdi::CreateCompatibleDC(nullptr);
  if (mask == nullptr) {
    auto ones = gdi::Bitmap::Create(Frames[k].FramePicture.Width(), Frames[k].FramePicture.Height(),
                                    gdi::Format::Mono1);
    if (!ones) throw std::bad_alloc();
    gdi::SelectionGuard selected(*dc, &*ones);
    gdi::FillRect(*dc, {0, 0, ones->Width(), ones->Height()},
                  gdi::CreateSolidBrush(gdi::RGB(255, 255, 255)));
    gdi::BitBlt(*coverageDC_, x, y, w, h, *dc, 0, 0, gdi::SRCCOPY);
    return;
  }
  auto scratch = gdi::CreateMonoBitmap(w, h);
  if (!scratch) throw std::bad_alloc();
  gdi::SelectionGuard selected(*dc, &*scratch);
  gdi::BitBlt(*dc, 0, 0, w, h, *coverageDC_, x, y, gdi::NOTSRCCOPY);
  gdi::BitBlt(*dc, 0, 0, w, h, *mask, 0, 0, gdi::SRCAND);
  gdi::BitBlt(*coverageDC_, x, y, w, h, *dc, 0, 0, gdi::NOTSRCCOPY);
}

int clsGif24bit::ShownWidth() const { return std::min(display_->Image().Width(), CanvasWidth); }
int clsGif24bit::ShownHeight() const { return std::min(display_->Image().Height(), CanvasHeight); }

std::vector<std::uint8_t> clsGif24bit::CompositionAlpha() const {
  // The export box shows the canvas from its top-left corner; what lies
  // beyond the canvas is the box's own picture, and opaque.
  if (coverageFull_) return {};
  const int w = display_->Image().Width(), h = display_->Image().Height();
  std::vector<std::uint8_t> alpha(std::size_t(w) * std::size_t(h), 255);
  bool any = false;
  const int shownWidth = ShownWidth(), shownHeight = ShownHeight();
  for (int y = 0; y < shownHeight; ++y) {
    const std::uint8_t* covered = coverage_->Row8(y);
    std::uint8_t* row = alpha.data() + std::size_t(y) * std::size_t(w);
    for (int x = 0; x < shownWidth; ++x) {
      row[x] = covered[x] != 0 ? 255 : 0;
      any |= covered[x] == 0;
    }
  }
  if (!any) return {};
  return alpha;
}

platform::Picture clsGif24bit::StoredPixels(std::size_t k, std::vector<std::uint8_t>& alpha) const {
  const int w = display_->Image().Width(), h = display_->Image().Height();
  auto out = gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
  if (!out) throw std::bad_alloc();
  out->ZeroIfPending();
  alpha.assign(std::size_t(w) * std::size_t(h), 0);
  const gdi::Bitmap& frame = *Frames[k].FramePicture.Handle();
  // The colours the file stores: a frame on the global table sees it as it
  // was read, before any other frame's transparent entry was repaired.
  std::array<gdi::COLORREF, 256> colours{};
  for (std::size_t i = 0; i < 256; ++i) {
    const auto& q = frame.Palette()[i];
    colours[i] = gdi::RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    if (!Frames[k].LocalTableFlag && GlobalTableFlag && i * 3 <= LastEntry(GlobalTableSize)) {
      colours[i] = gdi::RGB(StoredGlobalTable[i * 3], StoredGlobalTable[i * 3 + 1],
                            StoredGlobalTable[i * 3 + 2]);
    }
  }
  const int transparent = Frames[k].TransparentFlag ? Frames[k].TransparentIndex : -1;
  for (int fy = 0; fy < frame.Height(); ++fy) {
    const int y = Frames[k].FrameTop + fy;
    if (y < 0 || y >= h) continue;
    const std::uint8_t* row = frame.Row8(fy);
    for (int fx = 0; fx < frame.Width(); ++fx) {
      const int x = Frames[k].FrameLeft + fx;
      if (x < 0 || x >= w || row[fx] == transparent) continue;
      out->Set(x, y, gdi::ToPixel32(colours[row[fx]]));
      alpha[std::size_t(y) * std::size_t(w) + std::size_t(x)] = 255;
    }
  }
  return platform::Picture(std::move(*out));
}

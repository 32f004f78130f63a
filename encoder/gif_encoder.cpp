#include "encoder/gif_encoder.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/system/per_thread.h"
#include "platform/system/system.h"

namespace {

constexpr std::uint8_t kLevels[5] = {0, 64, 128, 192, 255};

// For each channel value, the nearest of kLevels (ties to the lower level).
// The table is the product of the levels, entry 25 b + 5 g + r, the rest
// black: the nearest entry by squared distance is the nearest level in each
// channel, and of tied entries the lowest index is the one with the lower
// levels, so this gives the entry a blit into the section would choose.
constexpr std::array<std::uint8_t, 256> kNearestLevel = [] {
  std::array<std::uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int best = 0;
    for (int l = 1; l < 5; ++l) {
      const int d = v - kLevels[l], e = v - kLevels[best];
      if (d * d < e * e) best = l;
    }
    t[std::size_t(v)] = std::uint8_t(best);
  }
  return t;
}();

void Put16(std::vector<std::uint8_t>& v, int x) {
  v.push_back(std::uint8_t(x & 0xFF));
  v.push_back(std::uint8_t((x >> 8) & 0xFF));
}

}  // namespace

std::string GIF::PixelKey(int value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03d", value & 0xFF);
  return buf;
}

void GIF::FillHeader(gdi::BITMAPINFO& info) const {
  info.bmiHeader = gdi::BITMAPINFOHEADER{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = height_;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 8;
  info.bmiHeader.biCompression = gdi::BI_RGB;
  info.bmiHeader.biSizeImage = std::uint32_t(std::int64_t(height_) * gdi::Stride8(width_));
}

std::optional<gdi::Bitmap> GIF::Create8BitDIB(const gdi::DC& dc, gdi::BITMAPINFO& info) const {
  FillHeader(info);
  for (int i = 0; i < 256; ++i) info.bmiColors[i] = gdi::RGBQUAD{};
  for (int b = 0; b < 5; ++b) {
    for (int g = 0; g < 5; ++g) {
      for (int r = 0; r < 5; ++r) {
        info.bmiColors[25 * b + 5 * g + r] = {kLevels[b], kLevels[g], kLevels[r], 0};
      }
    }
  }
  return gdi::CreateDIBSection(dc, info, gdi::DIB_RGB_COLORS);
}

void GIF::EmitBlocks(bool last) {
  // Full sub-blocks of 255 bytes; the last one holds what is left (1 to 255
  // bytes), so a full block goes out only when a 256th byte follows it.
  std::size_t done = 0;
  while (rawSize_ - done > 255 || (last && rawSize_ > done)) {
    const std::size_t n = std::min<std::size_t>(255, rawSize_ - done);
    out_.push_back(std::uint8_t(n));
    out_.insert(out_.end(), raw_.begin() + std::ptrdiff_t(done),
                raw_.begin() + std::ptrdiff_t(done + n));
    done += n;
  }
  std::copy(raw_.begin() + std::ptrdiff_t(done), raw_.begin() + std::ptrdiff_t(rawSize_),
            raw_.begin());
  rawSize_ -= done;
}

namespace {

// String tables, all zero, kept between saves: the export makes a fresh
// encoder per frame, and a 256 KiB table made anew each time costs more than
// the frame's encoding. A save running inside another's yield takes its own.
std::vector<std::vector<std::int16_t>>& TablePool() {
  return sys::PerThread<std::vector<std::vector<std::int16_t>>>();
}

std::vector<std::int16_t> TakeTable() {
  auto& pool = TablePool();
  if (pool.empty()) return std::vector<std::int16_t>(std::size_t(512) * 256, 0);
  auto table = std::move(pool.back());
  pool.pop_back();
  return table;
}

}  // namespace

// Codes are packed least significant bit first into `acc`; whole bytes go
// out eight at a time (an unaligned store) and the pointer moves on by the
// bytes completed, which keeps the loop free of data-dependent branches.
struct GIF::CodeWriter {
  std::uint64_t acc = 0;
  std::uint32_t bits = 0;
  std::uint8_t* w = nullptr;
  // `code` in `n` bits (0 or 9).
  void Put(std::uint32_t code, std::uint32_t n) {
    acc |= std::uint64_t(code) << bits;
    bits += n;
    std::memcpy(w, &acc, sizeof acc);
    w += bits >> 3;
    acc >>= bits & ~7u;
    bits &= 7u;
  }
};

namespace {

// One row: a clear code, then the codes of its pixels, nine bits each.
// `table` maps (prefix code, pixel) to the string's code; `used` lists the
// `count` slots taken since the last clear.
inline void EncodeRow(const std::uint8_t* row, int width, std::int16_t* table, std::uint32_t* used,
                      std::uint32_t& count, GIF::CodeWriter& out) {
  auto clear = [&] {
    for (std::uint32_t i = 0; i < count; ++i) table[used[i]] = 0;
    count = 0;
    out.Put(GIF::kClearCode, 9);
  };
  clear();
  if (width <= 0) return;
  std::uint32_t pending = row[0];
  for (int x = 1; x < width; ++x) {
    const std::uint32_t k = row[x];
    const std::uint32_t slot = pending * 256 + k;
    const std::uint32_t code = std::uint16_t(table[slot]);
    const bool miss = code == 0;
    // A string not in the table: its prefix's code goes out, and the
    // string is added unless the table is full, which clears it instead.
    out.Put(miss ? pending : 0u, miss ? 9u : 0u);
    const bool add = miss && count < std::uint32_t(GIF::kTableLimit);
    table[slot] = std::int16_t(add ? GIF::kFirstCode + int(count) : int(code));
    used[count] = slot;
    count += add ? 1u : 0u;
    if (miss && !add) clear();
    pending = miss ? k : code;
  }
  out.Put(pending, 9);
}

}  // namespace

void GIF::EncodeRows(const std::uint8_t* matrix, int width, int height, std::size_t stride,
                     sys::OutputFile* file) {
  table_ = TakeTable();
  std::uint32_t count = 0;  // strings added since the last clear
  out_.clear();
  rawSize_ = 0;
  CodeWriter codes;
  // At most a code per pixel, a clear code per full table and one per row,
  // nine bits each, and the eight bytes of the last store.
  const std::size_t rowBound =
      (std::size_t(width) + std::size_t(width) / kTableLimit + 4) * 9 / 8 + 16;
  for (int y = 1; y <= height; ++y) {
    if (raw_.size() < rawSize_ + rowBound) raw_.resize(rawSize_ + rowBound + rawSize_ / 2);
    codes.w = raw_.data() + rawSize_;
    EncodeRow(matrix + std::size_t(y - 1) * stride, width, table_.data(), used_.data(), count,
              codes);
    rawSize_ = std::size_t(codes.w - raw_.data());
    if (y % 10 == 0) AfterTenRows(y, height, file);
  }
  for (std::uint32_t i = 0; i < count; ++i) table_[used_[i]] = 0;  // back to the pool all zero
  TablePool().push_back(std::move(table_));
  table_.clear();
  EndRows(codes, file);
}

void GIF::AfterTenRows(int y, int height, sys::OutputFile* file) {
  if (file != nullptr && rawSize_ >= (1u << 16)) {
    EmitBlocks(false);
    file->Write(out_.data(), out_.size());
    out_.clear();
  }
  if (Yields) {
    // Writer threads encode with Yields off: Progress and the yield belong
    // to the window thread.
    assert(sys::OnWindowThread());
    const double percents = std::nearbyint(double(y) * 100.0 / double(height));
    if (Progress) Progress(std::int16_t(percents));
    sys::DoEvents();
  }
}

void GIF::EndRows(CodeWriter& codes, sys::OutputFile* file) {
  if (raw_.size() < rawSize_ + 16) raw_.resize(rawSize_ + 16);
  codes.w = raw_.data() + rawSize_;
  codes.Put(kEndCode, 9);
  if (codes.bits > 0) *codes.w++ = std::uint8_t(codes.acc);  // the last byte's unused bits are 0
  rawSize_ = std::size_t(codes.w - raw_.data());
  EmitBlocks(true);
  out_.push_back(0x00);
  if (file != nullptr) {
    file->Write(out_.data(), out_.size());
    out_.clear();
  }
}

std::vector<std::uint8_t> GIF::EncodeImageData(const std::uint8_t* matrix, int width, int height,
                                               std::size_t stride) {
  EncodeRows(matrix, width, height, stride, nullptr);
  return std::move(out_);
}

std::int16_t GIF::SaveGIF(const platform::Picture& Pic, const std::string& sFileName, gdi::DC* hDc,
                          const std::int16_t& UseTrans, gdi::COLORREF TransColor) {
  if (!Capture(Pic, hDc, UseTrans, TransColor)) return 0;
  return WriteCaptured(sFileName);
}

bool GIF::Capture(const platform::Picture& Pic, gdi::DC* hDc, const std::int16_t& UseTrans,
                  gdi::COLORREF TransColor) {
  if (busy_) return false;  // a nested call leaves the running save and `error_` alone
  busy_ = true;
  error_ = Error::None;

  gdi::BITMAP bm;
  if (!Pic || !gdi::GetObject(Pic.Handle(), bm)) {
    error_ = Error::NoPicture;
    return false;
  }
  if (bm.bmWidth > 32767 || bm.bmHeight > 32767) {
    error_ = Error::TooLarge;
    return false;
  }
  width_ = bm.bmWidth;
  height_ = bm.bmHeight;
  const std::size_t stride = std::size_t(gdi::Stride8(width_));
  // Every byte of every row is written by the capture below.
  std::unique_ptr<std::uint8_t[]> matrix(new std::uint8_t[stride * std::size_t(height_)]);

  auto screen = gdi::GetDC();
  auto memDC = gdi::CreateCompatibleDC(screen.get());
  std::unique_ptr<gdi::DC> ownSrc;
  std::optional<gdi::SelectionGuard> ownSel;
  gdi::DC* src = hDc;
  if (src == nullptr) {
    ownSrc = gdi::CreateCompatibleDC(screen.get());
    ownSel.emplace(*ownSrc, Pic.Handle());
    src = ownSrc.get();
  }

  // Scan line s (0 = bottom) is matrix row height - 1 - s: rows top to bottom.
  gdi::BITMAPINFO info;
  auto readLines = [&](const gdi::Bitmap& from, gdi::DC& through) {
    for (int s = 0; s < height_; ++s) {
      std::uint8_t* row = matrix.get() + std::size_t(height_ - 1 - s) * stride;
      if (gdi::GetDIBits(through, from, s, 1, row, info, gdi::DIB_RGB_COLORS) != 1) {
        std::fill(row, row + stride, std::uint8_t(0));
      }
    }
    if (height_ == 0) gdi::GetDIBits(through, from, 0, 0, nullptr, info, gdi::DIB_RGB_COLORS);
  };
  std::optional<gdi::Bitmap> section;
  if (bm.bmBitsPixel != 8) section = Create8BitDIB(*memDC, info);
  const gdi::Bitmap* from = src->selected();
  if (section && from != nullptr && from->PixelFormat() == gdi::Format::Rgb32 &&
      from->Width() >= width_ && from->Height() >= height_) {
    // The capture of a whole 32-bit picture, without the general nearest
    // search: what the blit into the section and reading it back give.
    for (int y = 0; y < height_; ++y) {
      const std::uint32_t* in = from->Row32(y);
      std::uint8_t* row = matrix.get() + std::size_t(y) * stride;
      for (int x = 0; x < width_; ++x) {
        const std::uint32_t p = in[x];
        row[x] = std::uint8_t(25 * kNearestLevel[p & 0xFF] + 5 * kNearestLevel[(p >> 8) & 0xFF] +
                              kNearestLevel[(p >> 16) & 0xFF]);
      }
      std::fill(row + width_, row + stride, std::uint8_t(0));
    }
    gdi::SelectionGuard sel(*memDC, &*section);
    gdi::GetDIBits(*memDC, *section, 0, 0, nullptr, info, gdi::DIB_RGB_COLORS);
  } else if (section) {
    gdi::SelectionGuard sel(*memDC, &*section);
    gdi::BitBlt(*memDC, 0, 0, width_, height_, *src, 0, 0, gdi::SRCCOPY);
    readLines(*section, *memDC);
  } else {
    FillHeader(info);
    readLines(*Pic.Handle(), *src);
  }

  std::uint8_t transIndex = 0;
  for (int c = 0; c < 256; ++c) {
    if (gdi::ColorOf(info.bmiColors[c]) == TransColor) {
      transIndex = std::uint8_t(c);
      break;
    }
  }
  captured_ = std::make_unique<Captured>();
  captured_->matrix = std::move(matrix);
  captured_->stride = stride;
  std::copy(std::begin(info.bmiColors), std::end(info.bmiColors), captured_->colors.begin());
  captured_->transIndex = transIndex;
  captured_->trans = UseTrans == -1;
  return true;
}

std::vector<std::uint8_t> GIF::Head(const Captured& captured) const {
  // The screen, the fixed table, the control of a transparent frame and the
  // image descriptor: everything before the image data.
  const bool trans = captured.trans;
  std::vector<std::uint8_t> head;
  head.reserve(800);
  const char* sig = trans ? "GIF89a" : "GIF87a";
  head.insert(head.end(), sig, sig + 6);
  Put16(head, width_);
  Put16(head, height_);
  head.push_back(0xF7);
  head.push_back(0);
  head.push_back(0);
  for (const auto& c : captured.colors) {
    head.push_back(c.rgbRed);
    head.push_back(c.rgbGreen);
    head.push_back(c.rgbBlue);
  }
  if (trans) {
    const std::uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x09, 0x00, 0x00, captured.transIndex, 0x00};
    head.insert(head.end(), gce, gce + 8);
  }
  head.push_back(0x2C);
  Put16(head, 0);
  Put16(head, 0);
  Put16(head, width_);
  Put16(head, height_);
  head.push_back(0x07);
  head.push_back(8);
  return head;
}

std::int16_t GIF::WriteCaptured(const std::string& sFileName) {
  if (!captured_) return 0;
  const auto captured = std::move(captured_);
  systemError_ = 0;

  sys::OutputFile file;
  switch (sys::CreateFileReplacing(sFileName, file, &systemError_)) {
    case sys::ReplaceResult::Ok:
      break;
    case sys::ReplaceResult::CannotDelete:
      error_ = Error::CannotDelete;
      return 0;
    case sys::ReplaceResult::CannotCreate:
      error_ = Error::CannotOpen;
      return 0;
  }

  const std::vector<std::uint8_t> head = Head(*captured);
  file.Write(head.data(), head.size());

  bool encoded = true;
  try {
    EncodeRows(captured->matrix.get(), width_, height_, captured->stride, &file);
    file.Put(0x3B);
  } catch (const std::bad_alloc&) {
    encoded = false;
  }
  if (!encoded) {
    // A file cut short is worse than none: it never takes its name.
    file.Discard();
    systemError_ = ENOMEM;
  } else if (!file.Close()) {
    systemError_ = file.Error();
  }
  if (systemError_ != 0) {
    error_ = Error::WriteFailed;
    busy_ = false;
    return 0;
  }
  busy_ = false;
  return -1;
}

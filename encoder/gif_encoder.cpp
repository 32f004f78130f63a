#include "encoder/gif_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/system/system.h"

namespace {

constexpr std::uint8_t kLevels[5] = {0, 64, 128, 192, 255};

void Put16(std::vector<std::uint8_t>& v, int x) {
  v.push_back(std::uint8_t(x & 0xFF));
  v.push_back(std::uint8_t((x >> 8) & 0xFF));
}

}  // namespace

bool GIF::FileExists(const std::string& path) { return sys::GetFileAttributes(path); }

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

void GIF::WriteBits(int code, int count) {
  if (count <= 0) return;
  acc_ |= (std::uint32_t(code) & ((1u << count) - 1)) << accBits_;
  accBits_ += count;
  while (accBits_ >= 8) {
    // A full sub-block goes out only when a 256th data byte is needed.
    if (block_[0] == 255) {
      out_.insert(out_.end(), block_.begin(), block_.end());
      block_[0] = 0;
    }
    block_[++block_[0]] = std::uint8_t(acc_ & 0xFF);
    acc_ >>= 8;
    accBits_ -= 8;
  }
}

void GIF::ResetTable() {
  for (std::uint32_t slot : used_) table_[slot] = 0;
  used_.clear();
  WriteBits(kClearCode, 9);
}

namespace {

// String tables, all zero, kept between saves: the export makes a fresh
// encoder per frame, and a 256 KiB table made anew each time costs more than
// the frame's encoding. A save running inside another's yield takes its own.
std::vector<std::vector<std::int16_t>>& TablePool() {
  thread_local std::vector<std::vector<std::int16_t>> pool;
  return pool;
}

std::vector<std::int16_t> TakeTable() {
  auto& pool = TablePool();
  if (pool.empty()) return std::vector<std::int16_t>(std::size_t(512) * 256, 0);
  auto table = std::move(pool.back());
  pool.pop_back();
  return table;
}

}  // namespace

void GIF::EncodeRows(const std::uint8_t* matrix, int width, int height, std::size_t stride,
                     sys::OutputFile* file) {
  table_ = TakeTable();
  used_.clear();
  used_.reserve(kTableLimit);
  block_[0] = 0;
  acc_ = 0;
  accBits_ = 0;
  out_.clear();
  for (int y = 1; y <= height; ++y) {
    const std::uint8_t* row = matrix + std::size_t(y - 1) * stride;
    ResetTable();
    if (width > 0) {
      int pending = row[0];
      for (int x = 1; x < width; ++x) {
        const int k = row[x];
        const std::uint32_t slot = std::uint32_t(pending) * 256 + std::uint32_t(k);
        if (const int code = table_[slot]; code != 0) {
          pending = code;
          continue;
        }
        WriteBits(pending, 9);
        if (used_.size() >= std::size_t(kTableLimit)) {
          ResetTable();
        } else {
          table_[slot] = std::int16_t(kFirstCode + int(used_.size()));
          used_.push_back(slot);
        }
        pending = k;
      }
      WriteBits(pending, 9);
    }
    if (y % 10 == 0) {
      if (file != nullptr && out_.size() >= (1u << 16)) {
        file->Write(out_.data(), out_.size());
        out_.clear();
      }
      const double percents = std::nearbyint(double(y) * 100.0 / double(height));
      if (Progress) Progress(std::int16_t(percents));
      sys::DoEvents();
    }
  }
  for (std::uint32_t slot : used_) table_[slot] = 0;  // back to the pool all zero
  used_.clear();
  TablePool().push_back(std::move(table_));
  table_.clear();
  WriteBits(kEndCode, 9);
  if (accBits_ > 0) WriteBits(0, 8 - accBits_);  // the last byte's unused bits are 0
  out_.insert(out_.end(), block_.begin(), block_.begin() + block_[0] + 1);
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
  if (busy_) return 0;  // a nested call leaves the running save and `error_` alone
  busy_ = true;
  error_ = Error::None;

  gdi::BITMAP bm;
  if (!Pic || !gdi::GetObject(Pic.Handle(), bm)) {
    error_ = Error::NoPicture;
    return 0;
  }
  if (bm.bmWidth > 32767 || bm.bmHeight > 32767) {
    error_ = Error::TooLarge;
    return 0;
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
  if (section) {
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

  sys::OutputFile file;
  switch (sys::CreateFileReplacing(sFileName, file)) {
    case sys::ReplaceResult::Ok:
      break;
    case sys::ReplaceResult::CannotDelete:
      error_ = Error::CannotDelete;
      return 0;
    case sys::ReplaceResult::CannotCreate:
      error_ = Error::CannotOpen;
      return 0;
  }

  const bool trans = UseTrans == -1;
  std::vector<std::uint8_t> head;
  head.reserve(800);
  const char* sig = trans ? "GIF89a" : "GIF87a";
  head.insert(head.end(), sig, sig + 6);
  Put16(head, width_);
  Put16(head, height_);
  head.push_back(0xF7);
  head.push_back(0);
  head.push_back(0);
  for (int c = 0; c < 256; ++c) {
    head.push_back(info.bmiColors[c].rgbRed);
    head.push_back(info.bmiColors[c].rgbGreen);
    head.push_back(info.bmiColors[c].rgbBlue);
  }
  if (trans) {
    const std::uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x09, 0x00, 0x00, transIndex, 0x00};
    head.insert(head.end(), gce, gce + 8);
  }
  head.push_back(0x2C);
  Put16(head, 0);
  Put16(head, 0);
  Put16(head, width_);
  Put16(head, height_);
  head.push_back(0x07);
  head.push_back(8);
  file.Write(head.data(), head.size());

  EncodeRows(matrix.get(), width_, height_, stride, &file);
  file.Put(0x3B);
  if (!file.Close()) {
    // A file cut short by a failed write is worse than none.
    sys::DeleteFile(sFileName);
    error_ = Error::WriteFailed;
    busy_ = false;
    return 0;
  }
  busy_ = false;
  return -1;
}

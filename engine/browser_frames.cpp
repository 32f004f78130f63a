#include "engine/browser_frames.h"

#include <algorithm>
#include <array>

namespace browser {

namespace {
constexpr int kMaxCodes = 4096;
}  // namespace

bool DecodeLzw(int minCodeSize, const std::uint8_t* data, std::size_t size, std::uint8_t* out,
               std::size_t pixels) {
  if (minCodeSize < 1 || minCodeSize > 8) return false;
  // Every entry as its last byte, the entry before it and its length: a
  // string is written from its end back along its prefixes.
  std::array<std::uint16_t, kMaxCodes> prefix{};
  std::array<std::uint8_t, kMaxCodes> suffix{};
  std::array<std::uint8_t, kMaxCodes> first{};
  std::array<std::uint16_t, kMaxCodes> length{};
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  for (int c = 0; c < clear; ++c) {
    suffix[std::size_t(c)] = first[std::size_t(c)] = std::uint8_t(c);
    length[std::size_t(c)] = 1;
  }
  int width = minCodeSize + 1;
  int next = clear + 2;
  int previous = -1;
  std::size_t written = 0;
  std::uint32_t bits = 0;
  int held = 0;
  std::size_t at = 0;

  // Writes entry `code` (`extra` then follows it: the first byte of the
  // string itself, for a code that names the entry being made).
  auto emit = [&](int code, int extraFrom) {
    const std::size_t n = length[std::size_t(code)] + (extraFrom >= 0 ? 1u : 0u);
    const std::size_t from = written;
    written += n;
    if (out == nullptr || from >= pixels) return;
    std::size_t pos = from + n - 1;
    if (extraFrom >= 0) {
      if (pos < pixels) out[pos] = first[std::size_t(extraFrom)];
      --pos;
    }
    for (int c = code;; c = prefix[std::size_t(c)], --pos) {
      if (pos < pixels) out[pos] = suffix[std::size_t(c)];
      if (c < clear) break;
    }
  };

  while (written < pixels) {
    while (held < width && at < size) {
      bits |= std::uint32_t(data[at++]) << held;
      held += 8;
    }
    if (held < width) break;  // the data ran out
    const int code = int(bits & ((1u << width) - 1));
    bits >>= width;
    held -= width;
    if (code == clear) {
      width = minCodeSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) break;
    if (previous < 0) {
      if (code > clear) return false;  // the first code after a clear is a byte
      emit(code, -1);
      previous = code;
      continue;
    }
    if (code < next) {
      emit(code, -1);
      if (next < kMaxCodes) {
        prefix[std::size_t(next)] = std::uint16_t(previous);
        suffix[std::size_t(next)] = first[std::size_t(code)];
        first[std::size_t(next)] = first[std::size_t(previous)];
        length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
        ++next;
      }
    } else if (code == next && next < kMaxCodes) {
      // The entry being made: the previous string and its own first byte.
      emit(previous, previous);
      prefix[std::size_t(next)] = std::uint16_t(previous);
      suffix[std::size_t(next)] = first[std::size_t(previous)];
      first[std::size_t(next)] = first[std::size_t(previous)];
      length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
      ++next;
    } else {
      return false;  // a code that names no entry
    }
    if (next == (1 << width) && width < 12) ++width;
    previous = code;
  }
  return written >= pixels;
}

int InterlacedRow(int r, int height) {
  // Passes: every 8th row from 0, every 8th from 4, every 4th from 2, every
  // 2nd from 1.
  const int pass1 = (height + 7) / 8;
  const int pass2 = (height + 3) / 8;
  const int pass3 = (height + 1) / 4;
  if (r < pass1) return r * 8;
  r -= pass1;
  if (r < pass2) return 4 + r * 8;
  r -= pass2;
  if (r < pass3) return 2 + r * 4;
  r -= pass3;
  return 1 + r * 2;
}

void CanvasSize(int screenWidth, int screenHeight, const Image& first, int& width, int& height) {
  width = std::max(screenWidth, first.left + first.width);
  height = std::max(screenHeight, first.top + first.height);
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), rgba_(std::size_t(width) * std::size_t(height) * 4, 0) {}

void Canvas::Dispose() {
  if (!drawn_ || (last_.disposal != 2 && last_.disposal != 3)) return;
  const int x0 = std::min(last_.left, width_), x1 = std::min(last_.left + last_.width, width_);
  const int y0 = std::min(last_.top, height_), y1 = std::min(last_.top + last_.height, height_);
  const std::size_t rowBytes = std::size_t(x1 - x0) * 4;
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = rgba_.data() + (std::size_t(y) * std::size_t(width_) + std::size_t(x0)) * 4;
    if (last_.disposal == 2) {
      std::fill(row, row + rowBytes, std::uint8_t(0));
    } else {
      std::copy_n(saved_.data() + std::size_t(y - y0) * rowBytes, rowBytes, row);
    }
  }
}

void Canvas::Draw(const Image& image, const std::uint8_t* indices, const std::uint8_t* table,
                  int entries) {
  Dispose();
  const int x0 = std::min(image.left, width_), x1 = std::min(image.left + image.width, width_);
  const int y0 = std::min(image.top, height_), y1 = std::min(image.top + image.height, height_);
  const std::size_t rowBytes = std::size_t(x1 - x0) * 4;
  if (image.disposal == 3) {
    saved_.resize(rowBytes * std::size_t(y1 - y0));
    for (int y = y0; y < y1; ++y) {
      std::copy_n(rgba_.data() + (std::size_t(y) * std::size_t(width_) + std::size_t(x0)) * 4,
                  rowBytes, saved_.data() + std::size_t(y - y0) * rowBytes);
    }
  }
  // Opaque colours by index; an index past the table is opaque black.
  std::array<std::uint32_t, 256> colours{};
  std::array<bool, 256> drawn{};
  for (int i = 0; i < 256; ++i) {
    std::uint8_t rgb[3] = {0, 0, 0};
    if (i < entries) std::copy_n(table + std::size_t(i) * 3, 3, rgb);
    colours[std::size_t(i)] = std::uint32_t(rgb[0]) | (std::uint32_t(rgb[1]) << 8) |
                              (std::uint32_t(rgb[2]) << 16) | 0xFF000000u;
    drawn[std::size_t(i)] = true;
  }
  // The transparent index marks its pixels transparent even past the table.
  if (image.transparent) drawn[image.transparentIndex] = false;
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* src = indices + std::size_t(y - image.top) * std::size_t(image.width) +
                              std::size_t(x0 - image.left);
    std::uint8_t* dst = rgba_.data() + (std::size_t(y) * std::size_t(width_) + std::size_t(x0)) * 4;
    for (int x = x0; x < x1; ++x, ++src, dst += 4) {
      if (!drawn[*src]) continue;
      const std::uint32_t c = colours[*src];
      dst[0] = std::uint8_t(c);
      dst[1] = std::uint8_t(c >> 8);
      dst[2] = std::uint8_t(c >> 16);
      dst[3] = 0xFF;
    }
  }
  last_ = image;
  drawn_ = true;
}

}  // namespace browser

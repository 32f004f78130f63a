#include "engine/browser_frames.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace browser {

namespace {
constexpr int kMaxCodes = 4096;

// Writes the n bytes at `from` (all below `to`) at `to`, as far as `pixels`.
// Most strings are short: those go as one 16-byte load and store, which may
// write past the string's end (the next strings overwrite that) but never
// past the image.
inline void Copy(std::uint8_t* out, std::size_t to, std::size_t from, std::size_t n,
                 std::size_t pixels) {
  if (n <= 16 && to + 16 <= pixels) {
    std::uint8_t bytes[16];
    std::memcpy(bytes, out + from, 16);  // from + 16 <= to + 16: inside the image
    std::memcpy(out + to, bytes, 16);
    return;
  }
  std::memcpy(out + to, out + from, std::min(n, pixels - to));
}
}  // namespace

bool DecodeLzw(int minCodeSize, const std::uint8_t* data, std::size_t size, std::uint8_t* out,
               std::size_t pixels) {
  if (minCodeSize < 1 || minCodeSize > 8) return false;
  // Each entry's string was written to the output when the entry was made:
  // it is the string of the code before it, where that was written, and one
  // byte more. So an entry is its length and where it lies in the output,
  // and writing it is a copy from there.
  std::array<std::uint32_t, kMaxCodes> at{};
  std::array<std::uint16_t, kMaxCodes> length{};
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  for (int c = 0; c < clear; ++c) length[std::size_t(c)] = 1;
  int width = minCodeSize + 1;
  int next = clear + 2;
  int previous = -1;
  std::size_t previousAt = 0;  // where the previous code's string was written
  std::size_t written = 0;
  std::uint64_t bits = 0;
  int held = 0;
  std::size_t in = 0;

  while (written < pixels) {
    if (held < width) {
      // Refill to at least 56 bits: eight bytes at once away from the end.
      if (std::endian::native == std::endian::little && in + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, data + in, 8);
        bits |= word << held;
        const int take = (63 - held) / 8;
        in += std::size_t(take);
        held += take * 8;
      } else {
        while (held <= 56 && in < size) {
          bits |= std::uint64_t(data[in++]) << held;
          held += 8;
        }
        if (held < width) break;  // the data ran out
      }
    }
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
    std::size_t n = 0;
    if (code < clear) {
      n = 1;
      if (out != nullptr) out[written] = std::uint8_t(code);
    } else if (previous < 0) {
      return false;  // the first code after a clear is a byte
    } else if (code < next) {
      n = length[std::size_t(code)];
      if (out != nullptr) Copy(out, written, at[std::size_t(code)], n, pixels);
    } else if (code == next && next < kMaxCodes) {
      // The entry being made: the previous string, then its own first byte.
      n = std::size_t(length[std::size_t(previous)]) + 1;
      if (out != nullptr) {
        Copy(out, written, previousAt, n - 1, pixels);
        if (written + n - 1 < pixels) out[written + n - 1] = out[previousAt];
      }
    } else {
      return false;  // a code that names no entry
    }
    if (previous >= 0 && next < kMaxCodes) {
      at[std::size_t(next)] = std::uint32_t(previousAt);
      length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    previous = code;
    previousAt = written;
    written += n;
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
  // Opaque colours by index, as RGBA bytes; an index past the table is
  // opaque black.
  std::array<std::array<std::uint8_t, 4>, 256> colours{};
  std::array<bool, 256> drawn{};
  for (int i = 0; i < 256; ++i) {
    auto& c = colours[std::size_t(i)];
    if (i < entries) std::copy_n(table + std::size_t(i) * 3, 3, c.begin());
    c[3] = 0xFF;
    drawn[std::size_t(i)] = true;
  }
  // The transparent index marks its pixels transparent even past the table.
  const bool keyed = image.transparent;
  if (keyed) drawn[image.transparentIndex] = false;
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* src = indices + std::size_t(y - image.top) * std::size_t(image.width) +
                              std::size_t(x0 - image.left);
    std::uint8_t* dst = rgba_.data() + (std::size_t(y) * std::size_t(width_) + std::size_t(x0)) * 4;
    const int n = x1 - x0;
    if (!keyed) {
      for (int x = 0; x < n; ++x) std::memcpy(dst + 4 * x, colours[src[x]].data(), 4);
      continue;
    }
    for (int x = 0; x < n; ++x) {
      if (drawn[src[x]]) std::memcpy(dst + 4 * x, colours[src[x]].data(), 4);
    }
  }
  last_ = image;
  drawn_ = true;
}

}  // namespace browser

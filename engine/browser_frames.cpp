#include "engine/browser_frames.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace browser {

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

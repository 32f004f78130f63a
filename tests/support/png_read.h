// PNG files read back for the tests that check what velkor-split wrote.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// A PNG decoded by libpng as 8-bit RGBA, and the form it was stored in.
struct Png {
  int width = 0, height = 0;
  bool colormap = false, alpha = false;
  std::vector<std::uint8_t> rgba;
  std::array<std::uint8_t, 4> At(int x, int y) const {
    const std::size_t i = (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
    return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
  }
};
inline Png ReadPng(const std::string& path) {
  Png p;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << path << ": " << image.message;
    return p;
  }
  p.colormap = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
  p.alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_RGBA;
  p.width = int(image.width);
  p.height = int(image.height);
  p.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgba.data(), 0, nullptr)) {
    ADD_FAILURE() << path << ": " << image.message;
  }
  return p;
}

}  // namespace testutil

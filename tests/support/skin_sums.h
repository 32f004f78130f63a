// Every skin picture's size and the FNV-1a sum of its pixels as straight
// 0xAARRGGBB words, top row first, as Pillow decodes it (scripts/skin-sums.py
// prints these lines). Each window side must decode the pictures to exactly
// these pixels; a picture redrawn by scripts/draw-skin.py needs its line anew.
#pragma once

#include <cstdint>
#include <vector>

namespace testutil {

struct SkinSum {
  const char* name;
  int width, height;
  std::uint64_t sum;
};

inline const std::vector<SkinSum>& SkinSums() {
  static const std::vector<SkinSum> sums = {
      {"background.png", 579, 21, 0x24497dcf259e5a4dull},
      {"check_off.png", 12, 12, 0x667df5633d0cf8caull},
      {"check_on.png", 12, 12, 0x4b442df8aad8b239ull},
      {"cmd_off.png", 21, 20, 0x5cf42b44da99dcb2ull},
      {"cmd_on.png", 21, 20, 0x649d24af7eea9522ull},
      {"exit_off.png", 15, 15, 0x21a855e65078b7d9ull},
      {"exit_on.png", 16, 15, 0xb70bb405db38a385ull},
      {"hand.png", 32, 32, 0x43b979815e72c3f1ull},
      {"icon-256.png", 256, 256, 0x104b45533d906870ull},
      {"opt_off.png", 13, 13, 0x5d2222b9bfd17902ull},
      {"opt_on.png", 13, 13, 0x13c8c66e67c5b0d3ull},
      {"title.png", 500, 22, 0x28b8feecf75cbdb1ull},
  };
  return sums;
}

inline std::uint64_t PixelSum(const std::uint32_t* words, std::size_t count) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (std::size_t i = 0; i < count; ++i) h = (h ^ words[i]) * 0x100000001B3ull;
  return h;
}

}  // namespace testutil

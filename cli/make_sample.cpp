// Writes the sample animation that `make run` splits: a ball bouncing over a
// striped backdrop, with transparent partial frames, one frame that clears the
// canvas (disposal 2) and one with its own colour table.
#include <cstdio>
#include <string>

#include "tools/gifgen/gifgen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velkor-make-sample OUT.gif\n");
    return 64;
  }
  constexpr int kW = 96, kH = 64, kBall = 16;
  gifgen::Animation a;
  a.width = kW;
  a.height = kH;
  a.globalTable = {{0, 0, 0},     {255, 255, 255}, {220, 40, 40},   {40, 160, 60},
                   {40, 80, 200}, {250, 210, 60},  {120, 120, 120}, {200, 200, 230}};
  gifgen::Frame back;
  back.width = kW;
  back.height = kH;
  back.delay = 10;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) back.indices.push_back(std::uint8_t(((x + y) / 8) % 2 ? 7 : 4));
  }
  a.frames.push_back(back);
  for (int k = 0; k < 10; ++k) {
    gifgen::Frame f;
    f.width = kBall;
    f.height = kBall;
    f.left = 4 + k * 7;
    f.top = k < 5 ? k * 10 : (9 - k) * 10;
    f.delay = 8;
    f.transparentIndex = 0;
    f.disposal = k == 6 ? 2 : 1;
    for (int y = 0; y < kBall; ++y) {
      for (int x = 0; x < kBall; ++x) {
        const int dx = 2 * x - kBall + 1, dy = 2 * y - kBall + 1;
        const bool in = dx * dx + dy * dy < kBall * kBall;
        f.indices.push_back(std::uint8_t(in ? (k % 2 ? 2 : 5) : 0));
      }
    }
    if (k == 8) {  // its own table: a green ball
      f.localTable = a.globalTable;
      f.localTable[2] = {30, 200, 90};
      f.localTable[5] = {30, 200, 90};
    }
    a.frames.push_back(std::move(f));
  }
  return gifgen::WriteFile(argv[1], gifgen::Encode(a)) ? 0 : 1;
}

// Writes GIF animations with giflib, for tests, benchmarks and the sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gifgen {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

struct Frame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> indices;  // width * height, rows top to bottom
  std::vector<Rgb> localTable;        // empty: none; else 2, 4, ... 256 entries
  int delay = 0;                      // hundredths of a second
  int disposal = 0;
  int transparentIndex = -1;  // -1: not transparent
  bool interlace = false;
  bool control = true;  // write a graphic control extension
};

struct Animation {
  int width = 0, height = 0;
  std::vector<Rgb> globalTable;  // empty: none
  std::vector<Frame> frames;
  bool loop = true;
};

std::vector<std::uint8_t> Encode(const Animation& anim);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A palette of 256 colours spread over the colour cube.
std::vector<Rgb> RainbowTable();

// `frames` frames of w x h: a moving pattern, full frames on one global table.
Animation Moving(int w, int h, int frames, bool localTables = false);

}  // namespace gifgen

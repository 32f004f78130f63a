// SaveGIF of a 1920 x 1080 photographic picture (32-bit, captured through the
// fixed colour table), against giflib's EGifPutLine writing the same 8-bit
// indices to a file; and the 24-bit bitmap encoding of the same picture, by one
// thread and split in row bands, against a plain copy of its pixels.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "encoder/gif_encoder.h"
#include "platform/picture/picture.h"

namespace {

constexpr int kW = 1920, kH = 1080;

const platform::Picture& Photo() {
  static const platform::Picture pic = [] {
    auto b = *gdi::Bitmap::Create(kW, kH, gdi::Format::Rgb32);
    std::mt19937 rng(3);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        // Gradients with fine noise: the texture of a photograph.
        const int r = (x * 255 / kW + int(rng() % 24)) & 0xFF;
        const int g = (y * 255 / kH + int(rng() % 24)) & 0xFF;
        const int bl = ((x ^ y) / 8 + int(rng() % 24)) & 0xFF;
        b.Row32(y)[x] = std::uint32_t(r << 16 | g << 8 | bl);
      }
    return platform::Picture(std::move(b));
  }();
  return pic;
}

std::string OutPath(const char* tag) {
  return std::string("/tmp/velkor-bench-") + tag + "-" + std::to_string(::getpid()) + ".gif";
}

void BM_GiflibEncode(benchmark::State& state) {
  // The same indices SaveGIF writes, with its table.
  const std::string probe = OutPath("probe");
  GIF g;
  g.SaveGIF(Photo(), probe, nullptr, 0, 0);
  int err = 0;
  GifFileType* in = DGifOpenFileName(probe.c_str(), &err);
  DGifSlurp(in);
  std::vector<GifPixelType> indices(in->SavedImages[0].RasterBits,
                                    in->SavedImages[0].RasterBits + std::size_t(kW) * kH);
  ColorMapObject* map = GifMakeMapObject(256, in->SColorMap->Colors);
  DGifCloseFile(in, &err);
  ::unlink(probe.c_str());
  const std::string out = OutPath("giflib");
  for (auto _ : state) {
    GifFileType* gif = EGifOpenFileName(out.c_str(), false, &err);
    EGifPutScreenDesc(gif, kW, kH, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, kW, kH, false, nullptr);
    for (int y = 0; y < kH; ++y) EGifPutLine(gif, indices.data() + std::size_t(y) * kW, kW);
    EGifCloseFile(gif, &err);
  }
  GifFreeMapObject(map);
  ::unlink(out.c_str());
}
BENCHMARK(BM_GiflibEncode)->Unit(benchmark::kMillisecond);

void BM_SaveGIF(benchmark::State& state) {
  const std::string out = OutPath("velkor");
  for (auto _ : state) {
    GIF g;
    const std::int16_t useTrans = 0;
    g.SaveGIF(Photo(), out, nullptr, useTrans, 0);
  }
  ::unlink(out.c_str());
}
BENCHMARK(BM_SaveGIF)->Unit(benchmark::kMillisecond);

void BM_EncodeBmp24(benchmark::State& state) {
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    platform::EncodeBmp24(*Photo().Handle(), out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EncodeBmp24)->Unit(benchmark::kMillisecond);

void BM_CopyPixels(benchmark::State& state) {
  const auto& src = *Photo().Handle();
  std::vector<std::uint32_t> out(std::size_t(kW) * kH);
  for (auto _ : state) {
    for (int y = 0; y < kH; ++y) {
      std::memcpy(out.data() + std::size_t(y) * kW, src.Row32(y), kW * 4);
    }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_CopyPixels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The masked draw of one 1920 x 1080 frame onto the canvas (mask, inverse
// mask, back, fore, merge, and the copy of the canvas to the target), against a
// plain memcpy of the same 32-bit frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "engine/gif24bit.h"
#include "engine/run.h"

namespace {

constexpr int kW = 1920, kH = 1080;

void BM_Memcpy32(benchmark::State& state) {
  std::vector<std::uint32_t> a(std::size_t(kW) * kH, 0x123456), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 4);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(a.size()) * 4);
}
BENCHMARK(BM_Memcpy32)->Unit(benchmark::kMicrosecond);

void BM_MaskedBlit(benchmark::State& state) {
  platform::PictureBox master(MasterBoxOptions());
  master.Resize(kW, kH);
  clsGif24bit engine(master);
  engine.ScreenWidth = kW;
  engine.ScreenHeight = kH;
  engine.fCreateBitMap();
  std::vector<gdi::RGBQUAD> pal(256);
  for (int i = 0; i < 256; ++i) pal[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i * 3), 7, 0};
  auto frame = *gdi::Bitmap::Create(kW, kH, gdi::Format::Indexed8, pal);
  std::mt19937 rng(1);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) frame.Row8(y)[x] = std::uint8_t(rng() % 256);
  auto frameDC = gdi::CreateCompatibleDC(&master.hDC());
  gdi::SelectObject(*frameDC, &frame);
  for (auto _ : state) {
    gdi::COLORREF key = gdi::ColorOf(pal[17]);
    engine.MaskedBlit(*engine.CanvasDC, master.hDC(), *frameDC, {0, 0, kW, kH}, 0, 0, key);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MaskedBlit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Loading a GIF's first image into a picture, against giflib decoding the same
// image from memory on its own (DGifSlurp of a one-image file).
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstring>

#include "platform/picture/picture.h"
#include "tools/gifgen/gifgen.h"

namespace {

const std::vector<std::uint8_t>& Sample() {
  static const std::vector<std::uint8_t> bytes = gifgen::Encode(gifgen::Moving(1920, 1080, 1));
  return bytes;
}

struct Reader {
  const std::vector<std::uint8_t>* data;
  std::size_t pos = 0;
};

int Read(GifFileType* gif, GifByteType* out, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const std::size_t k = std::min<std::size_t>(std::size_t(n), r->data->size() - r->pos);
  std::memcpy(out, r->data->data() + r->pos, k);
  r->pos += k;
  return int(k);
}

void BM_GiflibDecode(benchmark::State& state) {
  for (auto _ : state) {
    Reader r{&Sample()};
    int err = 0;
    GifFileType* g = DGifOpen(&r, Read, &err);
    DGifSlurp(g);
    benchmark::DoNotOptimize(g->SavedImages[0].RasterBits);
    DGifCloseFile(g, &err);
  }
}
BENCHMARK(BM_GiflibDecode)->Unit(benchmark::kMicrosecond);

void BM_LoadPicture(benchmark::State& state) {
  for (auto _ : state) {
    auto pic = platform::LoadPictureFromMemory(Sample().data(), Sample().size());
    benchmark::DoNotOptimize(pic->Handle());
  }
}
BENCHMARK(BM_LoadPicture)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

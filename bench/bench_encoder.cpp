// SaveGIF of a 1920 x 1080 photographic picture (32-bit, captured through the
// fixed colour table), against giflib's EGifPutLine writing the same 8-bit
// indices to a file; and the 24-bit bitmap encoding of the same picture, by one
// thread and split in row bands, against a plain copy of its pixels. Then a
// PNG frame of 256 colours, as velkor-split --png writes it (libpng's chunks,
// libdeflate's data), against libpng writing the same form with zlib.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>

#include <cstring>
#include <random>

#include "encoder/gif_encoder.h"
#include "encoder/png_writer.h"
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

// A 640 x 480 frame of the photograph in 256 colours, as an animation frame
// on one palette composes.
const platform::Picture& Frame256() {
  static const platform::Picture pic = [] {
    auto b = *gdi::Bitmap::Create(640, 480, gdi::Format::Rgb32);
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) b.Row32(y)[x] = Photo().Handle()->Row32(y)[x] & 0xE0E0C0u;
    return platform::Picture(std::move(b));
  }();
  return pic;
}

void BM_PngFrame(benchmark::State& state) {
  const gdi::Bitmap& b = *Frame256().Handle();
  std::vector<std::uint8_t> out;
  png::Encoder encoder;
  for (auto _ : state) {
    encoder.Prepare({b.Row32(0), 640, 640, 480, nullptr});
    encoder.Finish(out);
  }
  state.counters["bytes"] = double(out.size());
}
BENCHMARK(BM_PngFrame)->Unit(benchmark::kMillisecond);

void Append(png_structp p, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
  out->insert(out->end(), data, data + size);
}
void NoFlush(png_structp) {}

// The same indexed form through libpng and zlib at the given level; the
// indices and the table are made beforehand, as velkor-split's Prepare does.
void BM_PngFrameZlib(benchmark::State& state) {
  const gdi::Bitmap& b = *Frame256().Handle();
  std::vector<png_color> palette;
  std::vector<std::uint8_t> indices(640 * 480);
  for (int i = 0; i < 640 * 480; ++i) {
    const std::uint32_t c = b.Row32(0)[i];
    std::size_t k = 0;
    while (k < palette.size() &&
           (palette[k].red != png_byte(c >> 16) || palette[k].green != png_byte(c >> 8) ||
            palette[k].blue != png_byte(c)))
      ++k;
    if (k == palette.size()) palette.push_back({png_byte(c >> 16), png_byte(c >> 8), png_byte(c)});
    indices[std::size_t(i)] = std::uint8_t(k);
  }
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    out.clear();
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
      state.SkipWithError("libpng failed");
      break;
    }
    png_set_write_fn(p, &out, Append, NoFlush);
    png_set_IHDR(p, info, 640, 480, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(p, info, palette.data(), int(palette.size()));
    png_set_compression_level(p, int(state.range(0)));
    png_set_filter(p, 0, PNG_FILTER_NONE);
    png_write_info(p, info);
    for (int y = 0; y < 480; ++y) png_write_row(p, indices.data() + std::size_t(y) * 640);
    png_write_end(p, info);
    png_destroy_write_struct(&p, &info);
  }
  state.counters["bytes"] = double(out.size());
}
BENCHMARK(BM_PngFrameZlib)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

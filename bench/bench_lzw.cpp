// The own LZW decoder alone against giflib's DGifSlurp of the same file from
// memory, on one thread: the benchmark inputs A, C and E (VELKOR_BENCH_INPUTS,
// those that exist) and every corpus file together.
//   bench_lzw [google benchmark flags]
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/picture/gif_blocks.h"
#include "platform/picture/lzw.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Image {
  int codeSize;
  Bytes data;  // the sub-blocks' payload, joined
  std::size_t pixels;
};

struct Input {
  std::vector<Bytes> files;
  std::vector<Image> images;
  std::size_t pixels = 0;
};

Bytes Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void AddFile(Input& in, Bytes bytes) {
  const auto header = gifblocks::HeaderLength(bytes.data(), bytes.size());
  if (!header) return;
  std::size_t p = *header;
  while (true) {
    const auto end =
        gifblocks::WalkToImage(bytes.data(), bytes.size(), p, [](std::size_t, std::uint8_t) {});
    if (end.stop != gifblocks::Stop::Image || end.at + 10 > bytes.size()) break;
    const std::uint8_t* d = bytes.data() + end.at;
    const std::size_t w = std::size_t(d[5] | d[6] << 8), h = std::size_t(d[7] | d[8] << 8);
    const std::size_t code = end.at + gifblocks::CodeSizeOffset(d[9]);
    if (code >= bytes.size()) break;
    Image image{bytes[code], {}, w * h};
    const auto last = lzw::JoinSubBlocks(bytes.data(), bytes.size(), code + 1, image.data);
    if (!last) break;
    in.pixels += image.pixels;
    in.images.push_back(std::move(image));
    p = *last + 1;
  }
  in.files.push_back(std::move(bytes));
}

struct Reader {
  const Bytes* data;
  std::size_t pos = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* out, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const std::size_t k = std::min<std::size_t>(std::size_t(n), r->data->size() - r->pos);
  std::memcpy(out, r->data->data() + r->pos, k);
  r->pos += k;
  return int(k);
}

void Own(benchmark::State& state, const Input* in) {
  std::size_t largest = 0;
  for (const auto& image : in->images) largest = std::max(largest, image.pixels);
  Bytes out(largest);
  for (auto _ : state) {
    for (const auto& image : in->images) {
      benchmark::DoNotOptimize(lzw::Decode(image.codeSize, image.data.data(), image.data.size(),
                                           out.data(), image.pixels));
    }
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(double(in->pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Giflib(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    for (const auto& file : in->files) {
      Reader r{&file};
      int err = 0;
      GifFileType* g = DGifOpen(&r, ReadMemory, &err);
      if (g == nullptr) continue;
      DGifSlurp(g);
      benchmark::DoNotOptimize(g->ImageCount);
      DGifCloseFile(g, &err);
    }
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(double(in->pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
  static std::vector<std::pair<std::string, Input>> inputs;
  const char* env = std::getenv("VELKOR_BENCH_INPUTS");
  const std::string dir = env != nullptr ? env : "/tmp/velkor-bench-inputs";
  for (const char* name : {"A", "C", "E"}) {
    const std::string path = dir + "/" + name + ".gif";
    if (!std::filesystem::exists(path)) continue;
    Input in;
    AddFile(in, Read(path));
    inputs.emplace_back(name, std::move(in));
  }
  const std::filesystem::path corpus =
      std::filesystem::path(VELKOR_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (std::filesystem::is_directory(corpus)) {
    Input in;
    for (const auto& e : std::filesystem::recursive_directory_iterator(corpus)) {
      if (e.path().extension() == ".gif" || e.path().extension() == ".GIF")
        AddFile(in, Read(e.path().string()));
    }
    inputs.emplace_back("corpus", std::move(in));
  }
  for (const auto& [name, in] : inputs) {
    benchmark::RegisterBenchmark(("Own/" + name).c_str(), Own, &in)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Giflib/" + name).c_str(), Giflib, &in)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

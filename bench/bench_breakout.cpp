// The whole break-out (temporary single-frame files included) of a 200-frame
// 640 x 480 animation, against giflib's DGifSlurp of the same file.
//
//   bench_breakout                 run the benchmarks
//   bench_breakout --once FILE [THREADS]
//                                  break FILE out once (for /usr/bin/time -v)
//   bench_breakout --compare FILE  medians of 5: giflib's DGifSlurp of FILE, its
//                                  break-out on one thread and on every core,
//                                  and the two ratios to DGifSlurp
//   bench_breakout --write FILE    write the 200-frame animation to FILE
//   bench_breakout --write-hd FILE write 60 frames of 1920 x 1080, each with
//                                  its own colour table, to FILE
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "tools/gifgen/gifgen.h"

namespace {

const std::string& SampleFile() {
  static const std::string path = [] {
    std::string p = "/tmp/velkor-bench-breakout-" + std::to_string(::getpid()) + ".gif";
    gifgen::WriteFile(p, gifgen::Encode(gifgen::Moving(640, 480, 200)));
    return p;
  }();
  return path;
}

void BM_GiflibSlurp(benchmark::State& state) {
  for (auto _ : state) {
    int err = 0;
    GifFileType* g = DGifOpenFileName(SampleFile().c_str(), &err);
    DGifSlurp(g);
    benchmark::DoNotOptimize(g->ImageCount);
    DGifCloseFile(g, &err);
  }
}
BENCHMARK(BM_GiflibSlurp)->Unit(benchmark::kMillisecond);

int BreakOutOnce(const std::string& file, unsigned threads = 0) {
  platform::PictureBox master(MasterBoxOptions());
  clsGif24bit engine(master);
  engine.Options.DecoderPath = file;
  engine.Options.DecodeThreads = threads;
  engine.fGifBreakOutFrames();
  return engine.BrokenOut() ? int(engine.Frames.size()) : 1;
}

void BM_BreakOut(benchmark::State& state) {
  for (auto _ : state) {
    const int frames = BreakOutOnce(SampleFile());
    if (frames != 200) state.SkipWithError("break-out failed");
  }
}
BENCHMARK(BM_BreakOut)->Unit(benchmark::kMillisecond);

template <typename F>
double MedianSeconds(F&& f) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

int Compare(const std::string& file) {
  int images = 0;
  const double slurp = MedianSeconds([&] {
    int err = 0;
    GifFileType* g = DGifOpenFileName(file.c_str(), &err);
    if (g == nullptr) return;
    DGifSlurp(g);
    images = g->ImageCount;
    DGifCloseFile(g, &err);
  });
  int frames = 0;
  const double one = MedianSeconds([&] { frames = BreakOutOnce(file, 1); });
  const double all = MedianSeconds([&] { frames = BreakOutOnce(file, 0); });
  std::printf(
      "DGifSlurp %.3f s (%d images); break-out one thread %.3f s, %u threads %.3f s "
      "(%d frames)\n",
      slurp, images, one, std::max(1u, std::thread::hardware_concurrency()), all, frames);
  std::printf("ratio one thread %.2f, all cores %.2f\n", one / slurp, all / slurp);
  return frames > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--once") == 0) {
    return BreakOutOnce(argv[2], argc == 4 ? unsigned(std::atoi(argv[3])) : 0u) > 0 ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--compare") == 0) return Compare(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
    return gifgen::WriteFile(argv[2], gifgen::Encode(gifgen::Moving(640, 480, 200))) ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--write-hd") == 0) {
    return gifgen::WriteFile(argv[2], gifgen::Encode(gifgen::Moving(1920, 1080, 60, true))) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::unlink(SampleFile().c_str());
  return 0;
}

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

Result Split(const std::string& args) {
  TempDir io;
  const std::string cmd = std::string(VELKOR_SPLIT) + " " + args + " >" + io.File("out") + " 2>" +
                          io.File("err") + " </dev/null";
  Result r;
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  const Bytes o = ReadFile(io.File("out")), e = ReadFile(io.File("err"));
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(Cli, SplitsNextToTheFileAndListsThePaths) {
  TempDir dir;
  const std::string src = dir.File("walk.cycle.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(40, 30, 3)));
  Result r = Split(Quote(src));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{dir.File("walk_001.gif"), dir.File("walk_002.gif"),
                                      dir.File("walk_003.gif")}));
  r = Split("--bmp --transparent " + Quote(src));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).back(), dir.File("walk_003.bmp"));
  EXPECT_EQ(ListDir(dir.path()).size(), 7u);
}

TEST(Cli, SameFilesAsTheEngineRunByTheWindow) {
  TempDir a, b;
  const auto bytes = gifgen::Encode(gifgen::Moving(33, 17, 4, /*localTables=*/true));
  gifgen::WriteFile(a.File("x.gif"), bytes);
  gifgen::WriteFile(b.File("x.gif"), bytes);
  ASSERT_EQ(Split("--transparent " + Quote(a.File("x.gif"))).status, 0);
  // What the preview window does on a split run with the same choices.
  SharedState state;
  state.SourcePath = b.File("x.gif");
  state.RunMode = 1;
  state.OutputFileType = 1;
  state.TransparentRun = -1;
  ApplySourceNames(state, state.SourcePath);
  platform::PictureBox display(DisplayBoxOptions()), master(MasterBoxOptions());
  platform::ListBox list;
  const sys::ScopedSleepHook noWaits([](std::int64_t) {});
  PrepareRunBoxes(state, display, master);
  clsGif24bit engine(master, state, &display, &list);
  ASSERT_TRUE(PerformRun(engine, state));
  ASSERT_EQ(ListDir(a.path()), ListDir(b.path()));
  for (const auto& f : ListDir(a.path())) EXPECT_EQ(ReadFile(a.File(f)), ReadFile(b.File(f))) << f;
}

TEST(Cli, ExitStatuses) {
  TempDir dir;
  const std::string bad = dir.File("bad.gif");
  WriteFile(bad, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'g', 'i', 'f'});
  Result r = Split(Quote(bad));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "velkor-split: " + bad +
                       ": cannot be split: bad signature (not a GIF file) (byte 0 of 9)\n");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"bad.gif"}));
  r = Split(Quote(dir.File("none.gif")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot be split: cannot read the file: No such file or directory"),
            std::string::npos)
      << r.err;

  const std::string src = dir.File("a.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(8, 8, 3)));
  fs::create_directory(dir.File("a_002.gif"));
  r = Split(Quote(src));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(dir.File("a_002.gif")), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.File("a_003.gif")));
  // Standard output names only the files that exist afterwards.
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{dir.File("a_001.gif"), dir.File("a_003.gif")}));

  // A frame of 32768 x 0 has no pixels to write: the file is refused whole,
  // in either output type.
  const std::string empty = dir.File("e.gif");
  WriteFile(empty, Cat({Header(1, 1, 0), Image(0, 0, 32768, 0, 0, 0), {0x3B}}));
  for (const char* type : {"--bmp ", "--gif "}) {
    r = Split(type + Quote(empty));
    EXPECT_EQ(r.status, 1) << type;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(": cannot be split: a frame has no pixels (byte 13 of "),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir.File("e_001.gif")) || fs::exists(dir.File("e_001.bmp")));
  }

  EXPECT_EQ(Split("").status, 64);
  EXPECT_EQ(Split("--nope x.gif").status, 64);
  EXPECT_EQ(Split("a.gif b.gif").status, 64);
  r = Split("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
}

TEST(Cli, EveryCorpusFileSplitsOrIsRefusedWithNothingWritten) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  TempDir tmp;
  for (const auto& f : files) {
    // Big or slow files are covered by the engine's corpus test.
    if (fs::file_size(f) > 200000) continue;
    TempDir dir;
    const std::string src = dir.File("c.gif");
    fs::copy_file(f, src);
    const Result r = Split("--bmp " + Quote(src));
    ASSERT_TRUE(r.status == 0 || r.status == 1) << f << ": " << r.err;
    const auto written = ListDir(dir.path());
    if (r.status == 1) {
      EXPECT_EQ(written, (std::vector<std::string>{"c.gif"})) << f;
    } else {
      EXPECT_EQ(written.size(), Lines(r.out).size() + 1) << f;
      EXPECT_GE(Lines(r.out).size(), 1u) << f;
    }
  }
}

TEST(Cli, EveryFileHoldsTheFrameShownAtItsTurn) {
  // Frames are written on threads of their own while later frames are drawn:
  // each file must still hold its own frame, in bitmap and in GIF output.
  constexpr int kW = 320, kH = 240, kFrames = 40;
  const auto anim = gifgen::Moving(kW, kH, kFrames);
  TempDir dir;
  const std::string src = dir.File("m.gif");
  gifgen::WriteFile(src, gifgen::Encode(anim));
  for (const bool bmp : {true, false}) {
    const Result r = Split((bmp ? "--bmp " : "") + Quote(src));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Lines(r.out).size(), std::size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "m_%03d.%s", k + 1, bmp ? "bmp" : "gif");
      auto pic = platform::LoadPicture(dir.File(name));
      ASSERT_TRUE(pic) << name;
      const auto& indices = anim.frames[std::size_t(k)].indices;
      for (int y = 0; y < kH; y += 3) {
        for (int x = 0; x < kW; ++x) {
          const gifgen::Rgb want = anim.globalTable[indices[std::size_t(y * kW + x)]];
          const gdi::COLORREF got = pic->Handle()->ColorAt(x, y);
          // GIF frames go through a 125-colour table: each channel lands
          // on the nearest of five levels, at most 32 away.
          const int tolerance = bmp ? 0 : 32;
          ASSERT_LE(std::abs(int(gdi::GetRValue(got)) - want.r), tolerance)
              << name << " " << x << "," << y;
          ASSERT_LE(std::abs(int(gdi::GetGValue(got)) - want.g), tolerance)
              << name << " " << x << "," << y;
          ASSERT_LE(std::abs(int(gdi::GetBValue(got)) - want.b), tolerance)
              << name << " " << x << "," << y;
        }
      }
    }
  }
}

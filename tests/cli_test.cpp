#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "tests/support/cli_run.h"
#include "tests/support/png_read.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"
#include "ui/viewers/run_options.h"

using namespace testutil;
namespace fs = std::filesystem;

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
  state.DecoderPath = state.SourcePath;
  state.RunMode = 1;
  state.OutputFileType = 1;
  state.TransparentRun = -1;
  ApplySourceNames(state, state.SourcePath);
  platform::PictureBox display(DisplayBoxOptions()), master(MasterBoxOptions());
  const sys::ScopedSleepHook noWaits([](std::int64_t) {});
  PrepareRunBoxes(state.DecoderPath, display, master);
  clsGif24bit engine(master, &display);
  engine.Options = RunOptionsOf(state);
  ASSERT_TRUE(PerformRun(engine, nullptr).Complete());
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
  EXPECT_EQ(r.err, "velkor-split: " + dir.File("a_002.gif") + ": cannot write: Is a directory\n");
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
  EXPECT_EQ(Split("-j0 a.gif b.gif").status, 64);
  EXPECT_EQ(Split("-0 a.gif").status, 64);
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

// ---------------------------------------------------------------- PNG frames and the frame table

namespace {

// An image descriptor at (l, t) of w x h on the global table, with its pixels.
Bytes Picture(int l, int t, int w, int h, const std::vector<std::uint8_t>& pixels) {
  return Cat(
      {{0x2C, std::uint8_t(l), 0, std::uint8_t(t), 0, std::uint8_t(w), 0, std::uint8_t(h), 0, 0},
       ImageData(pixels, 2)});
}

const Bytes kRgbk = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}});

std::string Out(const TempDir& dir, const std::string& base, int n, const char* ext) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "_%03d.%s", n, ext);
  return dir.File(base + buf);
}

}  // namespace

TEST(CliPng, TransparencyFollowsWhatTheFramesDrawAndTheClearingDisposal) {
  // A 4 x 1 screen, index 0 transparent in the frames that say so:
  //   1: [R R . .]          only what it draws is opaque
  //   2: at x 1, [. G]      adds x 2
  //   3: clears (disposal 2), draws B at x 3: everything else transparent again
  //   4: at x 0, [.]        draws nothing: the transparency stays
  TempDir dir;
  const Bytes gif = Cat({Header(4, 1, 0x81),
                         kRgbk,
                         Gce(0x01, 0, 0),
                         Picture(0, 0, 4, 1, {1, 1, 0, 0}),
                         Gce(0x01, 0, 0),
                         Picture(1, 0, 2, 1, {0, 2}),
                         Gce(0x08, 0, 0),
                         Picture(3, 0, 1, 1, {3}),
                         Gce(0x01, 0, 0),
                         Picture(0, 0, 1, 1, {0}),
                         {0x3B}});
  WriteFile(dir.File("t.gif"), gif);
  ASSERT_EQ(Split("--png " + Quote(dir.File("t.gif"))).status, 0);
  ASSERT_EQ(Split("--bmp " + Quote(dir.File("t.gif"))).status, 0);
  const std::vector<std::vector<int>> alpha = {
      {255, 255, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 255}, {0, 0, 0, 255}};
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const Png png = ReadPng(Out(dir, "t", n, "png"));
    auto bmp = platform::LoadPicture(Out(dir, "t", n, "bmp"));
    ASSERT_TRUE(bmp);
    ASSERT_EQ(png.width, 4);
    EXPECT_TRUE(png.colormap);
    for (int x = 0; x < 4; ++x) {
      const auto p = png.At(x, 0);
      EXPECT_EQ(p[3], alpha[std::size_t(n - 1)][std::size_t(x)]) << "x " << x;
      // Every pixel keeps the bitmap's colour, the transparent ones too.
      const gdi::COLORREF c = bmp->Handle()->ColorAt(x, 0);
      EXPECT_EQ(gdi::RGB(p[0], p[1], p[2]), c) << "x " << x;
    }
  }
  // A frame where every pixel is drawn carries no alpha.
  WriteFile(dir.File("o.gif"),
            Cat({Header(2, 1, 0x81), kRgbk, Picture(0, 0, 2, 1, {1, 2}), {0x3B}}));
  ASSERT_EQ(Split("--png " + Quote(dir.File("o.gif"))).status, 0);
  const Png opaque = ReadPng(Out(dir, "o", 1, "png"));
  EXPECT_TRUE(opaque.colormap);
  EXPECT_FALSE(opaque.alpha);
}

TEST(CliPng, EachFrameTakesTheSmallestExactForm) {
  // Frames on two local tables of 256 colours, composed into more than 256:
  //   1: the first table, 256 colours             indexed
  //   2: rows 8-14 from the second table over it  about 300 colours: RGB
  //   3: the same after a clear                   indexed, with tRNS
  //   4: 256 colours over rows 0-13 after a clear 257 with transparency: RGBA
  auto table = [](std::uint8_t g) {
    std::vector<gifgen::Rgb> t;
    for (int i = 0; i < 256; ++i) t.push_back({std::uint8_t(i), g, std::uint8_t(255 - i)});
    return t;
  };
  auto frame = [](int top, int height, std::vector<gifgen::Rgb> t, int modulo) {
    gifgen::Frame f;
    f.top = top;
    f.width = 20;
    f.height = height;
    f.localTable = std::move(t);
    for (int i = 0; i < 20 * height; ++i) f.indices.push_back(std::uint8_t(i % modulo));
    return f;
  };
  gifgen::Animation anim;
  anim.width = 20;
  anim.height = 15;
  anim.frames = {frame(0, 15, table(0), 256), frame(8, 7, table(200), 160),
                 frame(8, 7, table(200), 160), frame(0, 14, table(100), 256)};
  anim.frames[1].transparentIndex = 5;
  anim.frames[2].transparentIndex = 5;
  anim.frames[2].disposal = 2;
  anim.frames[3].disposal = 2;
  TempDir dir;
  const std::string src = dir.File("m.gif");
  gifgen::WriteFile(src, gifgen::Encode(anim));
  ASSERT_EQ(Split("--png " + Quote(src)).status, 0);
  ASSERT_EQ(Split("--bmp " + Quote(src)).status, 0);
  const bool colormap[] = {true, false, true, false}, alpha[] = {false, false, true, true};
  const int transparent[] = {0, 0, 8 * 20 + 1, 20};
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const Png png = ReadPng(Out(dir, "m", n, "png"));
    auto bmp = platform::LoadPicture(Out(dir, "m", n, "bmp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(png.colormap, colormap[n - 1]);
    EXPECT_EQ(png.alpha, alpha[n - 1]);
    int clear = 0;
    for (int y = 0; y < 15; ++y) {
      for (int x = 0; x < 20; ++x) {
        const auto p = png.At(x, y);
        ASSERT_EQ(gdi::RGB(p[0], p[1], p[2]), bmp->Handle()->ColorAt(x, y)) << x << "," << y;
        clear += p[3] == 0;
      }
    }
    EXPECT_EQ(clear, transparent[n - 1]);
  }
}

TEST(CliPng, FewColoursTakeTheFewestBitsPerPixel) {
  // The bit depth of an indexed PNG is the smallest that holds its colours:
  // two colours are one bit a pixel, three or four two bits.
  struct Case {
    int colours;
    int depth;
  };
  for (const Case c : {Case{2, 1}, Case{3, 2}, Case{4, 2}, Case{5, 4}, Case{17, 8}}) {
    SCOPED_TRACE(c.colours);
    gifgen::Animation anim;
    anim.width = 17;
    anim.height = 3;
    anim.globalTable = gifgen::RainbowTable();
    gifgen::Frame f;
    f.width = 17;
    f.height = 3;
    for (int i = 0; i < 17 * 3; ++i) f.indices.push_back(std::uint8_t(i % c.colours * 9));
    anim.frames = {f, f};
    TempDir dir;
    const std::string src = dir.File("c.gif");
    gifgen::WriteFile(src, gifgen::Encode(anim));
    ASSERT_EQ(Split("--png " + Quote(src)).status, 0);
    const Bytes png = ReadFile(Out(dir, "c", 1, "png"));
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[24], c.depth);  // IHDR: bit depth
    EXPECT_EQ(png[25], 3);        // indexed colour
  }
}

TEST(CliPng, StoredFramesAreEachFramesOwnPixelsAtItsOffset) {
  // Frame 2 is transparent at index 0 and lies at (1, 1); frame 3 is keyed
  // on a repaired colour: what the file stores is shown, not the repair.
  const Bytes table = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 0, 0}});
  const Bytes gif = Cat({Header(3, 3, 0x81),
                         table,
                         Picture(0, 0, 3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}),
                         Gce(0x01, 0, 3),
                         Picture(1, 1, 2, 2, {0, 2, 3, 3}),
                         Picture(0, 0, 2, 1, {3, 2}),
                         {0x3B}});
  TempDir dir;
  const std::string src = dir.File("s.gif");
  WriteFile(src, gif);
  const Result r = Split("--stored " + Quote(src));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Lines(r.out).size(), 3u);
  using Px = std::array<std::uint8_t, 4>;
  const Px clear{0, 0, 0, 0}, red{255, 0, 0, 255}, green{0, 255, 0, 255}, black{0, 0, 0, 255};
  const std::vector<std::vector<Px>> expected = {
      {red, red, red, red, red, red, red, red, red},
      {clear, clear, clear, clear, black, green, clear, clear, clear},
      {red, green, clear, clear, clear, clear, clear, clear, clear},
  };
  for (int n = 1; n <= 3; ++n) {
    const Png png = ReadPng(Out(dir, "s", n, "png"));
    ASSERT_EQ(png.width, 3);
    ASSERT_EQ(png.height, 3);
    for (int i = 0; i < 9; ++i) {
      Px p = png.At(i % 3, i / 3);
      if (p[3] == 0) p = clear;  // a transparent pixel's colour is no part of it
      EXPECT_EQ(p, expected[std::size_t(n - 1)][std::size_t(i)]) << "frame " << n << " pixel " << i;
    }
  }
}

TEST(CliOptions, FramesOutputFolderQuietAndTheirErrors) {
  TempDir dir;
  const std::string src = dir.File("a.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(8, 6, 12)));

  Result r =
      Split("--bmp --frames 1,4,9-10,12- -o " + Quote(dir.File("out/deep")) + " " + Quote(src));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> want;
  for (int n : {1, 4, 9, 10, 12}) want.push_back(Out(dir, "out/deep/a", n, "bmp"));
  EXPECT_EQ(Lines(r.out), want);
  EXPECT_EQ(ListDir(dir.path()),
            (std::vector<std::string>{"a.gif", "out"}));  // nothing beside the source
  EXPECT_EQ(ListDir(dir.File("out/deep")).size(), 5u);

  r = Split("-q --frames 3 " + Quote(src));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::exists(Out(dir, "a", 3, "gif")));
  EXPECT_FALSE(fs::exists(Out(dir, "a", 2, "gif")));

  // Lists that name no frame.
  for (const char* bad : {"0", "", "5-3", "a", "1,,2", "-4", "3-x", "1;2"}) {
    r = Split(std::string("--frames '") + bad + "' " + Quote(src));
    EXPECT_EQ(r.status, 64) << bad;
  }
  r = Split("--frames 13- " + Quote(src));
  EXPECT_EQ(r.status, 1);  // a list of no frame of this file, as among several
  EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("names no frame of " + src + ", which has 12 frames"), std::string::npos)
      << r.err;
  EXPECT_EQ(Split("--png --bmp " + Quote(src)).status, 64);
  EXPECT_EQ(Split("--info --png " + Quote(src)).status, 64);

  // A folder that cannot be made: nothing is written, exit status 2.
  WriteFile(dir.File("file"), Bytes{1});
  r = Split("-o " + Quote(dir.File("file/sub")) + " " + Quote(src));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot make the folder"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(CliOptions, AFolderThatCannotBeWrittenIsRefusedBeforeAnyFrame) {
  // Root may write anywhere: the splitter then runs as nobody.
  TempDir dir;
  const std::string src = dir.File("a.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(8, 6, 3)));
  fs::create_directory(dir.File("ro"));
  fs::permissions(dir.path(), fs::perms::all, fs::perm_options::add);  // nobody reaches the source
  fs::permissions(src, fs::perms::others_read, fs::perm_options::add);
  fs::permissions(dir.File("ro"), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  std::string prefix;
  if (::geteuid() == 0) {
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no setpriv";
    prefix = "TMPDIR=" + dir.path() + " setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  TempDir io;
  const std::string cmd = prefix + VELKOR_SPLIT + std::string(" -o ") + Quote(dir.File("ro")) +
                          " " + Quote(src) + " >" + io.File("out") + " 2>" + io.File("err");
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 2);
  const Bytes err = ReadFile(io.File("err"));
  EXPECT_NE(std::string(err.begin(), err.end()).find("cannot write there: Permission denied"),
            std::string::npos);
  EXPECT_TRUE(ListDir(dir.File("ro")).empty());
  fs::permissions(dir.File("ro"), fs::perms::owner_all);
}

TEST(CliOptions, EveryFrameIsWrittenWhenTheReaderGoesAway) {
  TempDir dir;
  const std::string src = dir.File("p.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(64, 48, 60)));
  for (const char* mode : {"--bmp", "--png", "--gif"}) {
    const std::string cmd = "bash -c '" + std::string(VELKOR_SPLIT) + " " + mode + " " + src +
                            " | head -2 >/dev/null; exit ${PIPESTATUS[0]}'";
    const int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc)) << mode;
    EXPECT_EQ(WEXITSTATUS(rc), 0) << mode;
    EXPECT_TRUE(fs::exists(Out(dir, "p", 60, mode + 2))) << mode;
  }
}

TEST(CliInfo, TheFrameTableUpToTheFailureAndItsReason) {
  TempDir dir;
  const Bytes image = Picture(0, 0, 2, 1, {1, 2});
  const Bytes loop = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                      'E',  '2',  '.', '0', 3,   1,   5,   0,   0};
  const Bytes comment = {0x21, 0xFE, 2, 'h', 'i', 0};
  Bytes laterLoop = loop;  // a second looping extension does not count
  laterLoop[16] = 9;
  Bytes gif = Cat({Header(2, 1, 0x81), kRgbk, loop, comment, laterLoop, Gce(0x09, 250, 3), image,
                   Gce(0x00, 7, 0), Picture(1, 0, 1, 1, {3})});
  gif.pop_back();  // the second image's data is cut short
  WriteFile(dir.File("i.gif"), gif);
  Result r = Split("--info " + Quote(dir.File("i.gif")));
  EXPECT_EQ(r.status, 1);
  const auto table = nlohmann::json::parse(r.out);
  EXPECT_EQ(table["splits"], false);
  EXPECT_EQ(table["loop_count"], 5);
  EXPECT_EQ(table["comments"], nlohmann::json::array({"hi"}));
  EXPECT_EQ(table["screen"]["global_table"], 4);
  ASSERT_EQ(table["frames"].size(), 1u);
  const auto& f = table["frames"][0];
  EXPECT_EQ(f["delay"], 250);
  EXPECT_EQ(f["wait_ms"], 101);
  EXPECT_EQ(f["disposal"], 2);
  EXPECT_EQ(f["transparent_index"], 3);
  EXPECT_EQ(f["width"], 2);
  EXPECT_EQ(table["error"]["reason"], "truncated-image-data");
  EXPECT_EQ(table["error"]["frame"], 2);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"i.gif"}));

  gif.push_back(0);
  gif.push_back(0x3B);
  WriteFile(dir.File("i.gif"), gif);
  r = Split("--info " + Quote(dir.File("i.gif")));
  EXPECT_EQ(r.status, 0);
  const auto whole = nlohmann::json::parse(r.out);
  EXPECT_EQ(whole["error"], nullptr);
  ASSERT_EQ(whole["frames"].size(), 2u);
  EXPECT_EQ(whole["frames"][1]["wait_ms"], 71);
  EXPECT_EQ(whole["frames"][1]["transparent_index"], nullptr);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"i.gif"}));
}

TEST(CliPng, ACorpusAnimationKeepsItsTransparentBackgroundUntilFramesDrawOnIt) {
  // Frame 1 covers the screen but for its transparent pixels; frames 2 to 4
  // clear the canvas first (Velkor clears before a frame of disposal 2), so
  // only what each of them draws is opaque. The model is giflib's decode:
  // opaque where a frame's index is not its transparent one.
  const std::string file =
      CorpusDir() + "/peterdn-gif-test-suite/animated_transparent_frame_restorebackground_loop.gif";
  if (CorpusDir().empty() || !fs::exists(file))
    GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  TempDir dir;
  fs::copy_file(file, dir.File("t.gif"));
  ASSERT_EQ(Split("--png " + Quote(dir.File("t.gif"))).status, 0);
  int err = 0;
  GifFileType* gif = DGifOpenFileName(dir.File("t.gif").c_str(), &err);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  const int w = gif->SWidth, h = gif->SHeight;
  std::vector<std::uint8_t> covered(std::size_t(w) * std::size_t(h), 0);
  int kept = 0, lost = 0;
  for (int k = 0; k < gif->ImageCount; ++k) {
    SCOPED_TRACE(k + 1);
    GraphicsControlBlock gcb;
    ASSERT_EQ(DGifSavedExtensionToGCB(gif, k, &gcb), GIF_OK);
    if (gcb.DisposalMode == DISPOSE_BACKGROUND) std::fill(covered.begin(), covered.end(), 0);
    const SavedImage& im = gif->SavedImages[k];
    const GifImageDesc& d = im.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
      for (int x = 0; x < d.Width; ++x) {
        const int index = im.RasterBits[y * d.Width + x];
        if (index != gcb.TransparentColor && d.Left + x < w && d.Top + y < h) {
          covered[std::size_t((d.Top + y) * w + d.Left + x)] = 1;
        }
      }
    }
    const Png png = ReadPng(Out(dir, "t", k + 1, "png"));
    ASSERT_EQ(png.width, w);
    ASSERT_EQ(png.height, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const bool opaque = png.At(x, y)[3] != 0;
        ASSERT_EQ(opaque, covered[std::size_t(y * w + x)] != 0) << x << "," << y;
        kept += !opaque && k == 0;
        lost += opaque && k > 0;
      }
    }
  }
  DGifCloseFile(gif, &err);
  EXPECT_GT(kept, 0);  // the background shows through frame 1
  EXPECT_GT(lost, 0);  // and the later frames draw on it
}

TEST(CliFaults, AFrameFileIsCompleteOrAbsentWithItsReason) {
  // Past the file-size limit (64 KiB) every write fails as on a full disk: no
  // frame may be left cut short or empty at its name, nor a piece beside it.
  // Bitmaps of 300 x 100 noise are over it; GIF and PNG frames of it may fit.
  TempDir dir;
  const std::string src = dir.File("big.gif");
  gifgen::Animation noise = gifgen::Moving(300, 100, 3);
  noise.globalTable = gifgen::RainbowTable();
  std::uint32_t seed = 1;
  for (auto& frame : noise.frames) {
    for (auto& index : frame.indices)
      index = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  }
  gifgen::WriteFile(src, gifgen::Encode(noise));
  int missing = 0;
  for (const char* mode : {"--bmp", "--gif", "--png", "--stored"}) {
    SCOPED_TRACE(mode);
    const Result r = Split(std::string(mode) + " " + Quote(src), "prlimit --fsize=65536 ");
    const std::string ext = std::string(mode) == "--bmp"   ? ".bmp"
                            : std::string(mode) == "--gif" ? ".gif"
                                                           : ".png";
    bool failed = false;
    for (int n = 1; n <= 3; ++n) {
      const std::string frame = dir.File("big_00" + std::to_string(n) + ext);
      if (fs::exists(frame)) {
        EXPECT_NE(r.out.find(frame), std::string::npos) << frame;
        EXPECT_LE(fs::file_size(frame), 65536u);
      } else {
        failed = true;
        ++missing;
        EXPECT_NE(r.err.find("velkor-split: " + frame + ": cannot write: File too large\n"),
                  std::string::npos)
            << r.err;
      }
    }
    EXPECT_EQ(r.status, failed ? 2 : 0);
    for (const auto& f : ListDir(dir.path())) {
      EXPECT_TRUE(f == "big.gif" || f.rfind("big_00", 0) == 0) << "left behind: " << f;
      if (f != "big.gif") fs::remove(dir.File(f));
    }
  }
  EXPECT_GE(missing, 3);  // at least the bitmaps
}

TEST(CliFaults, WhatIsNotARegularFileIsRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir.File("f.gif");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const char* args : {"", "--info ", "--bmp "}) {
    // A writer that never comes would hold the run for ever: the timeout
    // stands for "never".
    const Result r = Split(std::string(args) + Quote(fifo), "timeout 5 ");
    EXPECT_EQ(r.status, 1) << args;
    // The reason: on standard error, or in the table.
    EXPECT_NE((r.err + r.out).find("not a regular file"), std::string::npos) << r.err;
  }
  const Result r = Split("/dev/zero");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "velkor-split: /dev/zero: cannot be split: not a regular file\n");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"f.gif"}));
}

TEST(CliFaults, ATableThatDoesNotReachItsReaderIsAnError) {
  TempDir dir;
  const std::string src = dir.File("a.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(8, 8, 3)));
  for (const char* out : {">/dev/full", ">&-"}) {  // a full disk, a closed standard output
    const std::string cmd =
        std::string(VELKOR_SPLIT) + " --info " + Quote(src) + " " + out + " 2>" + dir.File("err");
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 2) << out;
    const Bytes err = ReadFile(dir.File("err"));
    EXPECT_NE(std::string(err.begin(), err.end()).find("cannot write the frame table: "),
              std::string::npos)
        << out;
  }
}

TEST(CliFaults, AnOutputFolderThatCannotBeMadeLeavesNothingBehind) {
  TempDir dir;
  const std::string src = dir.File("a.gif");
  gifgen::WriteFile(src, gifgen::Encode(gifgen::Moving(8, 8, 3)));
  const std::string tooLong = dir.File("p1/p2/" + std::string(300, 'x'));
  const Result r = Split("-o " + Quote(tooLong) + " " + Quote(src));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("File name too long"), std::string::npos) << r.err;
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"a.gif"}));
}

TEST(CliFaults, AFrameNameLeadingToTheSourceIsRefusedForThatFrame) {
  TempDir dir;
  const std::string src = dir.File("a.gif");
  const Bytes original = gifgen::Encode(gifgen::Moving(8, 8, 3));
  gifgen::WriteFile(src, original);
  for (const bool hard : {true, false}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    const std::string second = dir.File("a_002.gif");
    if (hard) {
      fs::create_hard_link(src, second);
    } else {
      fs::create_symlink(src, second);
    }
    const Result r = Split(Quote(src));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "velkor-split: " + second +
                         ": cannot write: it would replace the file being split\n");
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{dir.File("a_001.gif"), dir.File("a_003.gif")}));
    EXPECT_EQ(ReadFile(src), original);
    EXPECT_EQ(ReadFile(second), original);  // the link is left as it was
    fs::remove(second);
  }
}

namespace {

// A file of its own bytes, read whole ("" when missing).
std::string Text(const std::string& path) {
  const Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

// The frame files `listing` names, read whole, in order.
std::vector<Bytes> FilesListed(const std::string& listing) {
  std::vector<Bytes> out;
  for (const auto& line : Lines(listing)) out.push_back(ReadFile(line));
  return out;
}

}  // namespace

TEST(CliBatch, SeveralFilesListedInTheirOrderWhateverTheJobsARefusedOneStopsNone) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    const std::string f = dir.File("f" + std::to_string(i) + ".gif");
    if (i == 2) {
      WriteFile(f, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'G', 'I', 'F'});
    } else {
      // Sizes and frame counts that differ, so the runs end out of order.
      gifgen::WriteFile(f, gifgen::Encode(gifgen::Moving(120 - 15 * i, 40 + i, 8 - i, i % 2 == 1)));
    }
    files.push_back(Quote(f));
  }
  std::string all;
  for (const auto& f : files) all += " " + f;
  const Result one = Split("--bmp -j1" + all);
  const std::vector<Bytes> frames = FilesListed(one.out);
  const Result many = Split("--bmp -j4" + all);
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.out, one.out);
  EXPECT_EQ(many.err, one.err);
  EXPECT_EQ(FilesListed(many.out), frames);
  // Every good file's frames, in the order of the arguments, and the same
  // bytes as a run of that file alone.
  std::vector<std::string> expected;
  for (int i = 0; i < 6; ++i) {
    for (int n = 1; i != 2 && n <= 8 - i; ++n) {
      expected.push_back(Out(dir, "f" + std::to_string(i), n, "bmp"));
    }
  }
  EXPECT_EQ(Lines(many.out), expected);
  const Result alone = Split("--bmp " + files[3]);
  const auto fromAll = FilesListed(many.out);
  EXPECT_EQ(FilesListed(alone.out),
            std::vector<Bytes>(fromAll.begin() + 8 + 7 + 0, fromAll.begin() + 8 + 7 + 5));
  const auto err = Lines(many.err);
  ASSERT_EQ(err.size(), 2u) << many.err;
  EXPECT_NE(err[0].find(dir.File("f2.gif") + ": cannot be split: "), std::string::npos);
  EXPECT_EQ(err[1], "velkor-split: 6 files: 5 split, 1 refused; 27 frames written, 0 not written");

  // A reader that goes away takes no frame with it.
  const std::string cmd = "bash -c '" + std::string(VELKOR_SPLIT) + " -q -j3 --png" + all +
                          " 2>/dev/null; " + VELKOR_SPLIT + " -j3 --png" + all +
                          " 2>/dev/null | head -1 >/dev/null; exit ${PIPESTATUS[0]}'";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_TRUE(fs::exists(Out(dir, "f5", 3, "png")));
}

TEST(CliBatch, NamesTwoFilesWouldShareAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const auto gif = gifgen::Encode(gifgen::Moving(20, 10, 2));
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  gifgen::WriteFile(dir.File("a/x.gif"), gif);
  gifgen::WriteFile(dir.File("b/x.gif"), gif);
  gifgen::WriteFile(dir.File("a/x.old.gif"), gif);
  gifgen::WriteFile(dir.File("a/x_001.gif"), gif);
  const std::string out = dir.File("out");
  Result r = Split("-o " + Quote(out) + " " + Quote(dir.File("a/x.gif")) + " " +
                   Quote(dir.File("b/x.gif")));
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find(dir.File("a/x.gif") + " and " + dir.File("b/x.gif") +
                       " would both write x_NNN.gif into " + out),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(out));
  // Beside their sources: one folder, one name up to the first dot.
  r = Split(Quote(dir.File("a/x.gif")) + " " + Quote(dir.File("a/x.old.gif")));
  EXPECT_EQ(r.status, 64);
  // The same file twice.
  r = Split(Quote(dir.File("b/x.gif")) + " " + Quote(dir.File("b/x.gif")));
  EXPECT_EQ(r.status, 64);
  // A frame of one would replace another file of the run.
  r = Split(Quote(dir.File("a/x_001.gif")) + " " + Quote(dir.File("a/x.gif")));
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("would replace " + dir.File("a/x_001.gif")), std::string::npos) << r.err;
  // With --bmp the names differ.
  EXPECT_EQ(
      Split("--bmp -q " + Quote(dir.File("a/x_001.gif")) + " " + Quote(dir.File("a/x.gif"))).status,
      0);
  EXPECT_EQ(ListDir(dir.File("b")), (std::vector<std::string>{"x.gif"}));
  // A name with "_" and no extension after it is no frame name.
  TempDir other;
  gifgen::WriteFile(other.File("y.gif"), gif);
  gifgen::WriteFile(other.File("y_z"), gif);
  EXPECT_EQ(Split("-q " + Quote(other.File("y.gif")) + " " + Quote(other.File("y_z"))).status, 0);
}

TEST(CliBatch, FoldersWithRecursionTheTreeKeptAndListsFromStandardInput) {
  TempDir dir;
  const auto gif = gifgen::Encode(gifgen::Moving(20, 10, 2));
  const std::string root = dir.File("in");
  fs::create_directories(root + "/sub/deeper");
  gifgen::WriteFile(root + "/b.GIF", gif);
  gifgen::WriteFile(root + "/a.gif", gif);
  gifgen::WriteFile(root + "/sub/c.gif", gif);
  gifgen::WriteFile(root + "/sub/deeper/d.gif", gif);
  WriteFile(root + "/notes.txt", Bytes{'x'});
  fs::create_symlink(root + "/a.gif", root + "/sub/link.gif");
  fs::create_directory_symlink(root + "/sub", root + "/loop");

  Result r = Split("-q " + Quote(root));
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("-r"), std::string::npos);
  EXPECT_EQ(Split("--keep-tree " + Quote(root)).status, 64);

  const std::string out = dir.File("out");
  r = Split("-r --keep-tree -o " + Quote(out) + " " + Quote(root));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{
                              out + "/a_001.gif", out + "/a_002.gif", out + "/b_001.gif",
                              out + "/b_002.gif", out + "/sub/c_001.gif", out + "/sub/c_002.gif",
                              out + "/sub/deeper/d_001.gif", out + "/sub/deeper/d_002.gif"}));
  EXPECT_NE(r.err.find("4 files: 4 split, 0 refused; 8 frames written"), std::string::npos);

  // Names from standard input, NUL-separated, after the FILE arguments.
  const std::string list = dir.File("list");
  const std::string cmd = "printf '%s\\0%s\\0' " + Quote(root + "/sub/c.gif") + " " +
                          Quote(root + "/a.gif") + " | " + VELKOR_SPLIT + " --bmp --from - -0 " +
                          Quote(root + "/b.GIF") + " >" + list + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(Lines(Text(list)),
            (std::vector<std::string>{root + "/b_001.bmp", root + "/b_002.bmp",
                                      root + "/sub/c_001.bmp", root + "/sub/c_002.bmp",
                                      root + "/a_001.bmp", root + "/a_002.bmp"}));
  // One per line from a file; a list that cannot be read is a usage error.
  const std::string line = root + "/sub/deeper/d.gif\r\n\n";
  WriteFile(list, Bytes(line.begin(), line.end()));
  r = Split("--png --from " + Quote(list));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).back(), root + "/sub/deeper/d_002.png");
  EXPECT_EQ(Split("--from " + Quote(dir.File("none"))).status, 64);
}

TEST(CliBatch, InfoGivesOneTablePerLineInTheOrderOfTheFiles) {
  TempDir dir;
  gifgen::WriteFile(dir.File("a.gif"), gifgen::Encode(gifgen::Moving(20, 10, 2)));
  WriteFile(dir.File("b.gif"), Bytes{'G', 'I', 'F', '8', '9', 'a'});
  gifgen::WriteFile(dir.File("c.gif"), gifgen::Encode(gifgen::Moving(30, 10, 5)));
  const Result r = Split("--info -j3 " + Quote(dir.File("a.gif")) + " " + Quote(dir.File("b.gif")) +
                         " " + Quote(dir.File("c.gif")));
  EXPECT_EQ(r.status, 1);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  std::vector<std::size_t> frames;
  for (const auto& l : lines) frames.push_back(nlohmann::json::parse(l)["frames"].size());
  EXPECT_EQ(frames, (std::vector<std::size_t>{2, 0, 5}));
  EXPECT_EQ(nlohmann::json::parse(lines[1])["splits"], false);
  EXPECT_EQ(Lines(r.err).back(), "velkor-split: 3 files: 2 can be split, 1 refused");
}

TEST(CliSalvage, ADamagedFileGivesTheFramesBeforeTheDamageAndExitsThree) {
  TempDir dir;
  const auto whole = gifgen::Encode(gifgen::Moving(40, 30, 6, /*localTables=*/true));
  WriteFile(dir.File("w.gif"), whole);
  const Result all = Split("--bmp " + Quote(dir.File("w.gif")));
  ASSERT_EQ(all.status, 0);
  const auto frames = FilesListed(all.out);
  const auto table = nlohmann::json::parse(Split("--info " + Quote(dir.File("w.gif"))).out);
  // Cut inside each frame from the second on: frames before it, exactly.
  for (std::size_t k = 1; k < frames.size(); ++k) {
    const std::size_t at = std::size_t(table["frames"][k]["offset"]) + 30;
    WriteFile(dir.File("cut.gif"), Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(at)));
    EXPECT_EQ(Split("--bmp " + Quote(dir.File("cut.gif"))).status, 1);
    const Result r = Split("--bmp --salvage " + Quote(dir.File("cut.gif")));
    EXPECT_EQ(r.status, 3) << r.err;
    const auto got = FilesListed(r.out);
    ASSERT_EQ(got.size(), k);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), frames.begin())) << k;
    EXPECT_FALSE(fs::exists(Out(dir, "cut", int(k) + 1, "bmp")));
    EXPECT_NE(r.err.find(": damaged: " +
                         (k == 1 ? std::string("frame 1") : "frames 1 to " + std::to_string(k)) +
                         " written: truncated in the "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(", frame " + std::to_string(k + 1) + ")"), std::string::npos) << r.err;
    for (std::size_t n = 1; n <= k; ++n) fs::remove(Out(dir, "cut", int(n), "bmp"));
  }
  // Cut in the first frame: nothing whole, nothing written.
  WriteFile(dir.File("cut.gif"), Bytes(whole.begin(), whole.begin() + 200));
  EXPECT_EQ(Split("--salvage " + Quote(dir.File("cut.gif"))).status, 1);
  EXPECT_EQ(ListDir(dir.path()).size(), 8u);  // w.gif, its 6 frames, cut.gif

  // Image data that cannot be decoded (an LZW code size of 15) in frame 4.
  Bytes bad = whole;
  std::size_t p = std::size_t(table["frames"][3]["offset"]);
  while (bad[p] == 0x21) {  // the extensions before the image, then its descriptor
    for (p += 2; bad[p] != 0; p += bad[p] + 1u) {
    }
    ++p;
  }
  ASSERT_EQ(bad[p], 0x2C);
  const std::uint8_t flags = bad[p + 9];
  p += 10 + ((flags & 0x80) ? 3u << ((flags & 7) + 1) : 0);
  bad[p] = 15;
  WriteFile(dir.File("bad.gif"), bad);
  const Result r = Split("--bmp --salvage " + Quote(dir.File("bad.gif")));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(FilesListed(r.out), std::vector<Bytes>(frames.begin(), frames.begin() + 3));
  EXPECT_NE(r.err.find("the frame cannot be decoded"), std::string::npos) << r.err;
}

TEST(CliSalvage, RepairsALostFrameWouldMakeToTheGlobalTableAreNotMade) {
  // Entries 1 and 3 are both red. Frame 2 makes entry 3 transparent, so the
  // whole file repairs entry 3 to another colour, which frame 1 shows too.
  // Cut in frame 2, that repair is never read: frame 1 is that of the file
  // ending after frame 1.
  TempDir dir;
  const Bytes table = Table({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 0, 0}});
  const Bytes first = Picture(0, 0, 2, 1, {3, 2});
  const Bytes head = Cat({Header(2, 1, 0x81), table, first});
  const Bytes whole = Cat({head, Gce(0x01, 0, 3), Picture(0, 0, 2, 1, {1, 1}), {0x3B}});
  WriteFile(dir.File("whole.gif"), whole);
  WriteFile(dir.File("short.gif"), Cat({head, {0x3B}}));
  WriteFile(dir.File("cut.gif"), Bytes(whole.begin(), whole.end() - 4));
  const Result w = Split("--bmp -q " + Quote(dir.File("whole.gif")));
  const Result s = Split("--bmp -q " + Quote(dir.File("short.gif")));
  const Result c = Split("--bmp -q --salvage " + Quote(dir.File("cut.gif")));
  ASSERT_EQ(w.status, 0);
  ASSERT_EQ(s.status, 0);
  ASSERT_EQ(c.status, 3) << c.err;
  EXPECT_EQ(ReadFile(Out(dir, "cut", 1, "bmp")), ReadFile(Out(dir, "short", 1, "bmp")));
  EXPECT_NE(ReadFile(Out(dir, "cut", 1, "bmp")), ReadFile(Out(dir, "whole", 1, "bmp")));
  EXPECT_FALSE(fs::exists(Out(dir, "cut", 2, "bmp")));
}

TEST(CliSalvage, CutCorpusFilesGiveTheFramesOfTheFileEndingBeforeTheDamage) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  int tried = 0;
  for (const auto& f : files) {
    if (fs::file_size(f) < 2000 || fs::file_size(f) > 100000) continue;
    const Bytes whole = ReadFile(f);
    TempDir dir;
    WriteFile(dir.File("w.gif"), whole);
    const auto table = nlohmann::json::parse(Split("--info " + Quote(dir.File("w.gif"))).out);
    if (table["splits"] != true || table["frames"].size() < 4) continue;
    ++tried;
    const auto wholeFrames = FilesListed(Split("--bmp " + Quote(dir.File("w.gif"))).out);
    for (double share : {0.35, 0.7, 0.95}) {
      const std::size_t at = std::size_t(double(whole.size()) * share);
      WriteFile(dir.File("cut.gif"), Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(at)));
      const Result r = Split("--bmp --salvage " + Quote(dir.File("cut.gif")));
      const auto cutTable =
          nlohmann::json::parse(Split("--info " + Quote(dir.File("cut.gif"))).out);
      const std::size_t kept = cutTable["frames"].size();
      if (kept == 0) {
        EXPECT_EQ(r.status, 1) << f;
        continue;
      }
      ASSERT_EQ(r.status, 3) << f << " at " << at << ": " << r.err;
      ASSERT_EQ(Lines(r.out).size(), kept) << f;
      // The oracle: the same bytes up to the frame the damage is in, and a trailer.
      const std::size_t end = std::size_t(table["frames"][kept]["offset"]);
      Bytes clean(whole.begin(), whole.begin() + std::ptrdiff_t(end));
      clean.push_back(0x3B);
      WriteFile(dir.File("clean.gif"), clean);
      const Result c = Split("--bmp " + Quote(dir.File("clean.gif")));
      ASSERT_EQ(c.status, 0) << f;
      EXPECT_EQ(FilesListed(r.out), FilesListed(c.out)) << f << " at " << at;
      EXPECT_FALSE(fs::exists(Out(dir, "cut", int(kept) + 1, "bmp")));
      // Where no lost frame is transparent, none would have repaired the
      // global table: the frames are the whole file's.
      bool repairs = false;
      for (std::size_t k = kept; k < table["frames"].size(); ++k) {
        repairs = repairs || !table["frames"][k]["transparent_index"].is_null();
      }
      if (!repairs) {
        EXPECT_TRUE(std::equal(wholeFrames.begin(), wholeFrames.begin() + std::ptrdiff_t(kept),
                               FilesListed(r.out).begin()))
            << f << " at " << at;
      }
      for (const auto& l : Lines(r.out)) fs::remove(l);
      for (const auto& l : Lines(c.out)) fs::remove(l);
    }
  }
  EXPECT_GT(tried, 0);
}

TEST(CliBatch, TheExitStatusSaysTheWorstThatHappened) {
  TempDir dir;
  const auto gif = gifgen::Encode(gifgen::Moving(20, 10, 3));
  gifgen::WriteFile(dir.File("good.gif"), gif);
  gifgen::WriteFile(dir.File("cut.gif"), Bytes(gif.begin(), gif.end() - 3));
  WriteFile(dir.File("no.gif"), Bytes{'x'});
  gifgen::WriteFile(dir.File("held.gif"), gif);
  fs::create_directory(dir.File("held_002.gif"));  // a folder where a frame goes
  const std::string good = Quote(dir.File("good.gif")), cut = Quote(dir.File("cut.gif")),
                    no = Quote(dir.File("no.gif")), held = Quote(dir.File("held.gif"));
  EXPECT_EQ(Split("-q " + good + " " + no).status, 1);
  EXPECT_EQ(Split("-q --salvage " + no + " " + cut + " " + good).status, 3);
  EXPECT_EQ(Split("-q " + cut + " " + good).status, 1);
  const Result r = Split("--salvage " + held + " " + cut + " " + no);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("3 files: 0 split, 1 incomplete, 1 damaged, 1 refused; 4 frames written, 1 "
                       "not written"),
            std::string::npos)
      << r.err;
}

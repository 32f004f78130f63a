// velkor-split misused, starved or failing: every outcome said as it is, and
// nothing lost that was there before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tests/support/cli_run.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

// Runs a whole bash command line; standard error is kept, standard output
// goes where the command line sends it.
Result Shell(const std::string& command) {
  TempDir io;
  WriteFile(io.File("run.sh"), Bytes(command.begin(), command.end()));
  const int rc =
      std::system(("bash " + io.File("run.sh") + " 2>" + io.File("err") + " </dev/null").c_str());
  Result r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  const Bytes e = ReadFile(io.File("err"));
  r.err.assign(e.begin(), e.end());
  return r;
}

std::string Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos ? ""
                                                    : "\"" + needle + "\" not in:\n" + haystack;
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

}  // namespace

TEST(CliMisuse, AnEmptyFileNameIsAMissingFile) {
  TempDir dir;
  const std::string a = dir.File("a.gif");
  gifgen::WriteFile(a, gifgen::Encode(gifgen::Moving(8, 8, 2)));
  Result r = Split("''");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "velkor-split: \"\": cannot be split: cannot read the file: No such file or directory\n");
  r = Split("'' " + Quote(a) + " -o " + Quote(dir.File("o")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err).back(),
            "velkor-split: 2 files: 1 split, 1 refused; 2 frames written, 0 not written");
  r = Split("--info ''");
  EXPECT_EQ(r.status, 1);
  const auto table = nlohmann::json::parse(r.out);
  EXPECT_EQ(table["splits"], false);
  EXPECT_EQ(table["error"]["reason"], "cannot-read");
}

TEST(CliMisuse, TheSystemsFailuresAreNeverBlamedOnTheFile) {
  TempDir dir;
  const std::string a = dir.File("a.gif");
  gifgen::WriteFile(a, gifgen::Encode(gifgen::Moving(8, 8, 2)));
  // No temporary folder: named, with the reason, and exit status 2.
  Result r = Split(Quote(a), "TMPDIR=" + dir.File("none") + " ");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "velkor-split: " + a + ": failed: temporary file cannot be made in " +
                       dir.File("none") + "/: No such file or directory (frame 1)\n");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"a.gif"}));

  // Too few file descriptors for three runs at once. The undefined-behaviour
  // sanitizer probes memory through a pipe of its own, so with no descriptor
  // left it reports objects that are sound as invalid and ends the run.
  if (Sanitized()) GTEST_SKIP() << "the sanitizers need file descriptors of their own";
  std::string files;
  for (int i = 0; i < 40; ++i) {
    fs::copy_file(a, dir.File("f" + std::to_string(i) + ".gif"));
    files += " " + Quote(dir.File("f" + std::to_string(i) + ".gif"));
  }
  r = Split("-j3 -q --bmp -o " + Quote(dir.File("o")) + files, "prlimit --nofile=7 ");
  EXPECT_EQ(r.status, 2) << r.err;
  for (const auto& line : Lines(r.err)) {
    if (line.find(": 40 files: ") != std::string::npos) continue;
    // A file that could not be split, or a frame that could not be written,
    // each for the system's reason.
    EXPECT_EQ(line.find("cannot be split"), std::string::npos) << line;
    EXPECT_EQ(Contains(line, "Too many open files"), "");
  }

  // Memory running out, wherever it does: never "cannot be split", never
  // damage, always exit status 2.
  if (Sanitized()) GTEST_SKIP() << "an address-space limit stops the sanitizers themselves";
  gifgen::Animation big;
  big.width = big.height = 1000;
  big.globalTable = gifgen::RainbowTable();
  for (int k = 0; k < 60; ++k) {
    gifgen::Frame f;
    f.width = f.height = 1000;
    f.indices.assign(1000 * 1000, std::uint8_t(k));
    big.frames.push_back(std::move(f));
  }
  gifgen::WriteFile(dir.File("big.gif"), gifgen::Encode(big));
  int starved = 0;
  for (int limit : {50000, 70000, 90000, 110000}) {
    fs::remove_all(dir.File("o"));
    r = Split("--salvage --bmp -q -o " + Quote(dir.File("o")) + " " + Quote(dir.File("big.gif")),
              "prlimit --as=" + std::to_string(limit * 1024) + " ");
    if (r.status == 0) continue;
    ++starved;
    EXPECT_EQ(r.status, 2) << limit << r.err;
    EXPECT_EQ(Contains(r.err, "out of memory"), "") << limit;
    EXPECT_EQ(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("cannot be split"), std::string::npos) << r.err;
  }
  EXPECT_GT(starved, 0);
}

TEST(CliMisuse, AListingThatCannotBeWrittenIsAnError) {
  TempDir dir;
  const std::string a = dir.File("a.gif");
  gifgen::WriteFile(a, gifgen::Encode(gifgen::Moving(8, 8, 3)));
  const std::string split = std::string(VELKOR_SPLIT) + " -o " + Quote(dir.File("o")) + " ";
  Result r = Shell(split + Quote(a) + " >/dev/full");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "velkor-split: cannot write the list of files: No space left on device\n");
  EXPECT_EQ(ListDir(dir.File("o")).size(), 3u);  // the frames are written all the same
  // A reader that goes away is no error: the frames are the point.
  for (const std::string& args :
       {Quote(a), "-j1 -q " + Quote(a) + " " + Quote(dir.File("b.gif"))}) {
    fs::copy_file(a, dir.File("b.gif"), fs::copy_options::overwrite_existing);
    r = Shell("set -o pipefail; " + split + args + " | head -c0");
    EXPECT_EQ(r.status, 0) << args << r.err;
  }
}

TEST(CliMisuse, AFileIsSplitOnlyWhenEveryFrameAskedForWasWritten) {
  TempDir dir;
  gifgen::WriteFile(dir.File("big1.gif"), gifgen::Encode(gifgen::Moving(200, 100, 3)));
  gifgen::WriteFile(dir.File("big2.gif"), gifgen::Encode(gifgen::Moving(200, 100, 4)));
  gifgen::WriteFile(dir.File("tiny.gif"), gifgen::Encode(gifgen::Moving(4, 4, 2)));
  // A frame of an earlier run stands at the first name.
  WriteFile(dir.File("big1_001.bmp"), Bytes{'o', 'l', 'd'});
  // Bitmaps of 200 x 100 cannot be written past 16 KiB; those of 4 x 4 can.
  const Result r = Split("--bmp " + Quote(dir.File("big1.gif")) + " " +
                             Quote(dir.File("big2.gif")) + " " + Quote(dir.File("tiny.gif")),
                         "prlimit --fsize=16384 ");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Lines(r.err).back(),
            "velkor-split: 3 files: 1 split, 2 incomplete, 0 refused; 2 frames written, 7 not "
            "written");
  // The earlier frame is kept until a new one is written whole.
  EXPECT_EQ(ReadFile(dir.File("big1_001.bmp")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(Contains(r.err, dir.File("big1_001.bmp") + ": cannot write: File too large"), "");
  for (const auto& f : ListDir(dir.path())) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
}

TEST(CliMisuse, AFolderTheWalkCannotReadIsNamedAndTheRestIsSplit) {
  TempDir dir;
  const std::string root = dir.File("tree");
  fs::create_directories(root + "/z");
  gifgen::WriteFile(root + "/a.gif", gifgen::Encode(gifgen::Moving(8, 8, 2)));
  gifgen::WriteFile(root + "/z/b.gif", gifgen::Encode(gifgen::Moving(8, 8, 2)));
  // Folders nested past the longest path the system takes: no permission
  // stops root's walk, this does.
  std::string deep = "cd " + Quote(root);
  const std::string name(250, 'd');
  for (int i = 0; i < 20; ++i) deep += " && mkdir " + name + " && cd " + name;
  ASSERT_EQ(Shell(deep).status, 0);
  const Result r = Split("-r -o " + Quote(dir.File("o")) + " " + Quote(root));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Contains(r.err, "File name too long"), "");
  EXPECT_EQ(Lines(r.out).size(), 4u) << r.out;
  EXPECT_EQ(Lines(r.err).back(),
            "velkor-split: 2 files: 2 split, 0 refused; 4 frames written, 0 not written");
  EXPECT_EQ(std::system(("rm -rf " + Quote(root)).c_str()), 0);
}

TEST(CliMisuse, WithOneJobEachFilesListingComesAsSoonAsItIsDone) {
  TempDir dir;
  gifgen::WriteFile(dir.File("quick.gif"), gifgen::Encode(gifgen::Moving(8, 8, 2)));
  // Played in real time: four waits of half a second.
  auto slow = gifgen::Moving(8, 8, 4);
  for (auto& f : slow.frames) f.delay = 50;
  gifgen::WriteFile(dir.File("slow.gif"), gifgen::Encode(slow));
  const std::string cmd = std::string(VELKOR_SPLIT) + " -j1 --realtime -o " + Quote(dir.File("o")) +
                          " " + Quote(dir.File("quick.gif")) + " " + Quote(dir.File("slow.gif")) +
                          " 2>/dev/null";
  const auto start = std::chrono::steady_clock::now();
  std::FILE* out = ::popen(cmd.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::vector<double> at;
  char line[4096];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    at.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const double end =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(::pclose(out), 0);
  ASSERT_EQ(at.size(), 6u);
  // quick.gif's two frames, long before the run ends.
  EXPECT_LT(at[1], end - 1.0) << at[1] << " of " << end;
}

TEST(CliMisuse, UnderSalvageAStreamWithoutItsTrailerIsDamaged) {
  TempDir dir;
  const auto whole = gifgen::Encode(gifgen::Moving(20, 10, 3));
  ASSERT_EQ(whole.back(), 0x3B);
  const Bytes body(whole.begin(), whole.end() - 1);
  // Without its trailer; cut after a stray byte; cut after an unknown
  // extension's label: every frame is there, and something was lost.
  const std::vector<Bytes> cuts = {body, Cat({body, {0x00, 0x00}}), Cat({body, {0x21, 0x99}})};
  for (std::size_t c = 0; c < cuts.size(); ++c) {
    WriteFile(dir.File("cut.gif"), cuts[c]);
    Result r = Split("--salvage -q " + Quote(dir.File("cut.gif")));
    EXPECT_EQ(r.status, 3) << c << r.err;
    EXPECT_EQ(Contains(r.err, ": damaged: frames 1 to 3 written: "), "") << c;
    EXPECT_EQ(ListDir(dir.path()).size(), 4u) << c;
    // Without --salvage the walk is as it always was.
    r = Split("-q " + Quote(dir.File("cut.gif")));
    EXPECT_EQ(r.status, c == 0 ? 1 : 0) << c << r.err;
    for (int n = 1; n <= 3; ++n) fs::remove(dir.File("cut_00" + std::to_string(n) + ".gif"));
  }
  // Damage in the first frame's image data leaves nothing whole to keep.
  Bytes bad = whole;
  std::size_t p = 13 + 3 * 256;
  while (bad[p] == 0x21) {
    for (p += 2; bad[p] != 0; p += bad[p] + 1u) {
    }
    ++p;
  }
  ASSERT_EQ(bad[p], 0x2C);
  bad[p + 10] = 15;  // an LZW code size no decoder takes
  WriteFile(dir.File("bad.gif"), bad);
  const Result r = Split("--salvage " + Quote(dir.File("bad.gif")));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Contains(r.err, ": cannot be split: "), "");
}

TEST(CliMisuse, FilesAreComparedWhereTheyReallyLieThroughLinkedFolders) {
  TempDir dir;
  const std::string in = dir.File("in"), alias = dir.File("alias");
  fs::create_directory(in);
  fs::create_directory_symlink(in, alias);
  const auto a = gifgen::Encode(gifgen::Moving(8, 8, 2));
  const auto other = gifgen::Encode(gifgen::Moving(6, 6, 3));
  WriteFile(in + "/a.gif", a);
  WriteFile(in + "/a_001.gif", other);
  for (const std::string& args :
       {"-j1 " + Quote(in + "/a.gif") + " " + Quote(alias + "/a_001.gif"),
        "-o " + Quote(alias) + " " + Quote(in + "/a.gif") + " " + Quote(in + "/a_001.gif"),
        Quote(in + "/a.gif") + " " + Quote(alias + "/a.gif")}) {
    const Result r = Split(args);
    EXPECT_EQ(r.status, 64) << args << "\n" << r.err;
    EXPECT_EQ(ListDir(in), (std::vector<std::string>{"a.gif", "a_001.gif"})) << args;
    EXPECT_EQ(ReadFile(in + "/a_001.gif"), other) << args;
  }
}

TEST(CliMisuse, AListMustBeAListOfFiles) {
  TempDir dir;
  Result r = Split("--from /dev/null");
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(Lines(r.err).front(), "velkor-split: no files to split");
  r = Split("--from " + Quote(dir.path()));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(Lines(r.err).front(),
            "velkor-split: --from " + dir.path() + ": a folder, not a list of files");
}

// velkor-split in scripts: listings that survive any name, re-runs, names
// chosen by a pattern, files that are kept, standard input, and messages
// that say what is wrong and nothing more.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/support/cli_run.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split0(const std::string& s) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (std::size_t at; (at = s.find('\0', from)) != std::string::npos; from = at + 1) {
    out.push_back(s.substr(from, at - from));
  }
  EXPECT_EQ(from, s.size()) << "the listing ends with a NUL";
  return out;
}

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) out.insert(e.path().lexically_relative(dir).string());
  }
  return out;
}

std::string Has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos ? ""
                                                    : "\"" + needle + "\" not in:\n" + haystack;
}

void WriteGif(const std::string& path, int frames, int delay = 4) {
  auto anim = gifgen::Moving(8, 8, frames);
  for (auto& f : anim.frames) f.delay = delay;
  ASSERT_TRUE(gifgen::WriteFile(path, gifgen::Encode(anim)));
}

}  // namespace

TEST(CliScripts, NulAndJsonListingsCarryEveryNameWhole) {
  TempDir dir;
  const std::string odd = dir.File("line\nbreak ｱﾆﾒ.gif");
  WriteGif(odd, 2, 7);
  const std::string junk = dir.File("404.gif");
  WriteFile(junk, Bytes{'<', 'h', 't', 'm', 'l', '>'});

  Result r = Split("--print0 " + Quote(odd));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto paths = Split0(r.out);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], dir.File("line\nbreak ｱﾆﾒ_001.gif"));
  for (const auto& p : paths) EXPECT_TRUE(fs::is_regular_file(p)) << p;

  r = Split("--json -j2 " + Quote(odd) + " " + Quote(junk));
  EXPECT_EQ(r.status, 1) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;  // two frames and a file, then a file
  std::vector<nlohmann::json> records;
  for (const auto& line : lines) records.push_back(nlohmann::json::parse(line));
  EXPECT_EQ(records[0]["type"], "frame");
  EXPECT_EQ(records[0]["file"], odd);
  EXPECT_EQ(records[1]["frame"], 2);
  EXPECT_EQ(records[1]["path"], paths[1]);
  EXPECT_EQ(records[1]["delay"], 7);
  EXPECT_EQ(records[1]["written"], true);
  EXPECT_EQ(records[2]["type"], "file");
  EXPECT_EQ(records[2]["outcome"], "split");
  EXPECT_EQ(records[2]["frames"], 2);
  EXPECT_EQ(records[2]["written"], 2);
  EXPECT_FALSE(records[2].contains("reason"));
  EXPECT_EQ(records[3]["file"], junk);
  EXPECT_EQ(records[3]["outcome"], "refused");
  EXPECT_EQ(records[3]["frames"], nullptr);
  EXPECT_EQ(records[3]["reason"], "bad-signature");
}

TEST(CliScripts, TheSameWalkRunsAgainWithTheSameFilesAndExitZero) {
  TempDir dir;
  const std::string dl = dir.File("dl");
  fs::create_directories(dl + "/sub");
  WriteGif(dl + "/chi.gif", 3);
  WriteGif(dl + "/sub/a.b.gif", 2);
  Result first = Split("-r " + Quote(dl));
  ASSERT_EQ(first.status, 0) << first.err;
  const auto files = FilesIn(dl);
  EXPECT_EQ(files.size(), 7u);
  Result again = Split("-r " + Quote(dl));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, first.out);
  EXPECT_EQ(FilesIn(dl), files);
  EXPECT_EQ(again.err,
            "velkor-split: 2 files: 2 split, 0 refused, 5 skipped (frames of others); 5 frames "
            "written, 0 not written\n");

  // The output folder inside the tree is not walked.
  for (int run = 0; run < 2; ++run) {
    const Result r = Split("-r -o " + Quote(dl + "/frames") + " " + Quote(dl));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 5u) << r.out;
  }
  EXPECT_TRUE(fs::exists(dl + "/frames/chi_003.gif"));
}

TEST(CliScripts, NoClobberKeepsAFileThatWasThereAndSaysSo) {
  TempDir dir;
  const std::string a = dir.File("a.gif");
  WriteGif(a, 3);
  const Bytes mine{'m', 'i', 'n', 'e'};
  WriteFile(dir.File("a_002.gif"), mine);
  Result r = Split("-n " + Quote(a));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("a_002.gif")), mine);
  EXPECT_EQ(r.out, dir.File("a_001.gif") + "\n" + dir.File("a_003.gif") + "\n");
  EXPECT_EQ(r.err, "velkor-split: " + dir.File("a_002.gif") + ": not written: exists\n");
  r = Split("-n --json " + Quote(a));
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  const auto kept = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(kept["written"], false);
  EXPECT_EQ(kept["reason"], "exists");
  const auto file = nlohmann::json::parse(lines[3]);
  EXPECT_EQ(file["outcome"], "split");
  EXPECT_EQ(file["kept"], 3);
  // Without -n, names are replaced, as the help says.
  r = Split(Quote(a));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(ReadFile(dir.File("a_002.gif")), mine);
}

TEST(CliScripts, APatternNamesTheFramesSoThatTheySortAndDoNotCollide) {
  TempDir dir;
  const std::string k = dir.File("k.b.gif");
  WriteGif(k, 1001, 0);
  Result r = Split("-q --name '{stem}_{n:auto}' -o " + Quote(dir.File("o")) + " " + Quote(k));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto files = FilesIn(dir.File("o"));
  ASSERT_EQ(files.size(), 1001u);
  EXPECT_EQ(*files.begin(), "k.b_0001.gif");
  EXPECT_EQ(*files.rbegin(), "k.b_1001.gif");
  // Without a pattern the window's names stay.
  r = Split("-q --frames 1000 " + Quote(k));
  EXPECT_TRUE(fs::exists(dir.File("k_1000.gif")));

  WriteGif(dir.File("a.b.gif"), 1);
  WriteGif(dir.File("a.c.gif"), 1);
  r = Split("-o " + Quote(dir.File("z")) + " " + Quote(dir.File("a.b.gif")) + " " +
            Quote(dir.File("a.c.gif")));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.err, "velkor-split: " + dir.File("a.b.gif") + " and " + dir.File("a.c.gif") +
                       " would both write a_NNN.gif into " + dir.File("z") + "\n");
  r = Split("--name '{stem}_{n:03}' -o " + Quote(dir.File("z")) + " " + Quote(dir.File("a.b.gif")) +
            " " + Quote(dir.File("a.c.gif")));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.File("z/a.c_001.gif")));
}

TEST(CliScripts, AGifOnStandardInputIsSplitIntoTheOutputFolder) {
  TempDir dir, temp;
  WriteGif(dir.File("a.gif"), 2);
  WriteFile(dir.File("junk"), Bytes{'n', 'o'});
  const std::string tmp = "TMPDIR=" + Quote(temp.path()) + " ";
  Result r = Split("- -o " + Quote(dir.File("o")), tmp, dir.File("a.gif"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.File("o/stdin_001.gif") + "\n" + dir.File("o/stdin_002.gif") + "\n");
  r = Split("--info -", tmp, dir.File("a.gif"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["file"], "-");
  r = Split("- -o " + Quote(dir.File("o2")), tmp, dir.File("junk"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "velkor-split: standard input: cannot be split: ").empty()) << r.err;
  EXPECT_FALSE(fs::exists(dir.File("o2")));
  EXPECT_TRUE(FilesIn(temp.path()).empty()) << "the copy of standard input is removed";
}

TEST(CliScripts, MessagesSayWhatIsWrongAndTheUsageTextOnlyForOptions) {
  TempDir dir;
  const std::string a = dir.File("a.gif");
  WriteGif(a, 3);
  Result r = Split(Quote(dir.File("missing.gif")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "velkor-split: " + dir.File("missing.gif") +
                       ": cannot be split: cannot read the file: No such file or directory\n");
  r = Split("--from " + Quote(dir.File("missing.txt")));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.err, "velkor-split: --from " + dir.File("missing.txt") +
                       ": cannot read: No such file or directory\n");
  r = Split("--pgn " + Quote(a));
  EXPECT_EQ(r.status, 64);
  EXPECT_TRUE(Has(r.err, "did you mean --png?\nusage: velkor-split").empty()) << r.err;
  // One rule for --frames naming no frame, one file or several.
  for (const std::string& files : {Quote(a), Quote(a) + " -o " + Quote(dir.File("x"))}) {
    r = Split("--frames 9 " + files);
    EXPECT_EQ(r.status, 1) << files;
    EXPECT_TRUE(Has(r.err, "--frames 9: names no frame of " + a + ", which has 3 frames").empty());
    EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
  }
  // -q: nothing but errors, even the summary of several files.
  WriteGif(dir.File("b.gif"), 1);
  r = Split("-q " + Quote(a) + " " + Quote(dir.File("b.gif")));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err + r.out, "");
  r = Split("-r " + Quote(dir.File("b.gif")) + " --frames 1");
  EXPECT_EQ(r.err, "velkor-split: 1 file: 1 split, 0 refused; 1 frame written, 0 not written\n");
  // NUL-separated names given as lines, and a GIF given as a list.
  const std::string list = a + '\0' + dir.File("b.gif") + '\0';
  WriteFile(dir.File("list"), Bytes(list.begin(), list.end()));
  r = Split("--from -", "", dir.File("list"));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.err,
            "velkor-split: --from -: holds NUL characters: a list of names separated by "
            "NULs needs -0\n");
  r = Split("--from " + Quote(a));
  EXPECT_EQ(r.err,
            "velkor-split: --from " + a + ": a GIF, not a list of files (give it as FILE)\n");
  r = Split("--from - -0 --print0", "", dir.File("list"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Split0(r.out).size(), 4u);
}

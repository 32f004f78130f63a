// velkor-split's words on their own: the options and what it says of their
// mistakes, the frame names a pattern gives, the collision rule over them,
// the inputs a re-run leaves out, and the summary line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/collisions.h"
#include "cli/names.h"
#include "cli/options.h"
#include "cli/outputs.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

std::optional<Refusal> Parse(std::vector<std::string> words, Options& o) {
  words.insert(words.begin(), "velkor-split");
  return ParseOptions(words, o);
}

std::optional<Refusal> Parse(std::vector<std::string> words) {
  Options o;
  return Parse(std::move(words), o);
}

std::string Message(std::vector<std::string> words) {
  const auto r = Parse(std::move(words));
  return r ? r->message : "(accepted)";
}

}  // namespace

TEST(Words, MistakesInTheOptionsAreSaidInTheProgramsOwnWordsWithTheUsageText) {
  EXPECT_EQ(Message({"--pgn", "a.gif"}), "unknown option --pgn; did you mean --png?");
  EXPECT_EQ(Message({"--jsno", "a.gif"}), "unknown option --jsno; did you mean --json?");
  EXPECT_EQ(Message({"--output-folder", "a.gif"}), "unknown option --output-folder");
  EXPECT_EQ(Message({"-png", "a.gif"}), "unknown option -p; did you mean --png?");
  EXPECT_EQ(Message({"-rx", "a.gif"}), "unknown option -x");
  EXPECT_EQ(Message({"--frames", "1", "--frames", "2", "a.gif"}), "--frames is given twice");
  EXPECT_EQ(Message({"-o", "x", "--output-dir=y", "a.gif"}), "--output-dir is given twice");
  EXPECT_EQ(Message({"a.gif", "-o"}), "-o needs a folder");
  EXPECT_EQ(Message({"a.gif", "--frames"}),
            "--frames needs a list of frames (3, 1-10, 5-, 1,4,9-12)");
  EXPECT_EQ(Message({"--png=yes", "a.gif"}), "--png takes no value");
  EXPECT_EQ(Message({"-j", "x", "a.gif"}), "--jobs x: not a number of 1 or more");
  EXPECT_EQ(Message({"--gif", "--bmp", "a.gif"}), "--gif and --bmp cannot go together");
  EXPECT_EQ(Message({"--print0", "--json", "a.gif"}), "--print0 and --json cannot go together");
  EXPECT_EQ(Message({"--info", "--json", "a.gif"}), "--info and --json cannot go together");
  EXPECT_EQ(Message({"--name", "{stem}", "a.gif"}),
            "--name {stem}: no frame number ({n}, {n:03} or {n:auto})");
  EXPECT_EQ(Message({"-"}), "- (the GIF on standard input) needs -o DIR for its frames");
  EXPECT_EQ(Message({"--from", "-", "-", "-o", "d"}),
            "- and --from - cannot both read standard input");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"--pgn", "a.gif"}, {"-o"}, {"--gif", "--bmp", "a.gif"}, {}}) {
    const auto r = Parse(words);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->usage);
    EXPECT_EQ(r->status, kExitUsage);
  }
  // A value that starts with a dash is still the option's value, and
  // letters go together.
  Options o;
  EXPECT_FALSE(Parse({"-rqn", "-j2", "-o", "-out", "--frames=1-", "dir"}, o));
  EXPECT_TRUE(o.recursive && o.quiet && o.noClobber);
  EXPECT_EQ(o.jobs, 2u);
  EXPECT_EQ(o.outputDir, "-out");
  EXPECT_FALSE(Parse({"--", "--png"}));  // a FILE called --png
}

TEST(Words, APatternNamesTheFramesAndSaysWhatIsWrongWithIt) {
  std::string problem;
  auto names = [&](const std::string& pattern, const std::string& file) {
    const auto p = NamePattern::Parse(pattern, problem);
    EXPECT_TRUE(p) << pattern << ": " << problem;
    const SourceParts parts = PartsOf(file);
    return p ? p->For(parts.stem, parts.name) : FrameNames{};
  };
  EXPECT_EQ(names("{stem}_{n:04}", "a.b.gif").Name(7, 20), "a.b_0007");
  EXPECT_EQ(names("{name}-{n}", "a.b.gif").Name(7, 20), "a-7");
  EXPECT_EQ(names("f{n:auto}{stem}", "k.gif").Name(7, 1000), "f0007k");
  EXPECT_EQ(names("{n:auto}", "k.gif").Name(1000, 1000), "1000");
  EXPECT_EQ(names("{n:auto}", "k.gif").Name(3, 9), "3");
  // The default is the window's own names.
  EXPECT_TRUE(NamePattern().IsDefault());
  EXPECT_EQ(NamePattern().For("a.b", "a").Name(1000, 1200), "a_1000");
  EXPECT_EQ(NamePattern().For(".x", ".x").Name(2, 2), ".x_002");
  EXPECT_EQ(PartsOf(".hidden.gif").stem, ".hidden");
  EXPECT_EQ(PartsOf(".hidden.gif").name, ".hidden");
  EXPECT_EQ(PartsOf("a.b.c.gif").stem, "a.b.c");
  EXPECT_EQ(PartsOf("a.b.c.gif").name, "a");
  for (const auto& [bad, why] : std::vector<std::pair<std::string, std::string>>{
           {"x/{n}", "a frame name cannot hold / (-o says the folder)"},
           {"{n}{n}", "more than one frame number"},
           {"{n:4}", "{n:4}: the number's width is 01 to 09 or auto ({n:04})"},
           {"{size}_{n}", "{size} is none of {stem}, {name}, {n}, {n:03}, {n:auto}"},
           {"{n", "a { without its }"},
           {"n}", "a } without its {"}}) {
    EXPECT_FALSE(NamePattern::Parse(bad, problem)) << bad;
    EXPECT_EQ(problem, why) << bad;
  }
  const FrameNames k = NamePattern().For("k", "k");
  EXPECT_TRUE(k.Matches("k_001.gif", ".gif"));
  EXPECT_TRUE(k.Matches("k_1000.GIF", ".gif"));
  EXPECT_FALSE(k.Matches("k_01.gif", ".gif"));  // fewer digits than the names have
  EXPECT_FALSE(k.Matches("k_0x1.gif", ".gif"));
  EXPECT_FALSE(k.Matches("k.gif", ".gif"));
}

TEST(Words, FramesThatCouldShareANameCollideWhateverThePattern) {
  TempDir dir;
  auto plan = [&](const std::string& pattern, const std::vector<std::string>& files) {
    std::string problem;
    const NamePattern p = *NamePattern::Parse(pattern, problem);
    std::vector<PlannedFrames> planned;
    for (const auto& f : files) {
      const std::string path = dir.File(f);
      const SourceParts parts = PartsOf(f);
      const FrameNames names = p.For(parts.stem, parts.name);
      const std::string base = dir.File(names.prefix + "x");
      std::string key = RealPlace(base);
      key.pop_back();
      planned.push_back({f, path, base.substr(0, base.size() - 1), names.suffix,
                         names.number.FewestDigits(), RealPlace(path), key});
    }
    return FindCollision(planned, ".gif");
  };
  // NAME ends at the first dot; the stem keeps both files apart.
  EXPECT_EQ(plan("{name}_{n:03}", {"a.b.gif", "a.c.gif"}),
            "a.b.gif and a.c.gif would both write a_NNN.gif into " + dir.path());
  EXPECT_FALSE(plan("{stem}_{n:03}", {"a.b.gif", "a.c.gif"}));
  // a1 + 5 and a + 15 are one name.
  EXPECT_TRUE(plan("{name}{n}", {"a1.gif", "a.gif"}));
  EXPECT_FALSE(plan("{name}_{n}", {"a1.gif", "a.gif"}));
  // A FILE named like another's frames under the pattern in use.
  EXPECT_EQ(plan("{stem}-{n:auto}", {"k.gif", "k-7.gif"}),
            "the frames of k.gif would replace " + dir.File("k-7.gif") + ", also to be split");
  EXPECT_FALSE(plan("{stem}-{n:auto}", {"k.gif", "k_007.gif"}));
}

TEST(Words, AReRunLeavesOutTheOutputFolderAndTheFramesOfAnEarlierRun) {
  TempDir dir;
  const std::string tree = dir.File("dl");
  fs::create_directories(sys::PathOf(tree + "/sub"));
  fs::create_directories(sys::PathOf(tree + "/frames"));
  for (const char* f : {"chi.gif", "chi_001.gif", "chi_1000.gif", "chi_01.gif", "sub/chi_002.gif",
                        "frames/x.gif", "k.b.gif", "k_001.gif", "2019_001.gif"}) {
    WriteFile(tree + "/" + f, Bytes{1});
  }
  Options o;
  ASSERT_FALSE(Parse({"-r", "-o", tree + "/frames", tree}, o));
  ASSERT_FALSE(GatherInputs(o));
  std::vector<std::string> names;
  for (const auto& in : o.inputs)
    names.push_back(fs::path(in.path).lexically_relative(tree).generic_string());
  // chi_01 has fewer digits than frames get; sub/chi_002 lies in another
  // folder than chi.gif; 2019_001 is the frame of no file here.
  EXPECT_EQ(names, (std::vector<std::string>{"2019_001.gif", "chi.gif", "chi_01.gif", "k.b.gif",
                                             "sub/chi_002.gif"}));
  EXPECT_EQ(o.skipped, 3u);
  // Named one by one, they are split as asked.
  Options named;
  ASSERT_FALSE(Parse({tree + "/chi.gif", tree + "/chi_001.gif"}, named));
  ASSERT_FALSE(GatherInputs(named));
  EXPECT_EQ(named.inputs.size(), 2u);
  EXPECT_EQ(named.skipped, 0u);
}

TEST(Words, AListMustBeTextAndSayHowItsNamesAreSeparated) {
  TempDir dir;
  auto gather = [&](const std::string& text, bool nul) {
    WriteFile(dir.File("list"), Bytes(text.begin(), text.end()));
    Options o;
    std::vector<std::string> words{"--from", dir.File("list")};
    if (nul) words.push_back("-0");
    EXPECT_FALSE(Parse(words, o));
    return GatherInputs(o);
  };
  const auto gif = gather(std::string("GIF89a\x01\0\x01\0\x80\0\0", 13), false);
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->message,
            "--from " + dir.File("list") + ": a GIF, not a list of files (give it as FILE)");
  EXPECT_FALSE(gif->usage);
  const auto nuls = gather(std::string("a.gif\0b.gif\0", 12), false);
  ASSERT_TRUE(nuls);
  EXPECT_EQ(nuls->message,
            "--from " + dir.File("list") +
                ": holds NUL characters: a list of names separated by NULs needs -0");
  const auto binary = gather(std::string("a.gif\n\x1b[0m\n", 11), false);
  ASSERT_TRUE(binary);
  EXPECT_EQ(binary->message,
            "--from " + dir.File("list") + ": not a list of files: byte 6 is no text");
  EXPECT_FALSE(gather(std::string("a\nb.gif\0c.gif\0", 14), true));  // any byte but NUL in a name
  EXPECT_FALSE(gather("a.gif\r\nb c.gif\n", false));
}

TEST(Words, TheSummaryCountsInWordsThatAgreeWithTheirNumbers) {
  Tally t;
  t.files = 1;
  t.split = 1;
  t.written = 1;
  EXPECT_EQ(SummaryLine(t, false, false, nullptr),
            "velkor-split: 1 file: 1 split, 0 refused; 1 frame written, 0 not written");
  t.files = 3;
  t.refused = 1;
  t.damaged = 1;
  t.skipped = 4;
  t.written = 12;
  t.kept = 2;
  EXPECT_EQ(SummaryLine(t, false, true, "SIGINT"),
            "velkor-split: interrupted by SIGINT: 3 files: 1 split, 1 damaged, 1 refused, 4 "
            "skipped (frames of others); 12 frames written, 0 not written, 2 kept (their names "
            "exist)");
  EXPECT_EQ(FrameRange(1, 1), "frame 1");
  EXPECT_EQ(FrameRange(1, 4), "frames 1 to 4");
  EXPECT_EQ(Count(0, "file", "files"), "0 files");
}

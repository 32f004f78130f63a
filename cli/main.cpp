// velkor-split: a split run without windows, and the frame table.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/frame_list.h"
#include "cli/frame_table.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "settings/settings.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotAnimated = 1;
constexpr int kExitWriteFailed = 2;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "                    [-o DIR] [--frames LIST] [--quiet] FILE\n"
    "       velkor-split --info FILE\n";

const char kHelp[] =
    "velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "             [-o DIR] [--frames LIST] [--quiet] FILE\n"
    "velkor-split --info FILE\n"
    "\n"
    "Splits the animated GIF FILE into its composed frames, exactly as a split run\n"
    "of Velkor does, and writes them next to FILE (or into DIR) as NAME_001.gif,\n"
    "NAME_002.gif, ... (NAME is FILE's name up to its first dot; a leading dot\n"
    "belongs to the name). Existing files of those names are replaced; FILE itself\n"
    "never is.\n"
    "\n"
    "  --gif              write GIF files (the default)\n"
    "  --bmp              write 24-bit Windows bitmap files (.bmp) instead\n"
    "  --png              write lossless PNG files of the composed frames (.png), the\n"
    "                     pixels of --bmp, transparent where no frame has drawn since\n"
    "                     the canvas was last cleared\n"
    "  --stored           write PNG files of the pixels each frame stores itself, at\n"
    "                     the same size, transparent outside the frame's rectangle and\n"
    "                     at its transparent index\n"
    "  --transparent      GIF files mark the colour of their top-left pixel transparent\n"
    "  --realtime         wait each frame's delay, as the preview does (default: no waits)\n"
    "  -o, --output-dir DIR\n"
    "                     write the frames into DIR (made when missing)\n"
    "  --frames LIST      write only these frames, keeping their numbers: 3, 1-10, 5-,\n"
    "                     1,4,9-12 (frames count from 1)\n"
    "  --info             write no frames: print the frame table as JSON (see\n"
    "                     docs/frame-table.schema.json)\n"
    "  -q, --quiet        print no list of files and no progress\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Standard output lists the full path of every frame file written, one per\n"
    "line, in order. On a terminal, standard error shows a progress line.\n"
    "A FILE that cannot be split is named on standard error with the reason, the\n"
    "byte offset (from 0) and the frame number (from 1) where they apply; a frame\n"
    "that cannot be written as \"velkor-split: PATH: cannot write: REASON\" (no space\n"
    "left, permission, name too long, file size limit). A frame file is complete or\n"
    "absent: each is written beside its name and put in place whole.\n"
    "\n"
    "Exit status:\n"
    "  0   every frame was written (with --info: FILE can be split)\n"
    "  1   FILE cannot be broken into frames (also anything that is not a regular\n"
    "      file); nothing was written\n"
    "  2   some frame files could not be written (each is named on standard\n"
    "      error with the reason), DIR cannot be made or written to, or the\n"
    "      frame table of --info could not be written\n"
    "  64  usage error\n";

struct Options {
  bool gif = false, bmp = false, png = false, stored = false;
  bool transparent = false, realtime = false, info = false, quiet = false;
  bool help = false, version = false;
  std::string outputDir, frames, file;
  std::optional<FrameList> selection;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "velkor-split: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

// Standard output, which may go away (a closed pipe): the frames are still
// written, and the exit status says what happened to them.
class Listing {
 public:
  void Line(const std::string& text) {
    if (gone_) return;
    if (std::fprintf(stdout, "%s\n", text.c_str()) < 0 || std::fflush(stdout) != 0) gone_ = true;
  }

 private:
  bool gone_ = false;
};

// The folders a run made for -o, removed again when the run writes nothing
// into them: a refused folder or a run without frames leaves nothing behind.
class OutputFolder {
 public:
  // Makes DIR when missing and checks that a file can be made in it, so that
  // a folder that cannot be written is reported before any frame is played.
  bool Prepare(const std::string& dir) {
    std::error_code ec;
    auto path = std::filesystem::absolute(sys::PathOf(dir), ec).lexically_normal();
    for (auto p = path; !ec && !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
      made_.push_back(p);
      if (p == p.parent_path()) break;
    }
    std::filesystem::create_directories(sys::PathOf(dir), ec);
    if (ec) {
      std::fprintf(stderr, "velkor-split: %s: cannot make the folder: %s\n", dir.c_str(),
                   ec.message().c_str());
      return false;
    }
    errno = 0;
    const auto probe = sys::CreateTempFile(dir, ".velkor-split-", "tmp");
    if (!probe) {
      std::fprintf(stderr, "velkor-split: %s: cannot write there: %s\n", dir.c_str(),
                   std::strerror(errno != 0 ? errno : EACCES));
      return false;
    }
    sys::DeleteFile(*probe);
    return true;
  }
  // Removes the folders made, innermost first, as far as they are empty.
  void RemoveIfEmpty() {
    std::error_code ec;
    for (const auto& p : made_) std::filesystem::remove(p, ec);
    made_.clear();
  }

 private:
  std::vector<std::filesystem::path> made_;  // innermost first
};

// The absolute, normalised form of a UTF-8 path; the path itself when it has
// none.
std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(sys::PathOf(path), ec);
  return ec ? path : sys::Utf8Of(absolute.lexically_normal());
}

// What the command line asks of the run: the same choices a split in the
// window makes, with the frames named after FILE in its folder or in DIR.
RunOptions RunOptionsFor(const Options& o) {
  RunOptions run;
  // The main window gets an absolute path from its file dialog; so does this.
  run.DecoderPath = Absolute(o.file);
  const SourceNames names = DeriveSourceNames(run.DecoderPath);
  run.Split = true;
  run.GifFiles = !o.bmp;
  run.Transparent = o.transparent;
  run.OutputBaseName = names.OutputBaseName;
  if (!o.outputDir.empty()) {
    const std::string name = names.OutputBaseName.substr(names.LastFolder.size() + 1);
    const std::string outDir = Absolute(o.outputDir);
    run.OutputBaseName =
        (outDir.empty() || outDir.back() != kPathSeparator ? outDir + kPathSeparator : outDir) +
        name;
  }
  return run;
}

// The frames as they are written: their paths on standard output, the
// progress on a terminal.
class PrintingSink : public ExportSink {
 public:
  PrintingSink(bool quiet, bool progress, std::int64_t frames)
      : quiet_(quiet), progress_(progress), frames_(frames) {}
  ~PrintingSink() override {
    if (shown_ > 0) std::fputc('\n', stderr);
  }
  void FrameExported(const ExportedFrame& frame) override {
    // Standard output lists the files that exist afterwards: a frame is
    // named there once written, and only on standard error when it could
    // not be.
    if (frame.written && !quiet_) listing_.Line(frame.path);
    if (!progress_) return;
    std::fprintf(stderr, "\rframe %lld of %lld", static_cast<long long>(++shown_),
                 static_cast<long long>(frames_));
  }

 private:
  Listing listing_;
  bool quiet_, progress_;
  std::int64_t frames_, shown_ = 0;
};

int PrintTable(const clsGif24bit& engine, const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(sys::PathOf(file), ec);
  const bool split = engine.BrokenOut();
  const auto table = FrameTable(engine, file, ec ? -1 : std::int64_t(size), split);
  const std::string text =
      table.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  // A table that does not reach its reader is no answer: a full disk or a
  // closed standard output is an error like a frame that cannot be written.
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "velkor-split: cannot write the frame table: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return kExitWriteFailed;
  }
  return split ? kExitOk : kExitNotAnimated;
}

int Split(const Options& o) {
  HeadlessRun run(RunOptionsFor(o));
  clsGif24bit& engine = run.Engine();
  engine.ProtectedFile = engine.Options.DecoderPath;
  engine.ExportAs = o.png      ? clsGif24bit::FrameFiles::Png
                    : o.stored ? clsGif24bit::FrameFiles::StoredPng
                               : clsGif24bit::FrameFiles::ByOutputType;
  if (o.selection) {
    engine.ExportSelected = [&o](std::int64_t n) { return o.selection->Contains(n); };
  }
  const bool split = BreakOutRun(engine);
  engine.UserDelay(0);  // as the play sets it: the waits --info reports are the play's
  if (o.info) return PrintTable(engine, engine.Options.DecoderPath);
  if (!split) {
    std::fprintf(stderr, "velkor-split: %s: cannot be split: %s\n",
                 engine.Options.DecoderPath.c_str(), DescribeFailure(engine.LastFailure()).c_str());
    return kExitNotAnimated;
  }
  const std::int64_t count = std::int64_t(engine.Frames.size());
  if (o.selection && !o.selection->NamesAnyOf(count)) {
    return Usage("--frames " + o.frames + ": names no frame of " + engine.Options.DecoderPath +
                 ", which has " + std::to_string(count) + (count == 1 ? " frame" : " frames"));
  }
  // The folder is made and tried once the file is known to split, before
  // any frame is played: a refused file leaves nothing behind.
  OutputFolder folder;
  if (!o.outputDir.empty() && !folder.Prepare(o.outputDir)) {
    folder.RemoveIfEmpty();
    return kExitWriteFailed;
  }
  RunResult result;
  {
    PrintingSink sink(o.quiet, !o.quiet && sys::StderrIsTerminal(), count);
    result = PlayRun(engine, &sink);
  }
  if (result.framesWritten == 0) folder.RemoveIfEmpty();
  for (const auto& failed : result.failed) {
    std::fprintf(stderr, "velkor-split: %s: cannot write: %s\n", failed.path.c_str(),
                 failed.reason.c_str());
  }
  return result.Complete() ? kExitOk : kExitWriteFailed;
}

// The command line into `o`; a usage error's exit status when it is none.
std::optional<int> Parse(sys::Utf8Arguments& arguments, Options& o) {
  CLI::App app("velkor-split", "velkor-split");
  app.set_help_flag();  // the help text is ours
  auto* gif = app.add_flag("--gif", o.gif);
  auto* bmp = app.add_flag("--bmp", o.bmp);
  auto* png = app.add_flag("--png", o.png);
  auto* stored = app.add_flag("--stored", o.stored);
  auto* transparent = app.add_flag("--transparent", o.transparent);
  auto* realtime = app.add_flag("--realtime", o.realtime);
  auto* dir = app.add_option("-o,--output-dir", o.outputDir);
  auto* frames = app.add_option("--frames", o.frames);
  auto* info = app.add_flag("--info", o.info);
  auto* quiet = app.add_flag("-q,--quiet", o.quiet);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_option("FILE", o.file);
  for (auto* type : {bmp, png, stored}) gif->excludes(type);
  bmp->excludes(png)->excludes(stored);
  png->excludes(stored);
  for (auto* frameOption : {gif, bmp, png, stored, transparent, realtime, dir, frames, quiet}) {
    info->excludes(frameOption);
  }
  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  if (o.help || o.version) return std::nullopt;
  if (o.file.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (frames->count() > 0) {
    o.selection = FrameList::Parse(o.frames);
    if (!o.selection)
      return Usage("--frames " + o.frames + ": not a list of frames (3, 1-10, 5-, 1,4,9-12)");
  }
  if (dir->count() > 0 && o.outputDir.empty()) return Usage("--output-dir needs a folder");
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  sys::Utf8Arguments arguments(argc, argv);
  const sys::Utf8Console console;
  Options o;
  if (const auto status = Parse(arguments, o)) return *status;
  if (o.help) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("velkor-split %s\n", VELKOR_VERSION);
    return kExitOk;
  }
#ifdef SIGPIPE
  // A reader that goes away must not end the run: the frames are the point.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  // A file over the size limit is a frame that cannot be written, with its
  // reason, not the end of the run.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (!o.realtime) sys::SetSleepHook([](std::int64_t) {});
  return Split(o);
}

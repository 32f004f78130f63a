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
    "byte offset (from 0) and the frame number (from 1) where they apply.\n"
    "\n"
    "Exit status:\n"
    "  0   every frame was written (with --info: FILE can be split)\n"
    "  1   FILE cannot be broken into frames; nothing was written\n"
    "  2   some frame files could not be written (each is named on standard\n"
    "      error), or DIR cannot be written to\n"
    "  64  usage error\n";

struct Options {
  bool gif = false, bmp = false, png = false, stored = false;
  bool transparent = false, realtime = false, info = false, quiet = false;
  bool help = false, version = false;
  std::string outputDir, frames, file;
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

// Makes DIR when missing and checks that a file can be made in it, so that a
// folder that cannot be written is reported before any frame is played.
bool PrepareOutputDir(const std::string& dir) {
  std::error_code ec;
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

// The absolute, normalised form of a UTF-8 path; the path itself when it has
// none.
std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(sys::PathOf(path), ec);
  return ec ? path : sys::Utf8Of(absolute.lexically_normal());
}

}  // namespace

int main(int argc, char** argv) {
  const sys::Utf8Arguments arguments(argc, argv);
  const sys::Utf8Console console;
  Options o;
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
  if (o.help) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("velkor-split %s\n", VELKOR_VERSION);
    return kExitOk;
  }
  if (o.file.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  std::optional<FrameList> selection;
  if (frames->count() > 0) {
    selection = FrameList::Parse(o.frames);
    if (!selection)
      return Usage("--frames " + o.frames + ": not a list of frames (3, 1-10, 5-, 1,4,9-12)");
  }
  if (dir->count() > 0 && o.outputDir.empty()) return Usage("--output-dir needs a folder");

#ifdef SIGPIPE
  // A reader that goes away must not end the run: the frames are the point.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  SharedState state;
  state.OutputFileType = o.bmp ? 0 : 1;
  // The main window gets an absolute path from its file dialog; so does this.
  state.TransparentOption = o.transparent ? 1 : 0;
  state.TransparentRun = o.transparent ? -1 : 0;
  state.RunMode = 1;
  state.SourcePath = Absolute(o.file);
  ApplySourceNames(state, state.SourcePath);
  if (!o.outputDir.empty()) {
    const std::string name = state.OutputBaseName.substr(state.LastFolder.size() + 1);
    const std::string outDir = Absolute(o.outputDir);
    state.OutputBaseName =
        (outDir.empty() || outDir.back() != kPathSeparator ? outDir + kPathSeparator : outDir) +
        name;
  }

  if (!o.realtime) sys::SetSleepHook([](std::int64_t) {});

  platform::PictureBox display(DisplayBoxOptions());
  platform::PictureBox master(MasterBoxOptions());
  platform::ListBox lstFiles;
  PrepareRunBoxes(state, display, master);
  clsGif24bit engine(master, state, &display, &lstFiles);
  engine.ImageCtl(master);
  engine.ProtectedFile = state.SourcePath;
  engine.ExportAs = o.png      ? clsGif24bit::FrameFiles::Png
                    : o.stored ? clsGif24bit::FrameFiles::StoredPng
                               : clsGif24bit::FrameFiles::ByOutputType;
  if (selection) {
    engine.ExportSelected = [&selection](std::int64_t n) { return selection->Contains(n); };
  }

  const bool split = BreakOutRun(engine, state);
  engine.UserDelay(0);  // as the play sets it: the waits --info reports are the play's
  if (o.info) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(sys::PathOf(state.SourcePath), ec);
    const auto table = FrameTable(engine, state.SourcePath, ec ? -1 : std::int64_t(size), split);
    std::cout << table.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
    std::cout.flush();
    return split ? kExitOk : kExitNotAnimated;
  }
  if (!split) {
    std::fprintf(stderr, "velkor-split: %s: cannot be split: %s\n", state.SourcePath.c_str(),
                 DescribeFailure(engine.LastFailure()).c_str());
    return kExitNotAnimated;
  }
  const std::int64_t count = std::int64_t(engine.FrameStart.size());
  if (selection && !selection->NamesAnyOf(count)) {
    return Usage("--frames " + o.frames + ": names no frame of " + state.SourcePath +
                 ", which has " + std::to_string(count) + (count == 1 ? " frame" : " frames"));
  }
  // The folder is made and tried once the file is known to split, before
  // any frame is played: a refused file leaves nothing behind.
  if (!o.outputDir.empty() && !PrepareOutputDir(o.outputDir)) return kExitWriteFailed;

  const bool progress = !o.quiet && sys::StderrIsTerminal();
  if (progress) {
    lstFiles.Changed().Subscribe([&] {
      if (lstFiles.ListCount() == 0) return;
      std::fprintf(stderr, "\rframe %d of %lld", lstFiles.ListCount(),
                   static_cast<long long>(count));
    });
  }
  // Standard output lists the files that exist afterwards: a frame is named
  // there once written, and only on standard error when it could not be.
  Listing listing;
  engine.FrameWritten = [&](std::int64_t, const std::string& name, bool written) {
    if (written && !o.quiet) listing.Line(name);
  };
  PlayRun(engine);
  if (progress && lstFiles.ListCount() > 0) std::fputc('\n', stderr);
  for (const auto& failed : engine.FailedFiles) {
    std::fprintf(stderr, "velkor-split: could not write %s\n", failed.c_str());
  }
  return engine.FailedFiles.empty() ? kExitOk : kExitWriteFailed;
}

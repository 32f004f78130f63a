// velkor-split: a split run without windows.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "engine/run.h"
#include "platform/system/system.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotAnimated = 1;
constexpr int kExitWriteFailed = 2;
constexpr int kExitUsage = 64;

const char kUsage[] = "usage: velkor-split [--gif | --bmp] [--transparent] [--realtime] FILE\n";

const char kHelp[] =
    "velkor-split [--gif | --bmp] [--transparent] [--realtime] FILE\n"
    "\n"
    "Splits the animated GIF FILE into its composed frames, exactly as a split run\n"
    "of Velkor does, and writes them next to FILE as NAME_001.gif, NAME_002.gif, ...\n"
    "(NAME is FILE's name up to its first dot; a leading dot belongs to the name).\n"
    "Existing files of those names are replaced.\n"
    "\n"
    "  --gif          write GIF files (the default)\n"
    "  --bmp          write 24-bit Windows bitmap files (.bmp) instead\n"
    "  --transparent  GIF files mark the colour of their top-left pixel transparent\n"
    "  --realtime     wait each frame's delay, as the preview does (default: no waits)\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Standard output lists the full path of every frame file written, one per\n"
    "line, in order. On a terminal, standard error shows a progress line.\n"
    "A FILE that cannot be split is named on standard error with the reason, the\n"
    "byte offset (from 0) and the frame number (from 1) where they apply.\n"
    "\n"
    "Exit status:\n"
    "  0   every frame was written\n"
    "  1   FILE cannot be broken into frames; nothing was written\n"
    "  2   some frame files could not be written (each is named on standard error)\n"
    "  64  usage error\n";

}  // namespace

int main(int argc, char** argv) {
  SharedState state;
  state.OutputFileType = 1;
  bool transparent = false, realtime = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    } else if (a == "--version") {
      std::printf("velkor-split %s\n", VELKOR_VERSION);
      return kExitOk;
    } else if (a == "--gif") {
      state.OutputFileType = 1;
    } else if (a == "--bmp") {
      state.OutputFileType = 0;
    } else if (a == "--transparent") {
      transparent = true;
    } else if (a == "--realtime") {
      realtime = true;
    } else if (a == "--" && i + 1 == argc - 1 && file.empty()) {
      file = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "velkor-split: unknown option %s\n%s", a.c_str(), kUsage);
      return kExitUsage;
    } else if (file.empty()) {
      file = a;
    } else {
      std::fprintf(stderr, "velkor-split: one FILE only\n%s", kUsage);
      return kExitUsage;
    }
  }
  if (file.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }

  // The main window gets an absolute path from its file dialog; so does this.
  std::error_code ec;
  const std::string path = std::filesystem::absolute(file, ec).lexically_normal().string();
  state.TransparentOption = transparent ? 1 : 0;
  state.TransparentRun = transparent ? -1 : 0;
  state.RunMode = 1;
  state.SourcePath = ec ? file : path;
  ApplySourceNames(state, state.SourcePath);

  if (!realtime) sys::SetSleepHook([](std::int64_t) {});

  platform::PictureBox display(DisplayBoxOptions());
  platform::PictureBox master(MasterBoxOptions());
  platform::ListBox lstFiles;
  PrepareRunBoxes(state, display, master);
  clsGif24bit engine(master, state, &display, &lstFiles);
  engine.ImageCtl(master);

  const bool progress = ::isatty(STDERR_FILENO) != 0;
  if (progress) {
    lstFiles.Changed().Subscribe([&] {
      if (lstFiles.ListCount() == 0) return;
      std::fprintf(stderr, "\rframe %d of %zu", lstFiles.ListCount(), engine.FrameStart.size());
    });
  }
  // Standard output lists the files that exist afterwards: a frame is named
  // there once written, and only on standard error when it could not be.
  engine.FrameWritten = [](std::int64_t, const std::string& name, bool written) {
    if (!written) return;
    std::fprintf(stdout, "%s\n", name.c_str());
    std::fflush(stdout);
  };

  if (!PerformRun(engine, state)) {
    std::fprintf(stderr, "velkor-split: %s: cannot be split: %s\n", state.SourcePath.c_str(),
                 DescribeFailure(engine.LastFailure()).c_str());
    return kExitNotAnimated;
  }
  if (progress && lstFiles.ListCount() > 0) std::fputc('\n', stderr);
  for (const auto& failed : engine.FailedFiles) {
    std::fprintf(stderr, "velkor-split: could not write %s\n", failed.c_str());
  }
  return engine.FailedFiles.empty() ? kExitOk : kExitWriteFailed;
}

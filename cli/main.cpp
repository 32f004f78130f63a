// velkor-split: a split run without windows, and the frame table.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/collisions.h"
#include "cli/frame_list.h"
#include "cli/frame_table.h"
#include "cli/inputs.h"
#include "cli/ordered_runner.h"
#include "cli/pixel_budget.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "settings/settings.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotAnimated = 1;
constexpr int kExitWriteFailed = 2;
constexpr int kExitDamaged = 3;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "                    [--compose window|browser [--background COLOUR]]\n"
    "                    [-o DIR] [--frames LIST] [--salvage] [--quiet]\n"
    "                    [-r [--keep-tree]] [--from LIST [-0]] [-j N] FILE...\n"
    "       velkor-split --info [--compose window|browser] [-r] [--from LIST [-0]] FILE...\n";

const char kHelp[] =
    "velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "             [--compose window|browser [--background COLOUR]]\n"
    "             [-o DIR] [--frames LIST] [--salvage] [--quiet]\n"
    "             [-r [--keep-tree]] [--from LIST [-0]] [-j N] FILE...\n"
    "velkor-split --info [--compose window|browser] [-r] [--from LIST [-0]] FILE...\n"
    "\n"
    "Splits each animated GIF FILE into its composed frames, exactly as a split run\n"
    "of Velkor does, and writes them next to FILE (or into DIR) as NAME_001.gif,\n"
    "NAME_002.gif, ... (NAME is FILE's name up to its first dot; a leading dot\n"
    "belongs to the name). Existing files of those names are replaced; no FILE of\n"
    "the run ever is.\n"
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
    "  --compose window   compose the frames by the window's rules (the default)\n"
    "  --compose browser  compose them as web browsers show the GIF: the canvas is\n"
    "                     the logical screen (grown to hold a first image larger than\n"
    "                     it), transparent where nothing was drawn; disposal 2 clears\n"
    "                     a frame's rectangle after it is shown, disposal 3 puts back\n"
    "                     what lay under it; a byte that starts no block ends the\n"
    "                     stream. --png keeps that transparency; --bmp and GIF files\n"
    "                     show --background there\n"
    "  --background COLOUR\n"
    "                     with --compose browser: what transparent pixels become in\n"
    "                     --bmp and GIF frames: #RRGGBB, black (the default), white,\n"
    "                     gray, red, green, blue or magenta\n"
    "  -o, --output-dir DIR\n"
    "                     write the frames into DIR (made when missing)\n"
    "  --frames LIST      write only these frames, keeping their numbers: 3, 1-10, 5-,\n"
    "                     1,4,9-12 (frames count from 1)\n"
    "  --salvage          a FILE whose bytes are damaged at frame K (cut short, a\n"
    "                     broken block, image data that cannot be decoded) gives\n"
    "                     frames 1 to K-1, composed as a whole file composes them;\n"
    "                     nothing of frame K or later is written. A file that\n"
    "                     ends without its trailer is damaged too\n"
    "  -r, --recursive    a folder FILE stands for the .gif files under it (any case,\n"
    "                     sorted, symbolic links not followed)\n"
    "  --keep-tree        with -r and -o: the frames of a file found in a sub-folder\n"
    "                     go into the same sub-folder under DIR\n"
    "  --from LIST        also split the files LIST names, one per line, after the\n"
    "                     FILE arguments (LIST - is standard input)\n"
    "  -0, --null         the names in LIST are separated by NUL characters\n"
    "                     (find -print0)\n"
    "  -j, --jobs N       split N files at the same time (default: one per core).\n"
    "                     The runs at the same time keep at most 2 Gi frame pixels\n"
    "                     (2 GiB of frame pictures) together, the limit of a single\n"
    "                     run: a run that would go over it waits for the others\n"
    "  --info             write no frames: print the frame table as JSON (see\n"
    "                     docs/frame-table.schema.json); with several files, one\n"
    "                     table per line (JSON Lines), in the order of the files\n"
    "  -q, --quiet        print no list of files and no progress\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Standard output lists the full path of every frame file written, one per\n"
    "line, in the order of the files and their frames, whatever -j is. On a\n"
    "terminal, standard error shows a progress line. A FILE that cannot be split\n"
    "is named on standard error with the reason, the byte offset (from 0) and the\n"
    "frame number (from 1) where they apply; a frame that cannot be written as\n"
    "\"velkor-split: PATH: cannot write: REASON\" (no space left, permission, name\n"
    "too long, file size limit). A frame file is complete or absent: each is\n"
    "written beside its name and put in place whole. With more than one FILE, a\n"
    "last line on standard error sums up the files split, damaged and refused and\n"
    "the frames written and not written (a file is split when every frame asked\n"
    "for was written, incomplete when not). Two files that would write the same\n"
    "names into one folder (or into the folder another file of the run lies in,\n"
    "under its name) are a usage error before anything is written, whatever\n"
    "links lead there. A file that cannot be split never stops the others.\n"
    "\n"
    "SIGINT (Ctrl+C), SIGTERM or SIGHUP stop the run at the next frame: the\n"
    "frames written so far are whole and listed, the summary is printed, no\n"
    "temporary or partial file is left behind, and the exit status is 128 + the\n"
    "signal's number (130, 143, 129). A second signal ends the program at once.\n"
    "\n"
    "Exit status (with several files, the first of 2, 3, 1 that applies):\n"
    "  0   every file was split and every frame written (with --info: every FILE\n"
    "      can be split)\n"
    "  1   some FILE cannot be broken into frames (also anything that is not a\n"
    "      regular file, and a file --frames names no frame of among several);\n"
    "      nothing of it was written\n"
    "  2   some frame files could not be written (each is named on standard\n"
    "      error with the reason), DIR cannot be made or written to, the list\n"
    "      of files or the frame table of --info could not be written, a folder\n"
    "      under -r could not be read, or the system failed (out of memory, no\n"
    "      file descriptor or temporary space left: \"FILE: failed: REASON\")\n"
    "  3   with --salvage, some FILE was damaged: \"damaged: frames 1 to K-1\n"
    "      written\" on standard error, with the reason\n"
    "  64  usage error\n"
    "  129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM\n";

struct Options {
  bool gif = false, bmp = false, png = false, stored = false;
  bool transparent = false, realtime = false, info = false, quiet = false;
  bool help = false, version = false, salvage = false;
  bool recursive = false, keepTree = false, nul = false;
  std::string outputDir, frames, from;
  std::string compose = "window", background;
  bool browser = false;
  std::uint32_t backgroundColour = 0;  // 0x00RRGGBB
  std::vector<std::string> files;
  unsigned jobs = 0;  // 0: one per core
  std::optional<FrameList> selection;
  std::vector<Input> inputs;
  std::vector<std::string> unreadable;  // folders under -r that could not be read
  // One FILE and none of the options that take several: the output is that
  // of a single split, streamed as it is written.
  bool Single() const { return inputs.size() == 1 && from.empty() && !recursive; }
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "velkor-split: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

// Standard output, which may go away (a closed pipe): the frames are still
// written, and the exit status says what happened to them. A listing that
// cannot be written for any other reason (a full disk) is lost, and that is
// an error: a script reading it would miss frames that exist.
class Listing {
 public:
  static Listing& Standard() {
    static Listing listing;
    return listing;
  }
  void Line(const std::string& text) {
    if (gone_ || lost_ != 0) return;
    errno = 0;
    if (std::fprintf(stdout, "%s\n", text.c_str()) < 0 || std::fflush(stdout) != 0) {
      const int error = errno != 0 ? errno : EIO;
      if (error == EPIPE) {
        gone_ = true;
      } else {
        lost_ = error;
      }
    }
  }
  // The errno of the write that lost the listing; 0 when none did.
  int Lost() const { return lost_; }

 private:
  bool gone_ = false;
  int lost_ = 0;
};

// Writes text whole to standard output; false, with errno, when it did not
// reach it.
bool WriteOut(const std::string& text) {
  errno = 0;
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

// Where one file's messages go: at once for a single FILE, kept until the
// file's turn in a run of several, so that the listing is in the order of
// the files whatever finishes first.
class Output {
 public:
  virtual ~Output() = default;
  virtual void Line(const std::string& text) = 0;   // a path on standard output
  virtual bool Table(const std::string& text) = 0;  // --info's table; false: not written
  virtual void Error(const std::string& text) = 0;  // a line of standard error
};

class DirectOutput : public Output {
 public:
  void Line(const std::string& text) override { Listing::Standard().Line(text); }
  bool Table(const std::string& text) override { return WriteOut(text); }
  void Error(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

class KeptOutput : public Output {
 public:
  struct Item {
    int stream;  // 1 standard output (a line), 2 standard error, 3 a table
    std::string text;
  };
  void Line(const std::string& text) override { items.push_back({1, text}); }
  bool Table(const std::string& text) override {
    items.push_back({3, text});
    return true;
  }
  void Error(const std::string& text) override { items.push_back({2, text}); }
  std::vector<Item> items;
};

// The folders a run made for -o, removed again when nothing was written into
// them: a refused folder or a run without frames leaves nothing behind. Runs
// side by side share it.
class OutputFolders {
 public:
  // Makes DIR when missing and checks that a file can be made in it, so that
  // a folder that cannot be written is reported before any frame is played.
  bool Prepare(const std::string& dir, Output& out) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    auto path = std::filesystem::absolute(sys::PathOf(dir), ec).lexically_normal();
    for (auto p = path; !ec && !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
      made_.push_back(p);
      if (p == p.parent_path()) break;
    }
    std::filesystem::create_directories(sys::PathOf(dir), ec);
    if (ec) {
      out.Error("velkor-split: " + dir + ": cannot make the folder: " + ec.message());
      return false;
    }
    errno = 0;
    const auto probe = sys::CreateTempFile(dir, ".velkor-split-", "tmp");
    if (!probe) {
      out.Error("velkor-split: " + dir +
                ": cannot write there: " + std::strerror(errno != 0 ? errno : EACCES));
      return false;
    }
    sys::DeleteFile(*probe);
    return true;
  }
  // Removes the folders made, innermost first, as far as they are empty.
  void RemoveIfEmpty() {
    std::lock_guard lock(mutex_);
    std::sort(made_.begin(), made_.end(),
              [](const auto& a, const auto& b) { return a.native().size() > b.native().size(); });
    std::error_code ec;
    for (const auto& p : made_) std::filesystem::remove(p, ec);
    made_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::filesystem::path> made_;
};

// The absolute, normalised form of a UTF-8 path; the path itself when it has
// none.
std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(sys::PathOf(path), ec);
  return ec ? path : sys::Utf8Of(absolute.lexically_normal());
}

// The folder a file's frames go into when it is not the file's own: DIR, or
// with --keep-tree the file's sub-folder under DIR.
std::string OutputDirFor(const Options& o, const Input& in) {
  if (o.outputDir.empty() || !o.keepTree || in.subfolder.empty()) return o.outputDir;
  return sys::Utf8Of(sys::PathOf(o.outputDir) / sys::PathOf(in.subfolder));
}

// What the command line asks of the run: the same choices a split in the
// window makes, with the frames named after FILE in its folder or in DIR.
RunOptions RunOptionsFor(const Options& o, const Input& in) {
  RunOptions run;
  // The main window gets an absolute path from its file dialog; so does this.
  run.DecoderPath = Absolute(in.path);
  const SourceNames names = DeriveSourceNames(run.DecoderPath);
  run.Split = true;
  run.GifFiles = !o.bmp;
  run.Transparent = o.transparent;
  run.OutputBaseName = names.OutputBaseName;
  const std::string dir = OutputDirFor(o, in);
  if (!dir.empty()) {
    const std::string name = names.OutputBaseName.substr(names.LastFolder.size() + 1);
    const std::string outDir = Absolute(dir);
    run.OutputBaseName =
        (outDir.empty() || outDir.back() != kPathSeparator ? outDir + kPathSeparator : outDir) +
        name;
  }
  return run;
}

// The frames as they are written: their paths on standard output, the
// progress of a single file on a terminal, and the count of a run of several.
class PrintingSink : public ExportSink {
 public:
  PrintingSink(Output& out, bool quiet, bool progress, std::int64_t frames,
               std::atomic<std::int64_t>* written)
      : out_(out), quiet_(quiet), progress_(progress), frames_(frames), written_(written) {}
  ~PrintingSink() override {
    if (shown_ > 0) std::fputc('\n', stderr);
  }
  void FrameExported(const ExportedFrame& frame) override {
    // Standard output lists the files that exist afterwards: a frame is
    // named there once written, and only on standard error when it could
    // not be.
    if (frame.written && !quiet_) out_.Line(frame.path);
    if (frame.written && written_ != nullptr) ++*written_;
    if (!progress_) return;
    std::fprintf(stderr, "\rframe %lld of %lld", static_cast<long long>(++shown_),
                 static_cast<long long>(frames_));
  }

 private:
  Output& out_;
  bool quiet_, progress_;
  std::int64_t frames_, shown_ = 0;
  std::atomic<std::int64_t>* written_;
};

// What became of one FILE.
struct FileOutcome {
  enum class Kind { Split, Incomplete, Damaged, Refused };
  int status = kExitOk;
  Kind kind = Kind::Split;
  std::int64_t written = 0, notWritten = 0;
};

// What the runs of one velkor-split share.
struct Shared {
  OutputFolders folders;
  PixelBudget* budget = nullptr;         // runs side by side only
  std::atomic<std::int64_t> written{0};  // frames written so far, for the progress
  bool batch = false;
  bool progress = false;  // a single file's progress line
};

int PrintTable(const clsGif24bit& engine, const std::string& file, Output& out, bool oneLine) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(sys::PathOf(file), ec);
  const bool split = engine.BrokenOut();
  const auto table = FrameTable(engine, file, ec ? -1 : std::int64_t(size), split);
  const std::string text =
      table.dump(oneLine ? -1 : 2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
      "\n";
  // A table that does not reach its reader is no answer: a full disk or a
  // closed standard output is an error like a frame that cannot be written.
  if (!out.Table(text)) {
    out.Error(std::string("velkor-split: cannot write the frame table: ") +
              std::strerror(errno != 0 ? errno : EIO));
    return kExitWriteFailed;
  }
  if (split) return kExitOk;
  // Memory, descriptors or temporary space running out say nothing of the
  // file: the same file may split another time.
  return IsSystemFailure(engine.LastFailure()) ? kExitWriteFailed : kExitNotAnimated;
}

// How many of `count` frames the run is asked for.
std::int64_t FramesAsked(const Options& o, std::int64_t count) {
  if (!o.selection) return count;
  std::int64_t asked = 0;
  for (std::int64_t n = 1; n <= count; ++n) asked += o.selection->Contains(n) ? 1 : 0;
  return asked;
}

// Splits one file; with `ownThreads`, on threads of its own besides this one
// (`decodeThreads` of them for decoding; 0: one per core).
FileOutcome SplitFile(const Options& o, const Input& in, Output& out, Shared& shared,
                      bool ownThreads, unsigned decodeThreads = 0) {
  FileOutcome outcome;
  HeadlessRun run(RunOptionsFor(o, in));
  clsGif24bit& engine = run.Engine();
  engine.ProtectedFile = engine.Options.DecoderPath;
  engine.Salvage = o.salvage;
  engine.ExportAs = o.png      ? clsGif24bit::FrameFiles::Png
                    : o.stored ? clsGif24bit::FrameFiles::StoredPng
                               : clsGif24bit::FrameFiles::ByOutputType;
  if (o.selection) {
    engine.ExportSelected = [&o](std::int64_t n) { return o.selection->Contains(n); };
  }
  if (shared.budget != nullptr) {
    engine.PixelGate = [&shared](std::int64_t bytes) { return shared.budget->Take(bytes); };
  }
  engine.OwnThreads = ownThreads;
  engine.DecodeThreads = decodeThreads;
  if (o.browser) {
    engine.Compose = clsGif24bit::Composition::Browser;
    engine.BrowserBackground = o.backgroundColour;
  }
  const bool split = BreakOutRun(engine);
  engine.UserDelay(0);  // as the play sets it: the waits --info reports are the play's
  // An empty FILE names no file: shown as "" so that the message says so.
  const std::string path = engine.Options.DecoderPath.empty() ? "\"\"" : engine.Options.DecoderPath;
  if (o.info) {
    outcome.status = PrintTable(engine, engine.Options.DecoderPath, out, shared.batch);
    outcome.kind = outcome.status == kExitOk            ? FileOutcome::Kind::Split
                   : outcome.status == kExitNotAnimated ? FileOutcome::Kind::Refused
                                                        : FileOutcome::Kind::Incomplete;
    return outcome;
  }
  const std::int64_t count = std::int64_t(engine.Frames.size());
  if (!split) {
    const BreakOutFailure& failure = engine.LastFailure();
    if (failure.reason == BreakOutReason::Interrupted) {
      out.Error("velkor-split: " + path + ": interrupted: 0 of " +
                std::to_string(FramesAsked(o, count)) + " frames written");
      outcome.status = kExitWriteFailed;
      outcome.kind = FileOutcome::Kind::Incomplete;
    } else if (IsSystemFailure(failure)) {
      out.Error("velkor-split: " + path + ": failed: " + DescribeFailure(failure));
      outcome.status = kExitWriteFailed;
      outcome.kind = FileOutcome::Kind::Incomplete;
    } else {
      out.Error("velkor-split: " + path + ": cannot be split: " + DescribeFailure(failure));
      outcome.status = kExitNotAnimated;
      outcome.kind = FileOutcome::Kind::Refused;
    }
    return outcome;
  }
  if (o.selection && !o.selection->NamesAnyOf(count)) {
    const std::string message = "--frames " + o.frames + ": names no frame of " + path +
                                ", which has " + std::to_string(count) +
                                (count == 1 ? " frame" : " frames");
    outcome.kind = FileOutcome::Kind::Refused;
    if (!shared.batch) {
      outcome.status = Usage(message);
    } else {  // among several files, one that the list misses is not split
      out.Error("velkor-split: " + message);
      outcome.status = kExitNotAnimated;
    }
    return outcome;
  }
  // The folder is made and tried once the file is known to split, before
  // any frame is played: a refused file leaves nothing behind.
  const std::string dir = OutputDirFor(o, in);
  if (!dir.empty() && !shared.folders.Prepare(dir, out)) {
    if (!shared.batch) shared.folders.RemoveIfEmpty();
    outcome.status = kExitWriteFailed;
    outcome.kind = FileOutcome::Kind::Incomplete;
    return outcome;
  }
  RunResult result;
  {
    PrintingSink sink(out, o.quiet, shared.progress, count, &shared.written);
    result = PlayRun(engine, &sink);
  }
  if (result.framesWritten == 0 && !shared.batch) shared.folders.RemoveIfEmpty();
  for (const auto& failed : result.failed) {
    out.Error("velkor-split: " + failed.path + ": cannot write: " + failed.reason);
  }
  outcome.written = result.framesWritten;
  outcome.notWritten = std::int64_t(result.failed.size());
  const std::int64_t asked = FramesAsked(o, count);
  const bool interrupted = outcome.written + outcome.notWritten < asked;
  if (interrupted) {
    out.Error("velkor-split: " + path + ": interrupted: " + std::to_string(outcome.written) +
              " of " + std::to_string(asked) + " frames written");
  }
  if (engine.Damage()) {
    const std::string kept = "frames 1 to " + std::to_string(count);
    out.Error("velkor-split: " + path + ": damaged: " +
              (o.selection ? kept + " kept, " + std::to_string(result.framesWritten) + " written"
                           : kept + " written") +
              ": " + DescribeFailure(*engine.Damage()));
  }
  const bool complete = result.Complete() && !interrupted;
  outcome.status = !complete ? kExitWriteFailed : engine.Damage() ? kExitDamaged : kExitOk;
  outcome.kind = !complete         ? FileOutcome::Kind::Incomplete
                 : engine.Damage() ? FileOutcome::Kind::Damaged
                                   : FileOutcome::Kind::Split;
  return outcome;
}

// The exit status of several files: 2 before 3 before 1 before 0.
int Worse(int a, int b) {
  auto rank = [](int s) { return s == kExitWriteFailed ? 3 : s == kExitDamaged ? 2 : s; };
  return rank(b) > rank(a) ? b : a;
}

// Refuses, before anything is written, two files that would write frames of
// the same names into one folder, and a frame name that is one of the files,
// comparing where they really lie (links resolved, names as the system
// compares them).
std::optional<std::string> Collision(const Options& o) {
  std::vector<PlannedFrames> plan;
  for (const auto& in : o.inputs) {
    const RunOptions run = RunOptionsFor(o, in);
    plan.push_back({in.path, run.DecoderPath, run.OutputBaseName, RealPlace(run.DecoderPath),
                    RealPlace(run.OutputBaseName)});
  }
  return FindCollision(plan, o.png || o.stored ? ".png" : o.bmp ? ".bmp" : ".gif");
}

// What the files of a run came to, for the last line.
struct Tally {
  std::size_t files = 0, split = 0, incomplete = 0, damaged = 0, refused = 0, notStarted = 0;
  std::int64_t written = 0, notWritten = 0;
  void Add(const FileOutcome& r) {
    written += r.written;
    notWritten += r.notWritten;
    switch (r.kind) {
      case FileOutcome::Kind::Split:
        ++split;
        break;
      case FileOutcome::Kind::Incomplete:
        ++incomplete;
        break;
      case FileOutcome::Kind::Damaged:
        ++damaged;
        break;
      case FileOutcome::Kind::Refused:
        ++refused;
        break;
    }
  }
};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case 1:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

// "velkor-split: 6 files: 5 split, 1 refused; 27 frames written, 0 not written",
// with the kinds that occurred, and the signal that stopped the run.
void PrintSummary(const Options& o, const Tally& t) {
  std::string line = "velkor-split: ";
  if (sys::StopRequested()) {
    line += std::string("interrupted by ") + SignalName(sys::StopSignal()) + ": ";
  }
  line += std::to_string(t.files) + " files: ";
  auto part = [&](std::size_t n, const char* what, bool always) {
    if (n > 0 || always) line += std::to_string(n) + " " + what + ", ";
  };
  if (o.info) {
    part(t.split, "can be split", true);
    part(t.incomplete, "failed", false);
    part(t.notStarted, "not started", false);
    line += std::to_string(t.refused) + " refused";
  } else {
    part(t.split, "split", true);
    part(t.incomplete, "incomplete", false);
    part(t.damaged, "damaged", o.salvage);
    part(t.notStarted, "not started", false);
    line += std::to_string(t.refused) + " refused; " + std::to_string(t.written) +
            " frames written, " + std::to_string(t.notWritten) + " not written";
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

// Several files: split on up to -j threads, their messages written in the
// order of the files as each one's turn comes.
int SplitMany(const Options& o) {
  const std::size_t n = o.inputs.size();
  Shared shared;
  shared.batch = true;
  PixelBudget budget(clsGif24bit::kFramePixelBudget);
  shared.budget = &budget;
  if (!o.info && !o.outputDir.empty()) {
    DirectOutput direct;
    if (!shared.folders.Prepare(o.outputDir, direct)) {
      shared.folders.RemoveIfEmpty();
      return kExitWriteFailed;
    }
  }
  struct Slot {
    KeptOutput out;
    FileOutcome outcome;
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned jobs = unsigned(std::min<std::size_t>(o.jobs != 0 ? o.jobs : cores, n));
  std::vector<Slot> slots(n);

  const bool progress = !o.quiet && sys::StderrIsTerminal();
  const auto start = std::chrono::steady_clock::now();
  std::size_t shownWidth = 0;
  bool tableLost = false;
  int status = kExitOk;
  Tally tally;
  tally.files = n;
  auto showProgress = [&](std::size_t done) {
    if (!progress) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[160];
    int len = std::snprintf(line, sizeof line, "files %zu of %zu, %lld frames written, %zu failed",
                            done, n, static_cast<long long>(shared.written.load()),
                            tally.refused + tally.incomplete + std::size_t(tally.notWritten));
    if (done > 0 && done < n) {
      const long left = std::lround(elapsed / double(done) * double(n - done));
      len += std::snprintf(line + len, sizeof line - std::size_t(len), ", %ld:%02ld left",
                           left / 60, left % 60);
    }
    std::fprintf(stderr, "\r%-*s", int(shownWidth), line);
    shownWidth = std::max(shownWidth, std::size_t(len));
  };
  auto clearProgress = [&] {
    if (progress && shownWidth > 0) std::fprintf(stderr, "\r%*s\r", int(shownWidth), "");
  };

  OrderedRun run;
  run.count = n;
  run.jobs = jobs;
  run.task = [&](std::size_t i, unsigned alongside) {
    Slot& slot = slots[i];
    // While there is a file for every job, each run keeps to its own
    // thread; the last ones share the cores the others leave free.
    const bool own = jobs == 1 || alongside < jobs;
    try {
      slot.outcome = SplitFile(o, o.inputs[i], slot.out, shared, own,
                               jobs == 1 ? 0 : std::max(1u, cores / alongside));
    } catch (const std::bad_alloc&) {  // this file's failure, never the run's end
      slot.out.Error("velkor-split: " + o.inputs[i].path + ": failed: out of memory");
      slot.outcome = {kExitWriteFailed, FileOutcome::Kind::Incomplete};
    } catch (const std::exception& e) {
      slot.out.Error("velkor-split: " + o.inputs[i].path + ": failed: " + e.what());
      slot.outcome = {kExitWriteFailed, FileOutcome::Kind::Incomplete};
    }
  };
  run.failed = [&](std::size_t i, const std::string& what) {
    slots[i].out.Error("velkor-split: " + o.inputs[i].path + ": failed: " + what);
    slots[i].outcome = {kExitWriteFailed, FileOutcome::Kind::Incomplete};
  };
  run.tick = showProgress;
  run.deliver = [&](std::size_t i, bool started) {
    if (!started) {
      ++tally.notStarted;
      return;
    }
    Slot& slot = slots[i];
    clearProgress();
    for (const auto& item : slot.out.items) {
      if (item.stream == 1) {
        Listing::Standard().Line(item.text);
      } else if (item.stream == 2) {
        std::fprintf(stderr, "%s\n", item.text.c_str());
      } else if (!tableLost && !WriteOut(item.text)) {
        std::fprintf(stderr, "velkor-split: cannot write the frame table: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        tableLost = true;
      }
    }
    std::vector<KeptOutput::Item>().swap(slot.out.items);
    const FileOutcome& r = slot.outcome;
    status = Worse(status, tableLost ? kExitWriteFailed : r.status);
    tally.Add(r);
    showProgress(i + 1);
  };
  RunInOrder(run);
  clearProgress();
  shared.folders.RemoveIfEmpty();
  PrintSummary(o, tally);
  return status;
}

int Split(const Options& o) {
  Shared shared;
  shared.progress = !o.quiet && sys::StderrIsTerminal();
  DirectOutput out;
  const FileOutcome outcome = SplitFile(o, o.inputs.front(), out, shared, true);
  if (sys::StopRequested()) {
    // A stopped run says how far it came, as a run of several does.
    Tally tally;
    tally.files = 1;
    tally.Add(outcome);
    PrintSummary(o, tally);
  }
  return outcome.status;
}

// "#RRGGBB" or a colour's name, as 0x00RRGGBB.
std::optional<std::uint32_t> ParseColour(const std::string& text) {
  static const std::pair<const char*, std::uint32_t> kNames[] = {
      {"black", 0x000000}, {"white", 0xFFFFFF}, {"gray", 0x808080}, {"grey", 0x808080},
      {"red", 0xFF0000},   {"green", 0x00FF00}, {"blue", 0x0000FF}, {"magenta", 0xFF00FF}};
  for (const auto& [name, value] : kNames) {
    if (text == name) return value;
  }
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 1; i < 7; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | std::uint32_t(digit);
  }
  return value;
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
  auto* salvage = app.add_flag("--salvage", o.salvage);
  auto* recursive = app.add_flag("-r,--recursive", o.recursive);
  auto* keepTree = app.add_flag("--keep-tree", o.keepTree);
  auto* from = app.add_option("--from", o.from);
  auto* nul = app.add_flag("-0,--null", o.nul);
  auto* jobs = app.add_option("-j,--jobs", o.jobs);
  auto* compose = app.add_option("--compose", o.compose);
  auto* background = app.add_option("--background", o.background);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_option("FILE", o.files);
  for (auto* type : {bmp, png, stored}) gif->excludes(type);
  bmp->excludes(png)->excludes(stored);
  png->excludes(stored);
  for (auto* frameOption : {gif, bmp, png, stored, transparent, realtime, dir, frames, quiet,
                            salvage, keepTree, background}) {
    info->excludes(frameOption);
  }
  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  if (o.help || o.version) return std::nullopt;
  if (o.files.empty() && from->count() == 0) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (frames->count() > 0) {
    o.selection = FrameList::Parse(o.frames);
    if (!o.selection)
      return Usage("--frames " + o.frames + ": not a list of frames (3, 1-10, 5-, 1,4,9-12)");
  }
  if (compose->count() > 0 && o.compose != "window" && o.compose != "browser") {
    return Usage("--compose " + o.compose + ": window or browser");
  }
  o.browser = o.compose == "browser";
  if (background->count() > 0) {
    if (!o.browser) return Usage("--background goes with --compose browser");
    const auto colour = ParseColour(o.background);
    if (!colour) {
      return Usage("--background " + o.background +
                   ": not a colour (#RRGGBB, black, white, gray, red, green, blue, magenta)");
    }
    o.backgroundColour = *colour;
  }
  if (dir->count() > 0 && o.outputDir.empty()) return Usage("--output-dir needs a folder");
  if (jobs->count() > 0 && o.jobs == 0) return Usage("--jobs needs a number of 1 or more");
  if (nul->count() > 0 && from->count() == 0) return Usage("-0 goes with --from");
  if (keepTree->count() > 0 && (recursive->count() == 0 || o.outputDir.empty())) {
    return Usage("--keep-tree goes with -r and -o");
  }
  if (from->count() > 0 && o.from.empty())
    return Usage("--from needs a list (- for standard input)");
  if (const auto problem = AddArguments(o.files, o.recursive, o.inputs, o.unreadable)) {
    return Usage(*problem);
  }
  if (!o.from.empty()) {
    std::string problem;
    const auto text = ReadListText(o.from, problem);
    if (!text) return Usage("--from " + o.from + ": " + problem);
    AddList(*text, o.nul, o.inputs);
  }
  if (o.inputs.empty() && o.unreadable.empty()) return Usage("no files to split");
  if (!o.info && !o.Single()) {
    if (const auto problem = Collision(o)) return Usage(*problem);
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  sys::Utf8Arguments arguments(argc, argv);
  const sys::Utf8Console console;
  // From the start a signal asks the run to stop instead of ending the
  // program in the middle of a file: it stops at its next frame, nothing
  // partial is left, and what was written is listed.
  sys::CatchStopSignals();
  Options o;
  if (const auto status = Parse(arguments, o)) return *status;
  if (sys::StopRequested()) {
    std::fprintf(stderr, "velkor-split: interrupted by %s before any file was split\n",
                 SignalName(sys::StopSignal()));
    return sys::StopStatus();
  }
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
  int status = kExitOk;
  // A folder that could not be read is a part of the tree not split.
  for (const auto& folder : o.unreadable) {
    std::fprintf(stderr, "velkor-split: %s\n", folder.c_str());
    status = kExitWriteFailed;
  }
  try {
    if (!o.inputs.empty()) status = Worse(status, o.Single() ? Split(o) : SplitMany(o));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "velkor-split: out of memory\n");
    status = kExitWriteFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velkor-split: %s\n", e.what());
    status = kExitWriteFailed;
  }
  if (const int lost = Listing::Standard().Lost(); lost != 0) {
    std::fprintf(stderr, "velkor-split: cannot write the list of files: %s\n", std::strerror(lost));
    status = kExitWriteFailed;
  }
  if (sys::StopRequested()) status = sys::StopStatus();
  sys::StopDone();
  return status;
}

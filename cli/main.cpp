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

#include "cli/frame_list.h"
#include "cli/frame_table.h"
#include "cli/inputs.h"
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
    "                    [-o DIR] [--frames LIST] [--salvage] [--quiet]\n"
    "                    [-r [--keep-tree]] [--from LIST [-0]] [-j N] FILE...\n"
    "       velkor-split --info [-r] [--from LIST [-0]] FILE...\n";

const char kHelp[] =
    "velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "             [-o DIR] [--frames LIST] [--salvage] [--quiet]\n"
    "             [-r [--keep-tree]] [--from LIST [-0]] [-j N] FILE...\n"
    "velkor-split --info [-r] [--from LIST [-0]] FILE...\n"
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
    "  -o, --output-dir DIR\n"
    "                     write the frames into DIR (made when missing)\n"
    "  --frames LIST      write only these frames, keeping their numbers: 3, 1-10, 5-,\n"
    "                     1,4,9-12 (frames count from 1)\n"
    "  --salvage          a FILE whose bytes are damaged at frame K (cut short, a\n"
    "                     broken block, image data that cannot be decoded) gives\n"
    "                     frames 1 to K-1, composed as a whole file composes them;\n"
    "                     nothing of frame K or later is written\n"
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
    "the frames written and not written. Two files that would write the same\n"
    "names into one folder are a usage error before anything is written. A file\n"
    "that cannot be split never stops the others.\n"
    "\n"
    "Exit status (with several files, the first of 2, 3, 1 that applies):\n"
    "  0   every file was split and every frame written (with --info: every FILE\n"
    "      can be split)\n"
    "  1   some FILE cannot be broken into frames (also anything that is not a\n"
    "      regular file, and a file --frames names no frame of among several);\n"
    "      nothing of it was written\n"
    "  2   some frame files could not be written (each is named on standard\n"
    "      error with the reason), DIR cannot be made or written to, or the\n"
    "      frame table of --info could not be written\n"
    "  3   with --salvage, some FILE was damaged: \"damaged: frames 1 to K-1\n"
    "      written\" on standard error, with the reason\n"
    "  64  usage error\n";

struct Options {
  bool gif = false, bmp = false, png = false, stored = false;
  bool transparent = false, realtime = false, info = false, quiet = false;
  bool help = false, version = false, salvage = false;
  bool recursive = false, keepTree = false, nul = false;
  std::string outputDir, frames, from;
  std::vector<std::string> files;
  unsigned jobs = 0;  // 0: one per core
  std::optional<FrameList> selection;
  std::vector<Input> inputs;
  // One FILE and none of the options that take several: the output is that
  // of a single split, streamed as it is written.
  bool Single() const { return inputs.size() == 1 && from.empty() && !recursive; }
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
  void Line(const std::string& text) override { listing_.Line(text); }
  bool Table(const std::string& text) override { return WriteOut(text); }
  void Error(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }

 private:
  Listing listing_;
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

// The frame pixels that runs side by side keep together: at most one run's
// budget. A run waits for its share; a run alone always gets it.
class PixelBudget {
 public:
  explicit PixelBudget(std::int64_t limit) : limit_(limit) {}
  std::shared_ptr<void> Take(std::int64_t pixels) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ == 0 || used_ + pixels <= limit_; });
    used_ += pixels;
    return std::shared_ptr<void>(nullptr, [this, pixels](void*) {
      std::lock_guard lock(mutex_);
      used_ -= pixels;
      freed_.notify_all();
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  std::int64_t limit_, used_ = 0;
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
  int status = kExitOk;
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
  return split ? kExitOk : kExitNotAnimated;
}

// Splits one file; with `ownThreads`, on threads of its own besides this one.
FileOutcome SplitFile(const Options& o, const Input& in, Output& out, Shared& shared,
                      bool ownThreads) {
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
    engine.PixelGate = [&shared](std::int64_t pixels) { return shared.budget->Take(pixels); };
  }
  engine.OwnThreads = ownThreads;
  const bool split = BreakOutRun(engine);
  engine.UserDelay(0);  // as the play sets it: the waits --info reports are the play's
  if (o.info) {
    outcome.status = PrintTable(engine, engine.Options.DecoderPath, out, shared.batch);
    return outcome;
  }
  if (!split) {
    out.Error("velkor-split: " + engine.Options.DecoderPath +
              ": cannot be split: " + DescribeFailure(engine.LastFailure()));
    outcome.status = kExitNotAnimated;
    return outcome;
  }
  const std::int64_t count = std::int64_t(engine.Frames.size());
  if (o.selection && !o.selection->NamesAnyOf(count)) {
    const std::string message = "--frames " + o.frames + ": names no frame of " +
                                engine.Options.DecoderPath + ", which has " +
                                std::to_string(count) + (count == 1 ? " frame" : " frames");
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
  if (engine.Damage()) {
    const std::string kept = "frames 1 to " + std::to_string(count);
    out.Error("velkor-split: " + engine.Options.DecoderPath + ": damaged: " +
              (o.selection ? kept + " kept, " + std::to_string(result.framesWritten) + " written"
                           : kept + " written") +
              ": " + DescribeFailure(*engine.Damage()));
  }
  outcome.status = !result.Complete() ? kExitWriteFailed : engine.Damage() ? kExitDamaged : kExitOk;
  return outcome;
}

// The exit status of several files: 2 before 3 before 1 before 0.
int Worse(int a, int b) {
  auto rank = [](int s) { return s == kExitWriteFailed ? 3 : s == kExitDamaged ? 2 : s; };
  return rank(b) > rank(a) ? b : a;
}

// Refuses, before anything is written, two files that would write frames of
// the same names into one folder, and a frame name that is one of the files.
std::optional<std::string> Collision(const Options& o) {
  const char* ext = o.png || o.stored ? ".png" : o.bmp ? ".bmp" : ".gif";
  std::map<std::string, std::string> bases;  // output base name -> the file
  std::set<std::string> sources;
  for (const auto& in : o.inputs) {
    const RunOptions run = RunOptionsFor(o, in);
    sources.insert(run.DecoderPath);
    const auto [at, fresh] = bases.emplace(run.OutputBaseName, in.path);
    if (!fresh) {
      const std::string base = run.OutputBaseName;
      const auto slash = base.find_last_of(kPathSeparators);
      return at->second + " and " + in.path + " would both write " +
             base.substr(slash == std::string::npos ? 0 : slash + 1) + "_NNN" + ext + " into " +
             (slash == std::string::npos ? std::string(".") : base.substr(0, slash));
    }
  }
  for (const auto& source : sources) {
    for (auto cut = source.rfind('_'); cut != std::string::npos && cut > 0;
         cut = source.rfind('_', cut - 1)) {
      const auto base = bases.find(source.substr(0, cut));
      if (base == bases.end()) continue;
      const std::string rest = source.substr(cut + 1);
      const auto dot = rest.find('.');
      if (dot != std::string::npos && dot >= 3 && rest.substr(dot) == ext &&
          rest.find_first_not_of("0123456789") == dot) {
        return "the frames of " + base->second + " would replace " + source + ", also to be split";
      }
    }
  }
  return std::nullopt;
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
    bool done = false;
    KeptOutput out;
    FileOutcome outcome;
  };
  // With -j1 this thread splits every file itself, in turn; otherwise it
  // writes each file's messages when their turn comes, and the progress.
  const unsigned jobs = unsigned(std::min<std::size_t>(
      o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency()), n));
  std::vector<Slot> slots(n);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    const sys::HeadlessThread headless;
    for (std::size_t i; (i = next.fetch_add(1)) < n;) {
      Slot& slot = slots[i];
      FileOutcome outcome;
      try {
        // While there is a file for every job, each run keeps to its own
        // thread; the last ones use the cores the others leave free.
        outcome = SplitFile(o, o.inputs[i], slot.out, shared, jobs == 1 || n - i < jobs);
      } catch (const std::exception& e) {  // this file's failure, never the run's end
        slot.out.Error("velkor-split: " + o.inputs[i].path + ": cannot be split: " + e.what());
        outcome.status = kExitNotAnimated;
      }
      std::lock_guard lock(mutex);
      slot.outcome = outcome;
      slot.done = true;
      finished.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; jobs > 1 && t < jobs; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {  // fewer threads, or this one alone
      break;
    }
  }

  const bool progress = !o.quiet && sys::StderrIsTerminal();
  const auto start = std::chrono::steady_clock::now();
  std::size_t shownWidth = 0;
  Listing listing;
  bool tableLost = false;
  int status = kExitOk;
  std::int64_t written = 0, notWritten = 0;
  std::size_t split = 0, damaged = 0, refused = 0;
  auto showProgress = [&](std::size_t done) {
    if (!progress) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[160];
    int len = std::snprintf(line, sizeof line, "files %zu of %zu, %lld frames written, %zu failed",
                            done, n, static_cast<long long>(shared.written.load()),
                            refused + std::size_t(notWritten));
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
  if (threads.empty()) work();
  for (std::size_t i = 0; i < n; ++i) {
    std::unique_lock lock(mutex);
    while (!slots[i].done) {
      if (progress) {
        finished.wait_for(lock, std::chrono::milliseconds(250));
        lock.unlock();
        showProgress(i);
        lock.lock();
      } else {
        finished.wait(lock);
      }
    }
    lock.unlock();
    Slot& slot = slots[i];
    clearProgress();
    for (const auto& item : slot.out.items) {
      if (item.stream == 1) {
        listing.Line(item.text);
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
    written += r.written;
    notWritten += r.notWritten;
    if (r.status == kExitNotAnimated) {
      ++refused;
    } else if (r.status == kExitDamaged) {
      ++damaged;
    } else {
      ++split;
    }
    showProgress(i + 1);
  }
  for (auto& t : threads) t.join();
  clearProgress();
  shared.folders.RemoveIfEmpty();
  if (o.info) {
    std::fprintf(stderr, "velkor-split: %zu files: %zu can be split, %zu refused\n", n, split,
                 refused);
  } else {
    std::string damagedText = o.salvage ? std::to_string(damaged) + " damaged, " : "";
    std::fprintf(stderr,
                 "velkor-split: %zu files: %zu split, %s%zu refused; %lld frames written, %lld not "
                 "written\n",
                 n, split, damagedText.c_str(), refused, static_cast<long long>(written),
                 static_cast<long long>(notWritten));
  }
  return status;
}

int Split(const Options& o) {
  Shared shared;
  shared.progress = !o.quiet && sys::StderrIsTerminal();
  DirectOutput out;
  return SplitFile(o, o.inputs.front(), out, shared, true).status;
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
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_option("FILE", o.files);
  for (auto* type : {bmp, png, stored}) gif->excludes(type);
  bmp->excludes(png)->excludes(stored);
  png->excludes(stored);
  for (auto* frameOption :
       {gif, bmp, png, stored, transparent, realtime, dir, frames, quiet, salvage, keepTree}) {
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
  if (dir->count() > 0 && o.outputDir.empty()) return Usage("--output-dir needs a folder");
  if (jobs->count() > 0 && o.jobs == 0) return Usage("--jobs needs a number of 1 or more");
  if (nul->count() > 0 && from->count() == 0) return Usage("-0 goes with --from");
  if (keepTree->count() > 0 && (recursive->count() == 0 || o.outputDir.empty())) {
    return Usage("--keep-tree goes with -r and -o");
  }
  if (from->count() > 0 && o.from.empty())
    return Usage("--from needs a list (- for standard input)");
  if (const auto problem = AddArguments(o.files, o.recursive, o.inputs)) return Usage(*problem);
  if (!o.from.empty()) {
    const auto text = ReadListText(o.from);
    if (!text) {
      return Usage("--from " + o.from +
                   ": cannot read: " + std::strerror(errno != 0 ? errno : EIO));
    }
    AddList(*text, o.nul, o.inputs);
  }
  if (o.inputs.empty()) return Usage("no files to split");
  if (!o.info && !o.Single()) {
    if (const auto problem = Collision(o)) return Usage(*problem);
  }
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
  return o.Single() ? Split(o) : SplitMany(o);
}

#include "cli/split_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "cli/collisions.h"
#include "cli/frame_table.h"
#include "cli/ordered_runner.h"
#include "cli/sheet.h"
#include "engine/run.h"
#include "platform/system/system.h"
#include "settings/settings.h"

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(sys::PathOf(path), ec);
  return ec ? path : sys::Utf8Of(absolute.lexically_normal());
}

namespace {

using Json = nlohmann::ordered_json;

std::string Line(const Json& record) {
  return record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The folder a file's frames go into when it is not the file's own: DIR, or
// with --keep-tree the file's sub-folder under DIR.
std::string OutputDirFor(const Options& o, const Input& in) {
  if (o.outputDir.empty() || !o.keepTree || in.subfolder.empty()) return o.outputDir;
  return sys::Utf8Of(sys::PathOf(o.outputDir) / sys::PathOf(in.subfolder));
}

// Where a file's frames go and what they are called: the folder (with its
// separator) and the names in it.
struct Placement {
  std::string folder;
  FrameNames names;
};

Placement PlacementOf(const Options& o, const Input& in, const std::string& decoderPath) {
  const SourceNames source = DeriveSourceNames(decoderPath);
  Placement place;
  const std::string dir = OutputDirFor(o, in);
  place.folder = dir.empty() ? source.LastFolder : Absolute(dir);
  if (place.folder.empty() || place.folder.back() != kPathSeparator) place.folder += kPathSeparator;
  const SourceParts parts = in.standardInput
                                ? SourceParts{"stdin", "stdin"}
                                : PartsOf(sys::Utf8Of(sys::PathOf(decoderPath).filename()));
  place.names = o.names.For(parts.stem, parts.name);
  return place;
}

// A file's sheet without its extension: NAME in the frames' folder.
std::string SheetBase(const Options& o, const Input& in, const std::string& decoderPath) {
  const Placement place = PlacementOf(o, in, decoderPath);
  return place.folder + (in.standardInput
                             ? std::string("stdin")
                             : PartsOf(sys::Utf8Of(sys::PathOf(decoderPath).filename())).name);
}

// How many of `count` frames the run is asked for.
std::int64_t FramesAsked(const Options& o, std::int64_t count) {
  if (!o.selection) return count;
  std::int64_t asked = 0;
  for (std::int64_t n = 1; n <= count; ++n) asked += o.selection->Contains(n) ? 1 : 0;
  return asked;
}

const char* KindName(FileOutcome::Kind kind) {
  switch (kind) {
    case FileOutcome::Kind::Split:
      return "split";
    case FileOutcome::Kind::Incomplete:
      return "incomplete";
    case FileOutcome::Kind::Damaged:
      return "damaged";
    case FileOutcome::Kind::Refused:
      return "refused";
  }
  return "refused";
}

// --json's last object for a file: what became of it.
std::string FileRecord(const Input& in, const FileOutcome& r, const char* outcome) {
  Json record;
  record["type"] = "file";
  record["file"] = in.Shown();
  record["outcome"] = outcome;
  record["frames"] = r.frames >= 0 ? Json(r.frames) : Json(nullptr);
  record["written"] = r.written;
  record["not_written"] = r.notWritten;
  record["kept"] = r.kept;
  if (!r.reason.empty()) {
    record["reason"] = r.reason;
    record["message"] = r.message;
  }
  return Line(record);
}

// The frames as they are written: their paths on standard output, the
// progress of a single file on a terminal, and the count of a run of several.
class PrintingSink : public ExportSink {
 public:
  PrintingSink(const Options& o, const Input& in, const clsGif24bit& engine, Output& out,
               Shared& shared, std::int64_t frames)
      : o_(o), in_(in), engine_(engine), out_(out), shared_(shared), frames_(frames) {}
  ~PrintingSink() override {
    if (shown_ > 0) std::fputc('\n', stderr);
  }
  void FrameExported(const ExportedFrame& frame) override {
    // The listing names the files that exist afterwards: a frame is named
    // there once written, and only on standard error when it could not be
    // (--json names both). A sheet's frames are no files: the sheet is
    // listed once written.
    if (o_.sheet) {
    } else if (o_.listing == ListFormat::Json) {
      Json record;
      record["type"] = "frame";
      record["file"] = in_.Shown();
      record["frame"] = frame.n;
      record["path"] = frame.path;
      const auto k = std::size_t(frame.n - 1);
      record["delay"] =
          k < engine_.Frames.size() ? int(std::uint16_t(engine_.Frames[k].DelayTime)) : 0;
      record["written"] = frame.written;
      if (!frame.written) record["reason"] = frame.reason;
      out_.Listed(Line(record));
    } else if (frame.written && (!o_.quiet || o_.listing == ListFormat::Nul)) {
      out_.Listed(ListedPath(frame.path, o_.listing));
    }
    if (frame.kept && !o_.quiet) {
      out_.Error("velkor-split: " + frame.path + ": not written: exists");
    }
    if (frame.written) ++shared_.written;
    if (!shared_.progress) return;
    std::fprintf(stderr, "\rframe %lld of %lld", static_cast<long long>(++shown_),
                 static_cast<long long>(frames_));
  }

 private:
  const Options& o_;
  const Input& in_;
  const clsGif24bit& engine_;
  Output& out_;
  Shared& shared_;
  std::int64_t frames_, shown_ = 0;
};

int PrintTable(const clsGif24bit& engine, const std::string& file, const std::string& shown,
               Output& out, bool oneLine) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(sys::PathOf(file), ec);
  const bool split = engine.BrokenOut();
  const auto table = FrameTable(engine, shown, ec ? -1 : std::int64_t(size), split);
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

// What a split that has decided the file's outcome still says: its record
// under --json.
FileOutcome Finish(const Options& o, const Input& in, Output& out, FileOutcome outcome) {
  if (o.listing == ListFormat::Json) out.Listed(FileRecord(in, outcome, KindName(outcome.kind)));
  return outcome;
}

// What a sheet run comes to once every frame asked for has been composed
// (or not): the sheet written, kept by -n, or why there is none.
FileOutcome SheetOutcome(const Options& o, const Input& in, Output& out, const clsGif24bit& engine,
                         const RunResult& result, std::optional<SheetBuilder>& sheet,
                         FileOutcome outcome) {
  const std::string path =
      in.standardInput ? std::string("standard input") : engine.Options.DecoderPath;
  auto say = [&](const std::string& reason, const std::string& words) {
    out.Error("velkor-split: " + path + ": " + words);
    if (outcome.reason.empty()) {
      outcome.reason = reason;
      outcome.message = words;
    }
  };
  const std::int64_t asked = FramesAsked(o, outcome.frames);
  auto incomplete = [&](const std::string& reason, const std::string& words) {
    say(reason, words);
    outcome.notWritten = asked;
    outcome.status = kExitWriteFailed;
    outcome.kind = FileOutcome::Kind::Incomplete;
    return outcome;
  };
  // A sheet is all of its frames or nothing.
  if (!result.failed.empty()) {
    const auto& failed = result.failed.front();
    return incomplete("not-written", "no sheet written: frame " + std::to_string(failed.n) +
                                         " cannot be composed: " + failed.reason);
  }
  if (result.framesWritten < asked || !sheet) {
    return incomplete(ReasonId(BreakOutReason::Interrupted),
                      "interrupted: no sheet written (" + std::to_string(result.framesWritten) +
                          " of " + Count(asked, "frame", "frames") + " composed)");
  }
  const std::string base = SheetBase(o, in, engine.Options.DecoderPath);
  SheetNames names;
  names.animation = sys::Utf8Of(sys::PathOf(base).filename());
  if (engine.LoopCount >= 0) names.loopCount = int(engine.LoopCount);
  names.version = VELKOR_VERSION;
  const SheetWritten sheetFiles =
      WriteSheet(*sheet, base, names, o.noClobber, engine.Options.ProtectedFile);
  sheet.reset();  // its frames are no longer needed
  if (sheetFiles.layoutRefused) {
    say("sheet-layout", "no sheet written: " + sheetFiles.reason);
    outcome.status = kExitNotAnimated;
    outcome.kind = FileOutcome::Kind::Refused;
    return outcome;
  }
  if (sheetFiles.kept) {
    if (!o.quiet) out.Error("velkor-split: " + sheetFiles.failedPath + ": not written: exists");
    outcome.kept = asked;
  } else if (!sheetFiles.written) {
    out.Error("velkor-split: " + sheetFiles.failedPath + ": cannot write: " + sheetFiles.reason);
    return incomplete("not-written",
                      sheetFiles.failedPath + ": cannot write: " + sheetFiles.reason);
  } else {
    outcome.written = asked;
    for (const auto& file : sheetFiles.files) {
      if (o.listing == ListFormat::Json) {
        if (file.atlas) continue;
        Json record;
        record["type"] = "sheet";
        record["file"] = in.Shown();
        record["page"] = file.page + 1;
        record["image"] = file.path;
        record["atlas"] = sheetFiles.files[2 * file.page + 1].path;
        record["frames"] = file.frames;
        out.Listed(Line(record));
      } else if (!o.quiet || o.listing == ListFormat::Nul) {
        out.Listed(ListedPath(file.path, o.listing));
      }
    }
  }
  outcome.status = kExitOk;
  outcome.kind = FileOutcome::Kind::Split;
  if (engine.Damage()) {
    say(ReasonId(engine.Damage()->reason),
        "damaged: " + FrameRange(1, outcome.frames) +
            (o.selection ? " kept, " + std::to_string(asked) + " in the sheet" : " in the sheet") +
            ": " + DescribeFailure(*engine.Damage()));
    outcome.status = kExitDamaged;
    outcome.kind = FileOutcome::Kind::Damaged;
  }
  return outcome;
}

}  // namespace

RunOptions RunOptionsFor(const Options& o, const Input& in) {
  RunOptions run;
  // The main window gets an absolute path from its file dialog; so does this.
  run.DecoderPath = Absolute(in.path);
  const SourceNames names = DeriveSourceNames(run.DecoderPath);
  run.Split = true;
  run.GifFiles = !o.bmp;
  run.Transparent = o.transparent;
  run.OutputBaseName = names.OutputBaseName;
  const Placement place = PlacementOf(o, in, run.DecoderPath);
  if (in.standardInput || !OutputDirFor(o, in).empty()) {
    run.OutputBaseName =
        place.folder + (in.standardInput
                            ? std::string("stdin")
                            : names.OutputBaseName.substr(names.LastFolder.size() + 1));
  }
  if (!o.names.IsDefault()) {
    run.FramePath = [place](std::int64_t n, std::int64_t frames) {
      return place.folder + place.names.Name(n, frames);
    };
  }
  run.ProtectedFile = run.DecoderPath;
  run.KeepExisting = o.noClobber;
  run.Salvage = o.salvage;
  run.ExportAs = o.png      ? FrameFiles::Png
                 : o.stored ? FrameFiles::StoredPng
                            : FrameFiles::ByOutputType;
  if (o.selection) {
    run.ExportSelected = [selection = *o.selection](std::int64_t n) {
      return selection.Contains(n);
    };
  }
  if (o.sheet) run.ExportAs = FrameFiles::Png;  // the frames a sheet is made of
  if (o.browser) {
    run.Compose = Composition::Browser;
    run.BrowserBackground = o.backgroundColour;
  }
  return run;
}

FileOutcome SplitFile(const Options& o, const Input& in, Output& out, Shared& shared,
                      bool ownThreads, unsigned decodeThreads) {
  FileOutcome outcome;
  RunOptions options = RunOptionsFor(o, in);
  options.OwnThreads = ownThreads;
  options.DecodeThreads = decodeThreads;
  if (shared.budget != nullptr) {
    options.PixelGate = [&shared](std::int64_t bytes) { return shared.budget->Take(bytes); };
  }
  // Sheets: the frames are kept as they come and packed once all are there.
  std::optional<SheetBuilder> sheet;
  const clsGif24bit* running = nullptr;
  if (o.sheet) {
    const FrameNames labels = PlacementOf(o, in, options.DecoderPath).names;
    const SheetLayoutOptions layout{o.sheetColumns, o.sheetPadding, o.sheetExtrude, o.sheetMax,
                                    o.sheetTrim};
    options.TakeFrame = [&sheet, &running, labels, layout](
                            std::int64_t n, const gdi::Bitmap& picture,
                            const std::uint8_t* alpha) -> std::string {
      if (!sheet) sheet.emplace(layout, picture.Width(), picture.Height());
      if (picture.Width() != sheet->Width() || picture.Height() != sheet->Height()) {
        return "the frame's size differs from the first one's";
      }
      const std::size_t k = std::size_t(n - 1);
      const std::int64_t frames = std::int64_t(running->Frames.size());
      const int delay =
          k < running->Frames.size() ? int(std::uint16_t(running->Frames[k].DelayTime)) : 0;
      sheet->Add(labels.Name(n, frames), delay, picture.Row32(0), std::size_t(picture.Width()),
                 alpha);
      return std::string();
    };
  }
  HeadlessRun run(options);
  clsGif24bit& engine = run.Engine();
  running = &engine;
  const bool split = BreakOutRun(engine);
  engine.UserDelay(0);  // as the play sets it: the waits --info reports are the play's
  // An empty FILE names no file: shown as "" so that the message says so.
  const std::string path = in.standardInput                     ? std::string("standard input")
                           : engine.Options.DecoderPath.empty() ? std::string("\"\"")
                                                                : engine.Options.DecoderPath;
  if (o.info) {
    outcome.status =
        PrintTable(engine, engine.Options.DecoderPath,
                   in.standardInput ? in.Shown() : engine.Options.DecoderPath, out, shared.batch);
    outcome.kind = outcome.status == kExitOk            ? FileOutcome::Kind::Split
                   : outcome.status == kExitNotAnimated ? FileOutcome::Kind::Refused
                                                        : FileOutcome::Kind::Incomplete;
    return outcome;
  }
  auto say = [&](const std::string& reason, const std::string& words) {
    out.Error("velkor-split: " + path + ": " + words);
    if (outcome.reason.empty()) {
      outcome.reason = reason;
      outcome.message = words;
    }
  };
  const std::int64_t count = std::int64_t(engine.Frames.size());
  if (!split) {
    const BreakOutFailure& failure = engine.LastFailure();
    if (failure.reason == BreakOutReason::Interrupted) {
      say(ReasonId(failure.reason),
          "interrupted: 0 of " + Count(FramesAsked(o, count), "frame", "frames") + " written");
      outcome.status = kExitWriteFailed;
      outcome.kind = FileOutcome::Kind::Incomplete;
    } else if (IsSystemFailure(failure)) {
      say(ReasonId(failure.reason), "failed: " + DescribeFailure(failure));
      outcome.status = kExitWriteFailed;
      outcome.kind = FileOutcome::Kind::Incomplete;
    } else {
      say(ReasonId(failure.reason), "cannot be split: " + DescribeFailure(failure));
      outcome.status = kExitNotAnimated;
      outcome.kind = FileOutcome::Kind::Refused;
      outcome.failure = failure;
    }
    return Finish(o, in, out, outcome);
  }
  outcome.frames = count;
  if (o.selection && !o.selection->NamesAnyOf(count)) {
    // The same for one file as among several: the list is no mistake in
    // the options, this file just has none of its frames.
    const std::string words = "--frames " + o.frames + ": names no frame of " + path +
                              ", which has " + Count(count, "frame", "frames");
    out.Error("velkor-split: " + words);
    outcome.reason = "no-frame-listed";
    outcome.message = words;
    outcome.kind = FileOutcome::Kind::Refused;
    outcome.status = kExitNotAnimated;
    return Finish(o, in, out, outcome);
  }
  // The folder is made and tried once the file is known to split, before
  // any frame is played: a refused file leaves nothing behind.
  const std::string dir = OutputDirFor(o, in);
  if (!dir.empty() && !shared.folders.Prepare(dir, out)) {
    if (!shared.batch) shared.folders.RemoveIfEmpty();
    outcome.reason = "output-folder";
    outcome.message = "the output folder cannot be made or written to";
    outcome.status = kExitWriteFailed;
    outcome.kind = FileOutcome::Kind::Incomplete;
    return Finish(o, in, out, outcome);
  }
  RunResult result;
  {
    PrintingSink sink(o, in, engine, out, shared, count);
    result = PlayRun(engine, &sink);
  }
  if (o.sheet) {
    outcome = SheetOutcome(o, in, out, engine, result, sheet, std::move(outcome));
    if (outcome.written == 0 && !shared.batch) shared.folders.RemoveIfEmpty();
    return Finish(o, in, out, std::move(outcome));
  }
  if (result.framesWritten == 0 && !shared.batch) shared.folders.RemoveIfEmpty();
  for (const auto& failed : result.failed) {
    out.Error("velkor-split: " + failed.path + ": cannot write: " + failed.reason);
    if (outcome.reason.empty()) {
      outcome.reason = "not-written";
      outcome.message = failed.path + ": cannot write: " + failed.reason;
    }
  }
  outcome.written = result.framesWritten;
  outcome.kept = result.framesKept;
  outcome.notWritten = std::int64_t(result.failed.size());
  const std::int64_t asked = FramesAsked(o, count);
  const bool interrupted = outcome.written + outcome.kept + outcome.notWritten < asked;
  if (interrupted) {
    outcome.reason.clear();
    say(ReasonId(BreakOutReason::Interrupted), "interrupted: " + std::to_string(outcome.written) +
                                                   " of " + Count(asked, "frame", "frames") +
                                                   " written");
  }
  if (engine.Damage()) {
    const std::string kept = FrameRange(1, count);
    say(ReasonId(engine.Damage()->reason),
        "damaged: " +
            (o.selection ? kept + " kept, " + std::to_string(result.framesWritten) + " written"
                         : kept + " written") +
            ": " + DescribeFailure(*engine.Damage()));
  }
  const bool complete = result.Complete() && !interrupted;
  outcome.status = !complete ? kExitWriteFailed : engine.Damage() ? kExitDamaged : kExitOk;
  outcome.kind = !complete         ? FileOutcome::Kind::Incomplete
                 : engine.Damage() ? FileOutcome::Kind::Damaged
                                   : FileOutcome::Kind::Split;
  return Finish(o, in, out, outcome);
}

int Worse(int a, int b) {
  auto rank = [](int s) { return s == kExitWriteFailed ? 3 : s == kExitDamaged ? 2 : s; };
  return rank(b) > rank(a) ? b : a;
}

std::optional<std::string> Collision(const Options& o) {
  if (o.sheet) {
    // A sheet's files are NAME.png and NAME.json (or its pages'): two files
    // of one NAME in one folder would write the same ones, and a sheet may
    // not replace a file of the run.
    std::map<std::string, const Input*> sheets;
    std::map<std::string, const Input*> sources;
    for (const auto& in : o.inputs) sources.emplace(RealPlace(Absolute(in.path)), &in);
    for (const auto& in : o.inputs) {
      const std::string base = SheetBase(o, in, Absolute(in.path));
      const auto [at, fresh] = sheets.emplace(RealPlace(base + ".png"), &in);
      if (!fresh) {
        const auto slash = base.find_last_of(kPathSeparators);
        return at->second->Shown() + " and " + in.Shown() + " would both write the sheet " +
               base.substr(slash + 1) + ".png into " + base.substr(0, slash);
      }
      for (const char* extension : {".png", ".json"}) {
        const auto source = sources.find(RealPlace(base + extension));
        if (source != sources.end()) {
          return "the sheet of " + in.Shown() + " would replace " + source->second->Shown() +
                 ", also to be split";
        }
      }
    }
    return std::nullopt;
  }
  std::vector<PlannedFrames> plan;
  for (const auto& in : o.inputs) {
    const std::string path = Absolute(in.path);
    const Placement place = PlacementOf(o, in, path);
    const std::string base = place.folder + place.names.prefix;
    // The key of a base is that of a name in its folder: the base may end
    // in the folder's separator.
    std::string baseKey = RealPlace(base + "x");
    baseKey.pop_back();
    plan.push_back({in.standardInput ? std::string("-") : in.path, path, base, place.names.suffix,
                    place.names.number.FewestDigits(), RealPlace(path), baseKey});
  }
  return FindCollision(plan, o.Extension());
}

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

namespace {

void Add(Tally& t, const FileOutcome& r) {
  t.written += r.written;
  t.notWritten += r.notWritten;
  t.kept += r.kept;
  switch (r.kind) {
    case FileOutcome::Kind::Split:
      ++t.split;
      break;
    case FileOutcome::Kind::Incomplete:
      ++t.incomplete;
      break;
    case FileOutcome::Kind::Damaged:
      ++t.damaged;
      break;
    case FileOutcome::Kind::Refused:
      ++t.refused;
      break;
  }
}

void PrintSummary(const Options& o, const Tally& t) {
  if (o.quiet) return;  // a summary is no error
  const std::string line = SummaryLine(
      t, o.info, o.salvage, sys::StopRequested() ? SignalName(sys::StopSignal()) : nullptr);
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

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
  tally.skipped = o.skipped;
  auto showProgress = [&](std::size_t done) {
    if (!progress) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[160];
    const long long written = shared.written.load();
    int len = std::snprintf(line, sizeof line, "files %zu of %zu, %lld %s written, %zu failed",
                            done, n, written, written == 1 ? "frame" : "frames",
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
  auto failed = [&](std::size_t i, const std::string& what) {
    slots[i].out.Error("velkor-split: " + o.inputs[i].Shown() + ": failed: " + what);
    slots[i].outcome = FileOutcome{};
    slots[i].outcome.status = kExitWriteFailed;
    slots[i].outcome.kind = FileOutcome::Kind::Incomplete;
    slots[i].outcome.reason = "failed";
    slots[i].outcome.message = "failed: " + what;
    if (o.listing == ListFormat::Json) {
      slots[i].out.Listed(FileRecord(o.inputs[i], slots[i].outcome, "incomplete"));
    }
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
      failed(i, "out of memory");
    } catch (const std::exception& e) {
      failed(i, e.what());
    }
  };
  run.failed = failed;
  run.tick = showProgress;
  run.deliver = [&](std::size_t i, bool started) {
    if (!started) {
      ++tally.notStarted;
      if (o.listing == ListFormat::Json) {
        Listing::Standard().Write(FileRecord(o.inputs[i], FileOutcome{}, "not-started"));
      }
      return;
    }
    Slot& slot = slots[i];
    clearProgress();
    for (const auto& item : slot.out.items) {
      if (item.stream == KeptOutput::Stream::Listing) {
        Listing::Standard().Write(item.text);
      } else if (item.stream == KeptOutput::Stream::Error) {
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
    Add(tally, r);
    showProgress(i + 1);
  };
  RunInOrder(run);
  clearProgress();
  shared.folders.RemoveIfEmpty();
  PrintSummary(o, tally);
  return status;
}

int SplitOne(const Options& o) {
  Shared shared;
  shared.progress = !o.quiet && sys::StderrIsTerminal();
  DirectOutput out;
  const FileOutcome outcome = SplitFile(o, o.inputs.front(), out, shared, true);
  if (sys::StopRequested()) {
    // A stopped run says how far it came, as a run of several does.
    Tally tally;
    tally.files = 1;
    Add(tally, outcome);
    PrintSummary(o, tally);
  }
  return outcome.status;
}

// The split runs of velkor-split: one file, streamed as it is written, or
// several side by side with their words handed over in the order of the
// files.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/outputs.h"
#include "cli/pixel_budget.h"
#include "engine/gif24bit.h"

// What the command line asks of a run of one file: the same choices a split
// in the window makes, with the frames named after FILE in its folder or in
// DIR, and the command line's own (PNG frames, a frame list, salvage, the
// composition). The threads and the memory budget are the runner's.
RunOptions RunOptionsFor(const Options& o, const Input& in);

// What became of one FILE.
struct FileOutcome {
  enum class Kind { Split, Incomplete, Damaged, Refused };
  int status = kExitOk;
  Kind kind = Kind::Split;
  std::int64_t written = 0, notWritten = 0, kept = 0;
  std::int64_t frames = -1;  // the frames the file holds; -1 when not broken out
  std::string reason;        // a stable id of what went wrong, for --json
  std::string message;       // and its words
  BreakOutFailure failure;   // refused in its break-out: why, where (else reason None)
};

// The absolute, normalised form of a UTF-8 path; the path itself when it has
// none.
std::string Absolute(const std::string& path);

// What the runs of one velkor-split share.
struct Shared {
  OutputFolders folders;
  PixelBudget* budget = nullptr;         // runs side by side only
  std::atomic<std::int64_t> written{0};  // frames written so far, for the progress
  bool batch = false;
  bool progress = false;  // a single file's progress line
};

// Splits one file (or prints its table), its words to `out`; with
// `ownThreads`, on threads of its own besides this one (`decodeThreads` of
// them for decoding; 0: one per core).
FileOutcome SplitFile(const Options& o, const Input& in, Output& out, Shared& shared,
                      bool ownThreads, unsigned decodeThreads = 0);

// The exit status of several files: 2 before 3 before 1 before 0.
int Worse(int a, int b);

// Two files of the run whose frames would share names, or a frame name that
// is a file of the run: said for a person. None when the run may go.
std::optional<std::string> Collision(const Options& o);

// Runs the files of `o`: one alone, or several on up to -j threads. The
// exit status.
int SplitOne(const Options& o);
int SplitMany(const Options& o);

const char* SignalName(int signal);

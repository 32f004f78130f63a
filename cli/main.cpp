// velkor-split: a split run without windows, and the frame table.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/split_run.h"
#include "platform/system/system.h"

int main(int argc, char** argv) {
  sys::Utf8Arguments arguments(argc, argv);
  const sys::Utf8Console console;
  // From the start a signal asks the run to stop instead of ending the
  // program in the middle of a file: it stops at its next frame, nothing
  // partial is left, and what was written is listed.
  sys::CatchStopSignals();
#ifdef SIGPIPE
  // A reader that goes away must not end the run: the frames are the point.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  // A file over the size limit is a frame that cannot be written, with its
  // reason, not the end of the run.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Options o;
  auto refusal = ParseOptions({arguments.Values(), arguments.Values() + arguments.Count()}, o);
  if (!refusal && !o.help && !o.version) refusal = GatherInputs(o);
  if (!refusal && !o.help && !o.version && !o.info && !o.Single()) {
    if (auto collision = Collision(o)) refusal = Refusal{*collision, kExitUsage, false};
  }
  if (refusal) {
    if (!refusal->message.empty())
      std::fprintf(stderr, "velkor-split: %s\n", refusal->message.c_str());
    if (refusal->usage) std::fputs(kUsage, stderr);
    return refusal->status;
  }
  if (sys::StopRequested()) {
    std::fprintf(stderr, "velkor-split: interrupted by %s before any file was split\n",
                 SignalName(sys::StopSignal()));
    return sys::StopStatus();
  }
  if (o.help || o.version) {
    std::fputs(o.help ? kHelp : "velkor-split " VELKOR_VERSION "\n", stdout);
    return kExitOk;
  }
  if (!o.realtime) sys::SetSleepHook([](std::int64_t) {});
  int status = kExitOk;
  // A folder that could not be read is a part of the tree not split.
  for (const auto& folder : o.unreadable) {
    std::fprintf(stderr, "velkor-split: %s\n", folder.c_str());
    status = kExitWriteFailed;
  }
  try {
    if (!o.inputs.empty()) status = Worse(status, o.Single() ? SplitOne(o) : SplitMany(o));
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

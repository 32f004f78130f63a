// velkor-split's command line: the options, their words for a person (the
// usage and help texts, the messages for mistakes), and the files a run
// takes from its FILE arguments, folders and lists.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/frame_list.h"
#include "cli/inputs.h"
#include "cli/names.h"
#include "cli/outputs.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotAnimated = 1;
inline constexpr int kExitWriteFailed = 2;
inline constexpr int kExitDamaged = 3;
inline constexpr int kExitUsage = 64;

extern const char kUsage[];
extern const char kHelp[];

// The copy of standard input that "-" is split from, removed with the last
// owner.
class StandardInputCopy {
 public:
  explicit StandardInputCopy(std::string path) : path_(std::move(path)) {}
  ~StandardInputCopy();
  StandardInputCopy(const StandardInputCopy&) = delete;
  StandardInputCopy& operator=(const StandardInputCopy&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct Options {
  bool gif = false, bmp = false, png = false, stored = false;
  bool transparent = false, realtime = false, info = false, quiet = false;
  bool help = false, version = false, salvage = false;
  bool recursive = false, keepTree = false, nul = false;
  bool noClobber = false;
  ListFormat listing = ListFormat::Lines;
  std::string outputDir, frames, from;
  std::string compose = "window", background;
  bool browser = false;
  // --sheet: the frames packed into sprite sheets and their atlases.
  bool sheet = false, sheetTrim = false;
  int sheetColumns = 0, sheetPadding = 0, sheetExtrude = 0, sheetMax = 4096;
  std::uint32_t backgroundColour = 0;  // 0x00RRGGBB
  NamePattern names;
  std::vector<std::string> files;
  unsigned jobs = 0;  // 0: one per core
  std::optional<FrameList> selection;
  std::vector<Input> inputs;
  std::vector<std::string> unreadable;  // folders under -r that could not be read
  std::size_t skipped = 0;              // files of the walk that are frames of others
  std::shared_ptr<StandardInputCopy> standardInput;
  // One FILE and none of the options that take several: the output is that
  // of a single split, streamed as it is written.
  bool Single() const { return inputs.size() == 1 && from.empty() && !recursive; }
  // The frames' extension.
  const char* Extension() const { return png || stored || sheet ? ".png" : bmp ? ".bmp" : ".gif"; }
};

// Why a command line is not run: its message, its exit status, and whether
// the usage text follows (for mistakes in the options themselves, not for
// files that cannot be read or collide).
struct Refusal {
  std::string message;
  int status = kExitUsage;
  bool usage = true;
};

// The options of `arguments` (the program's name first) into `o`; what is
// wrong with them when something is. Reads no file.
std::optional<Refusal> ParseOptions(const std::vector<std::string>& arguments, Options& o);

// The files the options name into `o.inputs`: FILE arguments, folders under
// -r (the output folder and earlier frames left out), the --from list and
// standard input ("-", copied to a temporary file). What stops the run when
// something does.
std::optional<Refusal> GatherInputs(Options& o);

// The option nearest to a mistyped one ("--png" for "--pgn"); empty when
// none is near.
std::string NearestOption(const std::string& typed);

// "#RRGGBB" or a colour's name, as 0x00RRGGBB.
std::optional<std::uint32_t> ParseColour(const std::string& text);

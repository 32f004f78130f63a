// Two files of one run that would write frames of the same names, or a frame
// name that is another file of the run: refused before anything is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One file of a run and where its frames go.
// Its frames are named `base` NUMBER `suffix` extension, the number of at
// least `fewestDigits` digits.
struct PlannedFrames {
  std::string source;  // the FILE as given, for messages
  std::string path;    // the FILE as it is split (absolute), for messages
  std::string base;    // the frames' path up to their number, for messages
  std::string suffix;  // what follows the number
  std::size_t fewestDigits = 3;
  // The file and `base` as RealPlace gives them: where they really lie,
  // compared as the system compares names.
  std::string sourceKey, baseKey;
};

// Where `path` really lies: its folder with every link resolved (as far as
// it exists), and its own name, as NameKey compares it. A path that leads
// through a linked folder and one that does not give the same key.
std::string RealPlace(const std::string& path);

// The first collision of the plan, said for a person; none when the run may
// go. `extension` is the frames' (".gif"). Two files collide when their
// frames could share a name for some frame numbers: the same folder and
// text around the number, digits next to the number aside.
std::optional<std::string> FindCollision(const std::vector<PlannedFrames>& plan,
                                         const std::string& extension);

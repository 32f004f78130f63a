// Runs velkor-split as a shell would, for the tests that drive the program.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace testutil {

struct Result {
  int status = -1;
  std::string out, err;
};

// velkor-split with `args`, after the shell commands `before` (limits), with
// the file `input` as its standard input.
inline Result Split(const std::string& args, const std::string& before = "",
                    const std::string& input = "/dev/null") {
  TempDir io;
  const std::string cmd = before + std::string(VELKOR_SPLIT) + " " + args + " >" + io.File("out") +
                          " 2>" + io.File("err") + " <'" + input + "'";
  Result r;
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  const Bytes o = ReadFile(io.File("out")), e = ReadFile(io.File("err"));
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

inline std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace testutil

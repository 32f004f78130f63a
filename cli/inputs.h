// The files one velkor-split run takes: FILE arguments in their order, the
// .gif files under a folder argument (with -r), and the paths of a list
// (--from), one per line or NUL-separated.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Input {
  std::string path;
  // For a file found under a folder argument: the folder it lies in,
  // relative to that argument ("" directly in it, "a/b" further down).
  std::string subfolder;
};

// Appends the inputs the FILE arguments name; a folder's .gif files (any
// case of the extension) are taken, sorted, from every folder under it when
// `recursive` is set, without following symbolic links. Each folder under it
// that cannot be read is added to `unreadable` ("DIR: cannot read the
// folder: REASON", or "PATH: cannot read: REASON" for an entry that cannot
// be looked at), and the rest is walked. A usage error's message when a
// folder is named without `recursive`.
std::optional<std::string> AddArguments(const std::vector<std::string>& arguments, bool recursive,
                                        std::vector<Input>& inputs,
                                        std::vector<std::string>& unreadable);

// Appends the paths of a list's text: one per line (a CR before the LF is
// dropped) or, with `nul`, separated by NUL characters. Empty entries are
// skipped.
void AddList(const std::string& text, bool nul, std::vector<Input>& inputs);

// The whole of standard input (`path` "-"), or of the file `path`, which may
// be a pipe or a device; none when it cannot be read, with what is wrong in
// `problem` (a folder, the system's reason).
std::optional<std::string> ReadListText(const std::string& path, std::string& problem);

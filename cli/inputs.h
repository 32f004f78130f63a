// The files one velkor-split run takes: FILE arguments in their order, the
// .gif files under a folder argument (with -r), and the paths of a list
// (--from), one per line or NUL-separated.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <functional>

struct Input {
  std::string path;
  // For a file found under a folder argument: the folder it lies in,
  // relative to that argument ("" directly in it, "a/b" further down).
  std::string subfolder;
  bool walked = false;  // found under a folder argument
  // The GIF comes from standard input ("-"), copied to `path` first.
  bool standardInput = false;
  // How messages and listings name the file: "-" for standard input.
  const std::string& Shown() const {
    static const std::string kDash = "-";
    return standardInput ? kDash : path;
  }
};

// Appends the inputs the FILE arguments name; a folder's .gif files (any
// case of the extension) are taken, sorted, from every folder under it when
// `recursive` is set, without following symbolic links. Each folder under it
// that cannot be read is added to `unreadable` ("DIR: cannot read the
// folder: REASON", or "PATH: cannot read: REASON" for an entry that cannot
// be looked at), and the rest is walked; a folder that is `skip` (where the
// run writes its frames, compared where it really lies) is not walked. A
// usage error's message when a folder is named without `recursive`.
std::optional<std::string> AddArguments(const std::vector<std::string>& arguments, bool recursive,
                                        std::vector<Input>& inputs,
                                        std::vector<std::string>& unreadable,
                                        const std::string& skip = {});

// Drops the walked inputs that `isFrameOf` says are frames of another walked
// input in the same folder (what an earlier run wrote beside it); returns
// how many. `isFrameOf(fileName, source)` is asked with the file's name
// only.
std::size_t DropOwnFrames(
    std::vector<Input>& inputs,
    const std::function<bool(const std::string& fileName, const Input& source)>& isFrameOf);

// Appends the paths of a list's text: one per line (a CR before the LF is
// dropped) or, with `nul`, separated by NUL characters. Empty entries are
// skipped.
void AddList(const std::string& text, bool nul, std::vector<Input>& inputs);

// What makes `text` no list of file names, said for a person (a GIF given
// as a list, NUL characters in a list of lines, bytes that are not text);
// none when it is one.
std::optional<std::string> ListProblem(const std::string& text, bool nul);

// The whole of standard input (`path` "-"), or of the file `path`, which may
// be a pipe or a device; none when it cannot be read, with what is wrong in
// `problem` (a folder, the system's reason).
std::optional<std::string> ReadListText(const std::string& path, std::string& problem);

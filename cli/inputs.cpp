#include "cli/inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "platform/system/system.h"

namespace fs = std::filesystem;

namespace {

bool IsGifName(const fs::path& path) {
  std::string ext = sys::Utf8Of(path.extension());
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return ext == ".gif";
}

// The .gif files under `folder`, sorted by path; links to files or folders
// are not followed. A folder that cannot be read (or whose listing fails
// part way) is named in `unreadable` with the reason, and the walk goes on
// with the rest of the tree.
std::vector<Input> GifsUnder(const std::string& folder, std::vector<std::string>& unreadable,
                             const fs::path& skip) {
  std::vector<std::pair<fs::path, std::string>> found;
  const fs::path root = sys::PathOf(folder);
  std::vector<fs::path> pending{root};
  while (!pending.empty()) {
    const fs::path dir = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      const fs::directory_entry& entry = *it;
      std::error_code se;
      const fs::file_status status = entry.symlink_status(se);
      if (se) {
        // Gone since it was listed, or not to be looked at (a path too
        // long for the system, an input/output error).
        if (se != std::errc::no_such_file_or_directory) {
          unreadable.push_back(sys::Utf8Of(entry.path()) + ": cannot read: " + se.message());
        }
        continue;
      }
      if (fs::is_directory(status)) {
        std::error_code ce;
        if (!skip.empty() && fs::weakly_canonical(entry.path(), ce) == skip && !ce) continue;
        pending.push_back(entry.path());
      } else if (fs::is_regular_file(status) && IsGifName(entry.path())) {
        const fs::path sub = entry.path().parent_path().lexically_relative(root);
        found.emplace_back(entry.path(), sub == "." ? std::string() : sys::Utf8Of(sub));
      }
    }
    if (ec) unreadable.push_back(sys::Utf8Of(dir) + ": cannot read the folder: " + ec.message());
  }
  std::sort(found.begin(), found.end());
  std::vector<Input> inputs;
  for (auto& [path, sub] : found) inputs.push_back({sys::Utf8Of(path), sub, true});
  return inputs;
}

}  // namespace

std::optional<std::string> AddArguments(const std::vector<std::string>& arguments, bool recursive,
                                        std::vector<Input>& inputs,
                                        std::vector<std::string>& unreadable,
                                        const std::string& skip) {
  fs::path skipPlace;
  if (!skip.empty()) {
    std::error_code ec;
    skipPlace = fs::weakly_canonical(sys::PathOf(skip), ec);
    if (ec) skipPlace.clear();
  }
  for (const auto& argument : arguments) {
    std::error_code ec;
    if (!fs::is_directory(sys::PathOf(argument), ec)) {
      inputs.push_back({argument, ""});
      continue;
    }
    if (!recursive) return argument + ": a folder (-r splits the .gif files under it)";
    auto found = GifsUnder(argument, unreadable, skipPlace);
    inputs.insert(inputs.end(), found.begin(), found.end());
  }
  return std::nullopt;
}

std::size_t DropOwnFrames(
    std::vector<Input>& inputs,
    const std::function<bool(const std::string& fileName, const Input& source)>& isFrameOf) {
  // The walked files by folder: a frame lies beside its source.
  std::map<std::string, std::vector<const Input*>> byFolder;
  for (const auto& in : inputs) {
    if (in.walked) byFolder[sys::Utf8Of(sys::PathOf(in.path).parent_path())].push_back(&in);
  }
  std::set<const Input*> frames;
  for (const auto& [folder, files] : byFolder) {
    for (const Input* file : files) {
      const std::string name = sys::Utf8Of(sys::PathOf(file->path).filename());
      if (name.find_first_of("0123456789") == std::string::npos) continue;  // frames are numbered
      for (const Input* source : files) {
        if (source != file && isFrameOf(name, *source)) {
          frames.insert(file);
          break;
        }
      }
    }
  }
  if (frames.empty()) return 0;
  std::vector<Input> kept;
  kept.reserve(inputs.size() - frames.size());
  for (const auto& in : inputs) {
    if (frames.count(&in) == 0) kept.push_back(in);
  }
  inputs = std::move(kept);
  return frames.size();
}

void AddList(const std::string& text, bool nul, std::vector<Input>& inputs) {
  const char separator = nul ? '\0' : '\n';
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t to = text.find(separator, from);
    if (to == std::string::npos) to = text.size();
    std::string entry = text.substr(from, to - from);
    if (!nul && !entry.empty() && entry.back() == '\r') entry.pop_back();
    if (!entry.empty()) inputs.push_back({entry, ""});
    from = to + 1;
  }
}

std::optional<std::string> ListProblem(const std::string& text, bool nul) {
  if (text.rfind("GIF87a", 0) == 0 || text.rfind("GIF89a", 0) == 0) {
    return "a GIF, not a list of files (give it as FILE)";
  }
  if (nul) return std::nullopt;  // any byte but NUL may be in a name
  std::size_t nuls = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) {
      ++nuls;
    } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
      return "not a list of files: byte " + std::to_string(i) + " is no text";
    }
  }
  if (nuls > 0) return "holds NUL characters: a list of names separated by NULs needs -0";
  return std::nullopt;
}

std::optional<std::string> ReadListText(const std::string& path, std::string& problem) {
  std::FILE* in = stdin;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
  if (path != "-") {
    // Any file a list can be read from: a regular file, a pipe
    // (--from <(find ...)), /dev/null; a folder is none.
    std::error_code ec;
    if (fs::is_directory(sys::PathOf(path), ec)) {
      problem = "a folder, not a list of files";
      return std::nullopt;
    }
    file.reset(sys::OpenForReading(path));
    if (!file) {
      problem = std::string("cannot read: ") + std::strerror(errno != 0 ? errno : EIO);
      return std::nullopt;
    }
    in = file.get();
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
    text.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  if (std::ferror(in)) {
    problem = std::string("cannot read: ") + std::strerror(errno != 0 ? errno : EIO);
    return std::nullopt;
  }
  return text;
}

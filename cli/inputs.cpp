#include "cli/inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

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
// are not followed, and folders that cannot be read are passed over.
std::vector<Input> GifsUnder(const std::string& folder) {
  std::vector<std::pair<fs::path, std::string>> found;
  std::error_code ec;
  const fs::path root = sys::PathOf(folder);
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code se;
    if (!entry.is_regular_file(se) || entry.is_symlink(se) || !IsGifName(entry.path())) continue;
    const fs::path sub = entry.path().parent_path().lexically_relative(root);
    found.emplace_back(entry.path(), sub == "." ? std::string() : sys::Utf8Of(sub));
  }
  std::sort(found.begin(), found.end());
  std::vector<Input> inputs;
  for (auto& [path, sub] : found) inputs.push_back({sys::Utf8Of(path), sub});
  return inputs;
}

}  // namespace

std::optional<std::string> AddArguments(const std::vector<std::string>& arguments, bool recursive,
                                        std::vector<Input>& inputs) {
  for (const auto& argument : arguments) {
    std::error_code ec;
    if (!fs::is_directory(sys::PathOf(argument), ec)) {
      inputs.push_back({argument, ""});
      continue;
    }
    if (!recursive) return argument + ": a folder (-r splits the .gif files under it)";
    auto found = GifsUnder(argument);
    inputs.insert(inputs.end(), found.begin(), found.end());
  }
  return std::nullopt;
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

std::optional<std::string> ReadListText(const std::string& path) {
  if (path != "-") {
    auto bytes = sys::ReadWholeFile(path);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
    text.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  if (std::ferror(stdin)) return std::nullopt;
  return text;
}

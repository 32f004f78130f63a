#include "cli/collisions.h"

#include <filesystem>
#include <map>

#include "platform/system/system.h"
#include "settings/settings.h"

std::string RealPlace(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(sys::PathOf(path), ec);
  if (ec) return sys::NameKey(path);
  // The folder resolved, the name kept: a link at the name itself is
  // replaced by a frame, never followed.
  const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
  if (!ec) p = folder / p.filename();
  return sys::NameKey(sys::Utf8Of(p.lexically_normal()));
}

namespace {

// What the frames' names keep whatever their numbers: the text before the
// number without the digits it ends with, and after it without those it
// starts with.
std::string Fixed(const PlannedFrames& file) {
  const std::string& base = file.baseKey;
  const std::string suffix = sys::NameKey(file.suffix);
  const auto last = base.find_last_not_of("0123456789");
  const auto first = suffix.find_first_not_of("0123456789");
  return base.substr(0, last == std::string::npos ? 0 : last + 1) + '\0' +
         (first == std::string::npos ? std::string() : suffix.substr(first));
}

}  // namespace

std::optional<std::string> FindCollision(const std::vector<PlannedFrames>& plan,
                                         const std::string& extension) {
  std::map<std::string, const PlannedFrames*> fixed;
  for (const auto& file : plan) {
    const auto [at, fresh] = fixed.emplace(Fixed(file), &file);
    if (!fresh) {
      const std::string& base = file.base;
      const auto slash = base.find_last_of(kPathSeparators);
      return at->second->source + " and " + file.source + " would both write " +
             base.substr(slash == std::string::npos ? 0 : slash + 1) + "NNN" + file.suffix +
             extension + " into " +
             (slash == std::string::npos ? std::string(".") : base.substr(0, slash));
    }
  }
  // A source named like a frame of another: BASE, a number of its digits,
  // SUFFIX and the extension.
  std::multimap<std::string, const PlannedFrames*> bases;  // by baseKey
  for (const auto& file : plan) bases.emplace(file.baseKey, &file);
  const std::string ext = sys::NameKey(extension);
  for (const auto& file : plan) {
    const std::string& key = file.sourceKey;
    const auto slash = key.find_last_of(kPathSeparators);
    for (std::size_t i = slash == std::string::npos ? 0 : slash + 1; i < key.size(); ++i) {
      if (key[i] < '0' || key[i] > '9') continue;
      std::size_t end = i;
      while (end < key.size() && key[end] >= '0' && key[end] <= '9') ++end;
      const std::string tail = key.substr(end);
      const auto [from, to] = bases.equal_range(key.substr(0, i));
      for (auto it = from; it != to; ++it) {
        const PlannedFrames& other = *it->second;
        if (end - i >= other.fewestDigits && tail == sys::NameKey(other.suffix) + ext) {
          return "the frames of " + other.source + " would replace " + file.path +
                 ", also to be split";
        }
      }
    }
  }
  return std::nullopt;
}

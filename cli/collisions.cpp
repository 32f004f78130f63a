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

std::optional<std::string> FindCollision(const std::vector<PlannedFrames>& plan,
                                         const std::string& extension) {
  std::map<std::string, const PlannedFrames*> bases;  // by baseKey
  for (const auto& file : plan) {
    const auto [at, fresh] = bases.emplace(file.baseKey, &file);
    if (!fresh) {
      const std::string& base = file.base;
      const auto slash = base.find_last_of(kPathSeparators);
      return at->second->source + " and " + file.source + " would both write " +
             base.substr(slash == std::string::npos ? 0 : slash + 1) + "_NNN" + extension +
             " into " + (slash == std::string::npos ? std::string(".") : base.substr(0, slash));
    }
  }
  // A source named like a frame of another: BASE_NNN.ext, three digits or
  // more.
  const std::string ext = sys::NameKey(extension);
  for (const auto& file : plan) {
    const std::string& key = file.sourceKey;
    for (auto cut = key.rfind('_'); cut != std::string::npos && cut > 0;
         cut = key.rfind('_', cut - 1)) {
      const auto base = bases.find(key.substr(0, cut));
      if (base == bases.end()) continue;
      const std::string rest = key.substr(cut + 1);
      const auto dot = rest.find('.');
      if (dot != std::string::npos && dot >= 3 && rest.substr(dot) == ext &&
          rest.find_first_not_of("0123456789") == dot) {
        return "the frames of " + base->second->source + " would replace " + file.path +
               ", also to be split";
      }
    }
  }
  return std::nullopt;
}

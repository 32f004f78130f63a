#include "cli/frame_list.h"

#include <cstdlib>
#include <limits>

namespace {

// A frame number: digits only, at least 1, at most what 64 bits hold.
std::optional<std::int64_t> Number(const std::string& s) {
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const std::int64_t v = std::strtoll(s.c_str(), nullptr, 10);
  if (v < 1) return std::nullopt;
  return v;
}

}  // namespace

std::optional<FrameList> FrameList::Parse(const std::string& text) {
  FrameList list;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    const std::size_t dash = item.find('-');
    Range r{};
    if (dash == std::string::npos) {
      const auto n = Number(item);
      if (!n) return std::nullopt;
      r = {*n, *n};
    } else {
      const auto first = Number(item.substr(0, dash));
      const std::string rest = item.substr(dash + 1);
      if (!first) return std::nullopt;
      if (rest.empty()) {
        r = {*first, std::numeric_limits<std::int64_t>::max()};  // "5-": to the last frame
      } else {
        const auto last = Number(rest);
        if (!last || *last < *first) return std::nullopt;
        r = {*first, *last};
      }
    }
    list.ranges_.push_back(r);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list;
}

bool FrameList::Contains(std::int64_t frame) const {
  for (const auto& r : ranges_) {
    if (frame >= r.first && frame <= r.last) return true;
  }
  return false;
}

bool FrameList::NamesAnyOf(std::int64_t frames) const {
  for (const auto& r : ranges_) {
    if (r.first <= frames) return true;
  }
  return false;
}

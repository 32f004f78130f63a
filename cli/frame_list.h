// The --frames list of velkor-split: "3", "1-10", "5-", "1,4,9-12". Frames are
// numbered from 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FrameList {
 public:
  // None when the text is no list: empty, a number below 1, a range whose
  // end lies before its start, or anything but digits, "-" and ",".
  static std::optional<FrameList> Parse(const std::string& text);

  bool Contains(std::int64_t frame) const;
  // Whether any frame from 1 to `frames` is in the list.
  bool NamesAnyOf(std::int64_t frames) const;

 private:
  struct Range {
    std::int64_t first, last;
  };
  std::vector<Range> ranges_;
};

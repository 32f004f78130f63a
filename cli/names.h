// How velkor-split names the frames of a file: a pattern of text around one
// number, with the file's own names in it ("{name}_{n:03}" by default, the
// window's names).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The number of a pattern: zero-padded to `width` digits, or (auto) to the
// digits the file's frame count needs.
struct FrameNumberField {
  int width = 3;
  bool automatic = false;
  // How many digits frame n of `frames` gets.
  std::string Text(std::int64_t n, std::int64_t frames) const;
  // The fewest digits a frame number can have in this field.
  std::size_t FewestDigits() const { return automatic ? 1 : std::size_t(width < 1 ? 1 : width); }
};

// One file's frame names: `prefix` NUMBER `suffix` and the extension.
struct FrameNames {
  std::string prefix, suffix;
  FrameNumberField number;
  std::string Name(std::int64_t n, std::int64_t frames) const {
    return prefix + number.Text(n, frames) + suffix;
  }
  // Whether `fileName` (no folder) is one of these names with `extension`;
  // the extension's case is ignored.
  bool Matches(const std::string& fileName, const std::string& extension) const;
};

class NamePattern {
 public:
  // "{name}_{n:03}": NAME_001, NAME_002, ...
  NamePattern();
  // Fields: {stem} (the file's name without its last extension), {name} (up
  // to its first dot; a leading dot belongs to it) and one of {n} (no
  // padding), {n:0W} (W digits, 1 to 9) or {n:auto}. None, with what is
  // wrong in `problem`, for any other brace, a pattern without exactly one
  // number, or one that leads into another folder.
  static std::optional<NamePattern> Parse(const std::string& text, std::string& problem);

  // A file's frame names, from its stem and NAME.
  FrameNames For(const std::string& stem, const std::string& name) const;
  bool IsDefault() const { return text_ == "{name}_{n:03}"; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_, before_, after_;
  FrameNumberField number_;
};

// What a pattern takes from a file's name (no folder): its stem, "a.b" of
// "a.b.gif", and NAME, "a" (a leading dot belongs to both).
struct SourceParts {
  std::string stem, name;
};
SourceParts PartsOf(const std::string& fileName);

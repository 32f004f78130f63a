#include "cli/names.h"

#include <algorithm>
#include <cctype>

#include "settings/settings.h"

std::string FrameNumberField::Text(std::int64_t n, std::int64_t frames) const {
  std::string digits = std::to_string(n);
  std::size_t want = std::size_t(width < 0 ? 0 : width);
  if (automatic) want = std::to_string(std::max<std::int64_t>(frames, 1)).size();
  if (digits.size() < want) digits.insert(0, want - digits.size(), '0');
  return digits;
}

bool FrameNames::Matches(const std::string& fileName, const std::string& extension) const {
  const std::string tail = suffix + extension;
  if (fileName.size() < prefix.size() + tail.size() + number.FewestDigits()) return false;
  if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
  const std::size_t end = fileName.size() - tail.size();
  if (fileName.compare(end, suffix.size(), suffix) != 0) return false;
  for (std::size_t i = 0; i < extension.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(fileName[end + suffix.size() + i])) !=
        std::tolower(static_cast<unsigned char>(extension[i]))) {
      return false;
    }
  }
  const std::string digits = fileName.substr(prefix.size(), end - prefix.size());
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

NamePattern::NamePattern() : text_("{name}_{n:03}"), before_("{name}_") {}

std::optional<NamePattern> NamePattern::Parse(const std::string& text, std::string& problem) {
  NamePattern pattern;
  pattern.text_ = text;
  pattern.before_.clear();
  bool numbered = false;
  std::string* side = &pattern.before_;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' || c == '\\' || c == '\0') {
      problem = "a frame name cannot hold " + std::string(c == '\0' ? "NUL" : std::string(1, c)) +
                " (-o says the folder)";
      return std::nullopt;
    }
    if (c == '}') {
      problem = "a } without its {";
      return std::nullopt;
    }
    if (c != '{') {
      side->push_back(c);
      continue;
    }
    const std::size_t close = text.find('}', i);
    if (close == std::string::npos) {
      problem = "a { without its }";
      return std::nullopt;
    }
    const std::string field = text.substr(i + 1, close - i - 1);
    i = close;
    if (field == "stem" || field == "name") {
      *side += "{" + field + "}";
      continue;
    }
    if (field != "n" && field.rfind("n:", 0) != 0) {
      problem = "{" + field + "} is none of {stem}, {name}, {n}, {n:03}, {n:auto}";
      return std::nullopt;
    }
    if (numbered) {
      problem = "more than one frame number";
      return std::nullopt;
    }
    numbered = true;
    FrameNumberField& number = pattern.number_;
    number = {};
    number.width = 0;
    const std::string digits = field.size() > 2 ? field.substr(2) : std::string();
    if (field == "n") {
    } else if (digits == "auto") {
      number.automatic = true;
    } else if (digits.size() == 2 && digits[0] == '0' && digits[1] >= '1' && digits[1] <= '9') {
      number.width = digits[1] - '0';
    } else {
      problem = "{" + field + "}: the number's width is 01 to 09 or auto ({n:04})";
      return std::nullopt;
    }
    side = &pattern.after_;
  }
  if (!numbered) {
    problem = "no frame number ({n}, {n:03} or {n:auto})";
    return std::nullopt;
  }
  return pattern;
}

namespace {

std::string Fill(const std::string& text, const std::string& stem, const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 6, "{stem}") == 0) {
      out += stem;
      i += 5;
    } else if (text.compare(i, 6, "{name}") == 0) {
      out += name;
      i += 5;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

FrameNames NamePattern::For(const std::string& stem, const std::string& name) const {
  return {Fill(before_, stem, name), Fill(after_, stem, name), number_};
}

SourceParts PartsOf(const std::string& fileName) {
  SourceParts parts;
  const auto dot = fileName.rfind('.');
  parts.stem = dot == std::string::npos || fileName.find_first_not_of('.') > dot
                   ? fileName
                   : fileName.substr(0, dot);
  // NAME by the window's own rule.
  const std::string base =
      DeriveSourceNames("." + std::string(1, kPathSeparator) + fileName).OutputBaseName;
  parts.name = base.substr(base.find_last_of(kPathSeparators) + 1);
  return parts;
}

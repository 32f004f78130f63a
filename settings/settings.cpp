#include "settings/settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/system/system.h"

namespace {
constexpr const char* kSection = "Section";

SettingsResult Problem(const std::string& file, const char* what, int error) {
  return {file + ": " + what + ": " + sys::ErrorText(error != 0 ? error : EIO)};
}
}  // namespace

std::string FolderOf(const std::string& path, const char* separators) {
  if (path.size() > 32767) return {};
  const auto p = path.find_last_of(separators);
  if (p == std::string::npos) return {};
  std::string folder = path.substr(0, p + 1);
  if (!folder.empty() && folder.back() == separators[std::strlen(separators) - 1]) {
    folder.pop_back();
  }
  return folder;
}

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& file) {
  return sys::GetPrivateProfileString(section, key, "", file, 256);
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file, int* error) {
  // Names pass through 128-character fields: longer ones arrive cut to 127.
  const std::string s = section.substr(0, 127), k = key.substr(0, 127);
  return sys::WritePrivateProfileString(s, k, value, file, error);
}

std::string FormatSettingNumber(std::int16_t v) { return (v >= 0 ? " " : "") + std::to_string(v); }

std::optional<std::int16_t> ParseSettingNumber(const std::string& text) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  const auto e = text.find_last_not_of(" \t");
  const std::string t = text.substr(b, e - b + 1);
  // Decimal only: digits, one sign, a point and an exponent.
  for (char c : t) {
    if (!std::strchr("0123456789+-.eE", c)) return std::nullopt;
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  const double f = std::floor(v);
  if (f < -32768.0 || f > 32767.0) return std::nullopt;
  return static_cast<std::int16_t>(f);
}

SettingsResult LoadSettings(SharedState& state, const std::string& file,
                            const std::string& programFolder) {
  SettingsResult result;
  int error = 0;
  if (!sys::ReadWholeFile(file, &error) && error != ENOENT) {
    result = Problem(file, "cannot read", error);
  }
  const std::string pass = ReadProfileString(kSection, "Pass", file);
  state.LastFolder = pass.empty() ? programFolder : pass;

  const std::string type = ReadProfileString(kSection, "File", file);
  if (type.empty()) {
    state.OutputFileType = 1;
  } else if (auto v = ParseSettingNumber(type)) {
    state.OutputFileType = *v;
  }

  const std::string trans = ReadProfileString(kSection, "Trans", file);
  if (trans.empty()) {
    state.TransparentOption = 0;
  } else if (auto v = ParseSettingNumber(trans)) {
    state.TransparentOption = *v;
  }
  return result;
}

SettingsResult SaveSettings(const SharedState& state, const std::string& file) {
  // Each key is written even when an earlier one failed: as much as can be
  // kept is kept.
  int error = 0;
  SettingsResult result;
  const std::pair<const char*, std::string> keys[] = {
      {"Pass", state.LastFolder},
      {"File", FormatSettingNumber(state.OutputFileType)},
      {"Trans", FormatSettingNumber(state.TransparentOption)}};
  for (const auto& [key, value] : keys) {
    if (!WriteProfileString(kSection, key, value, file, &error) && result.ok()) {
      result = Problem(file, "cannot write", error);
    }
  }
  return result;
}

SourceNames DeriveSourceNames(const std::string& path, const char* separators, char separator) {
  SourceNames names;
  names.LastFolder = FolderOf(path, separators);
  const auto p = path.find_last_of(separators);
  const std::string name = p == std::string::npos ? path : path.substr(p + 1);
  // A leading dot belongs to the name (hidden files): split at the first dot
  // after it.
  const auto first = name.find_first_not_of('.');
  const auto dot = first == std::string::npos ? std::string::npos : name.find('.', first);
  names.OutputBaseName = names.LastFolder + separator + name.substr(0, dot);
  return names;
}

void ApplySourceNames(SharedState& state, const std::string& path) {
  const SourceNames names = DeriveSourceNames(path);
  state.LastFolder = names.LastFolder;
  state.OutputBaseName = names.OutputBaseName;
}

SettingsFiles LocateSettings(const std::string& programFolder, const char* xdgConfigHome,
                             const char* home) {
  const std::string portable = programFolder + "/Velkor.ini";
  const bool portableExists = sys::GetFileAttributes(portable);
  if (portableExists && sys::IsWritable(portable) && sys::IsWritable(programFolder)) {
    return {portable, portable};
  }
  std::string config;
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
    config = xdgConfigHome;
  } else if (home != nullptr && home[0] != '\0') {
    config = std::string(home) + "/.config";
  } else {
    config = programFolder;  // no home at all: beside the program after all
  }
  const std::string own = config + "/Velkor/Velkor.ini";
  const bool useOwn = sys::GetFileAttributes(own) || !portableExists;
  return {useOwn ? own : portable, own};
}

SettingsFiles LocateSettingsBesideProgram(const std::string& programFolder, const char* appData) {
  const std::string portable = programFolder + kPathSeparator + "Velkor.ini";
  const bool portableExists = sys::GetFileAttributes(portable);
  const bool writable =
      sys::IsWritable(programFolder) && (!portableExists || sys::IsWritable(portable));
  if (writable || appData == nullptr || appData[0] == '\0') return {portable, portable};
  const std::string own =
      std::string(appData) + kPathSeparator + "Velkor" + kPathSeparator + "Velkor.ini";
  const bool useOwn = sys::GetFileAttributes(own) || !portableExists;
  return {useOwn ? own : portable, own};
}

SettingsResult SaveSettingsFile(const SharedState& state, const SettingsFiles& files) {
  std::error_code ec;
  const auto folder = sys::PathOf(files.save).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec) return Problem(files.save, "cannot make its folder", ec.value());
  return SaveSettings(state, files.save);
}

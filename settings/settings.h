// The program-wide record, the settings file, and path helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SharedState {
  std::string SourcePath;
  std::string DecoderPath;
  std::string LastFolder;
  std::string OutputBaseName;
  std::int16_t OutputFileType = 0;     // 1 = GIF files, anything else bitmaps
  std::int16_t TransparentOption = 0;  // 0 off, 1 on
  std::int16_t TransparentRun = 0;     // -1 or 0
  std::int16_t RunMode = 0;            // 0 preview, 1 split
  std::int16_t ImageWidth = 0;
  std::int16_t ImageHeight = 0;
  std::int16_t NotAnimatedFlag = 0;  // -1 when the break-out failed
  // Scratch for the result of a window-system call whose result the caller
  // does not otherwise need; nothing reads results back through it.
  std::int32_t ApiResult = 0;
};

// The folder separator(s) of this build: "/" here, ":" and "\" on Windows.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = ":\\";
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr const char* kPathSeparators = "/";
inline constexpr char kPathSeparator = '/';
#endif

// The text up to the last separator, without one trailing separator. A path
// without a separator, or one of more than 32767 characters, gives "".
std::string FolderOf(const std::string& path, const char* separators = kPathSeparators);

// What became of reading or writing the settings file: done, or why not
// ("/home/u/.config/Velkor/Velkor.ini: cannot write: Permission denied").
struct SettingsResult {
  std::string problem;  // empty: done
  bool ok() const { return problem.empty(); }
  explicit operator bool() const { return ok(); }
};

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& file);
// False when the file could not be written, with the errno in `*error` when
// given.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file, int* error = nullptr);

// Reads "Pass", "File" and "Trans" of section "Section". `programFolder` is
// what a missing "Pass" gives. A missing file gives every default and is no
// problem; a file that is there but cannot be read gives the defaults too,
// and says why.
SettingsResult LoadSettings(SharedState& state, const std::string& file,
                            const std::string& programFolder);
// Writes the three keys; the reason of the first write that failed.
SettingsResult SaveSettings(const SharedState& state, const std::string& file);

// Where the settings are read from and saved to.
struct SettingsFiles {
  std::string load;
  std::string save;
};
// "Velkor.ini" beside the program when a writable file of that name is there
// (a portable copy); otherwise "Velkor/Velkor.ini" in the user's configuration
// folder ($XDG_CONFIG_HOME when it is absolute, else $HOME/.config), created on
// the first save. A copy beside the program that cannot be written is read
// until the user's own file exists, and is never written: a folder the user
// cannot write to never costs the settings. Null variables count as unset.
SettingsFiles LocateSettings(const std::string& programFolder, const char* xdgConfigHome,
                             const char* home);
// Where the Windows program keeps them: "Velkor.ini" in the program's own
// folder, as it always has, when that folder and any file there can be
// written; otherwise "Velkor\Velkor.ini" in the user's application data
// folder (%APPDATA%), created on the first save, and the copy beside the
// program is read until that file exists. Without an application data
// folder, beside the program after all.
SettingsFiles LocateSettingsBesideProgram(const std::string& programFolder, const char* appData);
// SaveSettings into `files.save`, creating its folder first; why not, when
// the folder could not be made or a write failed.
SettingsResult SaveSettingsFile(const SharedState& state, const SettingsFiles& files);

// The settings file's number form: a leading blank when not negative.
std::string FormatSettingNumber(std::int16_t v);
// The largest integer not above the number in `text`, when it is a number that
// fits 16 bits signed.
std::optional<std::int16_t> ParseSettingNumber(const std::string& text);

// What choosing `path` sets: its folder and the base name the frames are
// written under (folder, separator, the file's name up to its first ".").
struct SourceNames {
  std::string LastFolder;
  std::string OutputBaseName;
};
SourceNames DeriveSourceNames(const std::string& path, const char* separators = kPathSeparators,
                              char separator = kPathSeparator);
void ApplySourceNames(SharedState& state, const std::string& path);

// Kernel services: files, temporary files, the private-profile (INI) pair, the
// program's folder, and the replaceable sleep and yield hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/scoped.h"

namespace sys {

// The largest file ReadWholeFile accepts; anything longer fails instead of
// being pulled into memory.
constexpr std::uint64_t kMaxReadBytes = std::uint64_t(1) << 30;

// The whole file; none when it cannot be read, with the reason's errno in
// `*error` when given (EFBIG beyond kMaxReadBytes, EISDIR for a folder).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       int* error = nullptr);

// Writes `size` bytes as the whole content of `path`. An existing file of that
// name is removed first (a link is removed, never followed), then the file is
// created exclusively.
bool WriteBinaryFile(const std::string& path, const std::uint8_t* data, std::size_t size);
inline bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  return WriteBinaryFile(path, data.data(), data.size());
}

// Buffered output to a file created by CreateFileReplacing. Write failures are
// remembered, not thrown.
class OutputFile {
 public:
  OutputFile() = default;
  explicit OutputFile(int fd) : fd_(fd) {}
  OutputFile(OutputFile&& o) noexcept;
  OutputFile& operator=(OutputFile&& o) noexcept;
  ~OutputFile();
  bool IsOpen() const { return fd_ >= 0; }
  void Write(const void* data, std::size_t size);
  void Put(std::uint8_t b) {
    if (buffer_.size() >= kBufferSize) Flush();
    buffer_.push_back(b);
  }
  // Flushes and closes; false when any write failed.
  bool Close();
  bool ok() const { return ok_; }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;
  void Flush();
  int fd_ = -1;
  bool ok_ = true;
  std::vector<std::uint8_t> buffer_;
};

enum class ReplaceResult { Ok, CannotDelete, CannotCreate };
// Deletes an existing `path` (a folder of that name cannot be deleted) and
// creates the file anew, exclusively and without following links.
ReplaceResult CreateFileReplacing(const std::string& path, OutputFile& out);

bool DeleteFile(const std::string& path);

// True when something exists at `path`, folders included.
bool GetFileAttributes(const std::string& path);

// The temporary folder, with a trailing "/".
std::string TempFolder();

// Creates a new empty file "<folder><prefix><random>.<extension>" exclusively
// (never an existing file, never through a link) and returns its name.
std::optional<std::string> CreateTempFile(const std::string& folder, const std::string& prefix,
                                          const std::string& extension);

// Writes the whole content of a temporary file CreateTempFile made, never
// through a link put in its place. False when any write failed.
bool WriteTempFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// True when both paths lead to one existing file (links followed).
bool SameFile(const std::string& a, const std::string& b);

// Whether the caller may write to the file or folder `path`.
bool IsWritable(const std::string& path);

// Tests replace the random part of temporary names to force collisions; an
// empty function restores the random source.
void SetTempNameSource(std::function<std::string()> source);
std::function<std::string()> TempNameSourceNow();
using ScopedTempNameSource =
    Scoped<std::function<std::string()>, TempNameSourceNow, SetTempNameSource>;

// The folder holding the running executable, without a trailing "/".
std::string ProgramFolder();

// Private-profile strings with the kernel's rules: section and key names match
// case-insensitively; values are trimmed of surrounding blanks; a missing file,
// section or key gives `def`. The value is cut to size - 1 characters.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path,
                                    std::size_t size = 256);
// The value of `key` in `section` of INI text `content`, trimmed; none when
// the section or key is missing.
std::optional<std::string> FindProfileValue(const std::string& content, const std::string& section,
                                            const std::string& key);

// Sets key=value in the section, keeping every other line of the file. The new
// file is written aside and renamed over the old one, so a failed write never
// leaves a truncated file. Returns false when nothing could be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

// Waits; tests and the command line replace it.
using SleepHook = std::function<void(std::int64_t ms)>;
void SetSleepHook(SleepHook hook);  // empty: the real sleep
SleepHook SleepHookNow();
using ScopedSleepHook = Scoped<SleepHook, SleepHookNow, SetSleepHook>;
void Sleep(std::int64_t ms);

// Lets the window system process pending events. No-op until a front end sets it.
using YieldHook = std::function<void()>;
void SetYieldHook(YieldHook hook);
YieldHook YieldHookNow();
using ScopedYieldHook = Scoped<YieldHook, YieldHookNow, SetYieldHook>;
// Yields; only ever called on the window thread (asserted in debug builds).
void DoEvents();
// Whether the caller runs on the thread that started the program, where the
// window system lives.
bool OnWindowThread();

}  // namespace sys

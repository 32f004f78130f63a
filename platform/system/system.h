// Kernel services: files, temporary files, the private-profile (INI) pair, the
// program's folder, and the replaceable sleep and yield hooks.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/scoped.h"

namespace sys {

// The largest file InputFile opens and ReadWholeFile reads; anything longer
// fails at once.
constexpr std::uint64_t kMaxReadBytes = std::uint64_t(1) << 30;

// The error (in errno's place) of a path that names neither a regular file
// nor a folder: a FIFO, a device, a socket. Such a path is refused at once,
// before a read could wait on it for ever.
constexpr int kNotRegularFile = -2;
// The words for an errno value or kNotRegularFile ("No space left on
// device", "not a regular file").
std::string ErrorText(int error);

// A regular file open for reading at any offset, from several threads at
// once: a file far larger than memory can spare is read a piece at a time.
class InputFile {
 public:
  // None when `path` cannot be opened as a regular file of at most
  // kMaxReadBytes, with the reason's errno in `*error` when given (EFBIG
  // beyond kMaxReadBytes, EISDIR for a folder, kNotRegularFile for anything
  // else that is not a regular file).
  static std::optional<InputFile> Open(const std::string& path, int* error = nullptr);
  InputFile(InputFile&& o) noexcept;
  InputFile& operator=(InputFile&& o) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // The length when it was opened.
  std::uint64_t Size() const { return size_; }
  // Reads up to `n` bytes at `offset` into `out`: how many were read, fewer
  // only where the file now ends; -1 on a read error (errno tells).
  std::int64_t ReadAt(std::uint64_t offset, void* out, std::size_t n) const;

 private:
  InputFile(std::intptr_t handle, std::uint64_t size) : handle_(handle), size_(size) {}
  std::intptr_t handle_ = -1;  // the system's own handle; -1: none
  std::uint64_t size_ = 0;
};

// A stream to read `path` from start to end, whatever it is (a pipe, a
// device, a regular file); nullptr with errno set when it cannot be opened.
// The caller closes it with fclose.
std::FILE* OpenForReading(const std::string& path);

// The whole file; none when it cannot be read, with the reason's errno in
// `*error` when given (as InputFile::Open).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       int* error = nullptr);

// Writes `size` bytes as the whole content of `path`, as CreateFileReplacing
// does: the file is complete or absent. False when it could not be written,
// with the errno in `*error` when given.
bool WriteBinaryFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                     int* error = nullptr);
inline bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& data,
                            int* error = nullptr) {
  return WriteBinaryFile(path, data.data(), data.size(), error);
}

// Buffered output to a file. Write failures are remembered, not thrown. A
// file made by CreateFileReplacing is written beside its name and put in
// place by Close only when every write succeeded; otherwise, and when the
// object goes without Close, what was written is removed.
class OutputFile {
 public:
  OutputFile() = default;
  // Takes over the system's own handle of a file open for writing (-1: none).
  explicit OutputFile(std::intptr_t handle) : handle_(handle) {}
  // The same for the file `aside`, which Close puts in the place of `path`.
  OutputFile(std::intptr_t handle, std::string aside, std::string path)
      : handle_(handle), aside_(std::move(aside)), path_(std::move(path)) {}
  OutputFile(OutputFile&& o) noexcept;
  OutputFile& operator=(OutputFile&& o) noexcept;
  ~OutputFile();
  bool IsOpen() const { return handle_ != -1; }
  void Write(const void* data, std::size_t size);
  void Put(std::uint8_t b) {
    if (buffer_.size() >= kBufferSize) Flush();
    buffer_.push_back(b);
  }
  // Flushes, closes and puts the file in place; false when any step failed.
  bool Close();
  // Closes and removes what was written (a file written beside its name).
  void Discard();
  bool ok() const { return error_ == 0; }
  // The errno of the first step that failed; 0 when none did.
  int Error() const { return error_; }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;
  void Flush();
  void Fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
  }
  std::intptr_t handle_ = -1;
  int error_ = 0;
  std::vector<std::uint8_t> buffer_;
  // Written beside `path_`, to be put in place: under the name `aside_`, or
  // under none (aside_ empty); path_ empty: a plain file.
  std::string aside_, path_;
};

enum class ReplaceResult { Ok, CannotDelete, CannotCreate };
// Makes a new file beside `path`, which OutputFile::Close puts in its place
// once it has been written whole: no reader ever sees a part of it, and a
// failed write leaves what stood at `path` as it was. A link at `path` is
// replaced itself, never what it leads to; a folder of that name is refused
// (CannotDelete, EISDIR) before anything is written.
// The errno of a failure goes to `*error` when given.
ReplaceResult CreateFileReplacing(const std::string& path, OutputFile& out, int* error = nullptr);

bool DeleteFile(const std::string& path);

// True when something exists at `path`, folders included.
bool GetFileAttributes(const std::string& path);

// The temporary folder, with a trailing separator ("/", "\\" on Windows).
std::string TempFolder();

// Creates a new empty file "<folder><prefix><random>.<extension>" exclusively
// (never an existing file, never through a link) and returns its name.
std::optional<std::string> CreateTempFile(const std::string& folder, const std::string& prefix,
                                          const std::string& extension);

// Writes the whole content of a temporary file CreateTempFile made, never
// through a link put in its place. False when any write failed, with the
// errno in `*error` when given.
bool WriteTempFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                   int* error = nullptr);

// A path as this system's file names compare: itself on POSIX systems; on
// Windows, whose names ignore case, upper-cased ("A.gif" and "a.GIF" are
// one file there).
std::string NameKey(const std::string& path);

// True when both paths lead to one existing file (links followed).
bool SameFile(const std::string& a, const std::string& b);

// True when something is at `path`: a file, a folder, or a link, even one
// that leads nowhere.
bool NameTaken(const std::string& path);

// Whether the caller may write to the file or folder `path`.
bool IsWritable(const std::string& path);

// Tests replace the random part of temporary names to force collisions; an
// empty function restores the random source.
void SetTempNameSource(std::function<std::string()> source);
std::function<std::string()> TempNameSourceNow();
using ScopedTempNameSource =
    Scoped<std::function<std::string()>, TempNameSourceNow, SetTempNameSource>;

// The folder holding the running executable, without a trailing separator.
std::string ProgramFolder();

// The program's arguments in UTF-8: on Windows those main receives are in the
// system's code page, which cannot hold every file name, and are read again
// from the command line as the user typed it.
class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  int Count() const { return int(text_.size()); }
  char** Values() { return values_.data(); }
  const char* const* Values() const { return values_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> values_;
};

// One copy per user: takes the lock called `name` and keeps it for the life
// of the process. False when another holder has it. On POSIX systems a lock
// on "<name>.lock" in the user's runtime folder ($XDG_RUNTIME_DIR, else a
// private folder in /tmp); on Windows a named mutex of the user's session.
// Where no lock can be made at all, running is better than refusing to start:
// true.
bool AcquireSingleInstance(const std::string& name);

// For the object's life, a Windows console that the program writes to reads
// its bytes as UTF-8, as every name and message here is; otherwise it shows
// them in its own code page. Files, pipes and other systems are not touched.
class Utf8Console {
 public:
  Utf8Console();
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  unsigned previous_ = 0;  // the console's code page to put back; 0: none
};

// True when `name` (no folder) matches a "*.ext" pattern, ignoring case.
bool MatchesPattern(const std::string& name, const std::string& pattern);

// One line for a user or a bug report about what failed behind a fixed
// message: on standard error here, in the debugger's output on Windows, where
// a program with windows has no standard error. Tests may catch the lines.
void Diagnostic(const std::string& line);
using DiagnosticHook = std::function<void(const std::string& line)>;
void SetDiagnosticHook(DiagnosticHook hook);  // empty: the system's own place
DiagnosticHook DiagnosticHookNow();
using ScopedDiagnosticHook = Scoped<DiagnosticHook, DiagnosticHookNow, SetDiagnosticHook>;

// The environment variable `name` in UTF-8; none when it is not set.
std::optional<std::string> Environment(const char* name);

// Whether standard error is a terminal (where progress can be shown).
bool StderrIsTerminal();

// The standard library's path of a UTF-8 path, and back: on Windows its
// narrow strings are in the system's code page, not UTF-8.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);
#ifdef _WIN32
// UTF-8 to the wide strings of the system's own calls, and back.
std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
#endif

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
// leaves a truncated file. Returns false when nothing could be written, with
// the errno in `*error` when given.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path,
                               int* error = nullptr);

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
// window system lives, or on a thread that stands in for it while a
// HeadlessThread lives there.
bool OnWindowThread();
// Marks the calling thread, for its lifetime, as one that performs whole runs
// without a window system (velkor-split splitting files side by side): it
// plays the window thread's part for its own runs, and yields to nothing
// when no yield hook is set.
class HeadlessThread {
 public:
  HeadlessThread();
  ~HeadlessThread();
  HeadlessThread(const HeadlessThread&) = delete;
  HeadlessThread& operator=(const HeadlessThread&) = delete;
};

// A request from outside to stop: SIGINT, SIGTERM or SIGHUP (on Windows,
// Ctrl+C, Ctrl+Break or the console closing). A run that sees it stops at
// its next frame, finishes the frames it has handed over and removes its
// temporary files, as it does when a window stops it; the program then ends
// with 128 + the signal's number.
bool StopRequested();
// The signal that asked to stop (SIGINT 2, SIGHUP 1, SIGTERM 15); 0: none.
int StopSignal();
// Asks to stop as the signal `signal` would (tests, and the handlers).
void RequestStop(int signal);
// Forgets a stop request (tests).
void ClearStopRequest();
// Makes the first of those signals a stop request and every later one end
// the program at once, as it would have without the handler.
void CatchStopSignals();
// Tells the handlers that the program has finished what a stop asked of it
// (Windows: the console's closing waits for that before it ends the process).
void StopDone();
// The exit status of a program that stopped on request: 128 + the signal.
inline int StopStatus() { return 128 + StopSignal(); }

}  // namespace sys

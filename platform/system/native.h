// What the kernel services need of the operating system itself, one file for
// each: native_posix.cpp and native_win32.cpp. Handles are the system's own
// (a file descriptor, a Windows HANDLE) kept in an integer; -1 is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sys::native {

// Writes all `size` bytes; false on any failure, with errno saying why.
bool WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size);
// Closes the handle; false when the system reports a failure (a write that
// only now failed).
bool Close(std::intptr_t handle);
// Writes `content` beside `path`, then puts it in the file's place in one
// step, so a failed write never leaves a truncated file. The file keeps its
// permissions.
bool ReplaceContent(const std::string& path, const std::string& content);

// Creates a new file beside `path` (in its folder, under a short name of its
// own, so that a name at the system's length limit still has room), open for
// writing; its name goes to `aside`. Where the folder's file system makes
// files with no name, the file has none and `aside` is empty: NameInPlace
// names it once it is whole, so a program killed while writing leaves
// nothing behind. -1 with errno set when none can be made.
std::intptr_t CreateBeside(const std::string& path, std::string& aside);
// Puts the unnamed file open as `handle` in the place of `path` in one step;
// errno (0: done).
int NameInPlace(std::intptr_t handle, const std::string& path);
// Whether what stands at `path` may be replaced by a new file: anything
// but a folder (a link is replaced itself, never what it leads to). False
// with errno EISDIR for a folder.
bool Replaceable(const std::string& path);
// Puts the file `aside` in the place of `path` in one step; errno (0: done).
int PutInPlace(const std::string& aside, const std::string& path);

// Writes a diagnostic line where this system keeps them.
void WriteDiagnostic(const std::string& line);

// Memory straight from the system for large buffers: `bytes` (a multiple of
// kLargePage) mapped read-write, starting on a kLargePage boundary where the
// system has pages of that size, and marked for them; nullptr when none is
// left. DiscardPages lets the system take back the pages of a range (its
// content becomes undefined; it stays usable).
inline constexpr std::size_t kLargePage = std::size_t(2) << 20;
void* MapLarge(std::size_t bytes);
void UnmapLarge(void* at, std::size_t bytes);
void DiscardPages(void* at, std::size_t bytes);

// Installs this system's handlers of the stop signals (see
// sys::CatchStopSignals); each calls OnStopSignal.
void CatchStopSignals();
// The handlers' common part: true for the first request, which it records;
// false for any later one, which must end the program at once.
bool OnStopSignal(int signal);
// Whether the program has finished what a stop asked of it.
bool StopFinished();

// The random part of temporary names (tests may replace it).
std::string RandomSuffix();

}  // namespace sys::native

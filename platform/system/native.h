// What the kernel services need of the operating system itself, one file for
// each: native_posix.cpp and native_win32.cpp. Handles are the system's own
// (a file descriptor, a Windows HANDLE) kept in an integer; -1 is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sys::native {

// Writes all `size` bytes; false on any failure.
bool WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size);
// Closes the handle; false when the system reports a failure (a write that
// only now failed).
bool Close(std::intptr_t handle);
// Writes `content` beside `path`, then puts it in the file's place in one
// step, so a failed write never leaves a truncated file. The file keeps its
// permissions.
bool ReplaceContent(const std::string& path, const std::string& content);

// The random part of temporary names (tests may replace it).
std::string RandomSuffix();

}  // namespace sys::native

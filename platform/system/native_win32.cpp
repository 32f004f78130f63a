// The kernel services on Windows, through its wide-character API: paths are
// UTF-8 everywhere in the program and UTF-16 only here, so folders of any
// script work whatever the system's code page.
#define NOMINMAX
#include <windows.h>
// After windows.h:
#include <io.h>
#include <shellapi.h>
// The program's own names, not the API's ANSI/wide macros.
#undef DeleteFile
#undef GetFileAttributes
#undef GetPrivateProfileString
#undef WritePrivateProfileString

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/system/native.h"
#include "platform/system/per_thread.h"
#include "platform/system/system.h"

namespace sys {

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t AsInteger(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h);
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A new file, created only when no file of that name exists.
HANDLE CreateNew(const std::string& path) {
  return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Volume and file index of an existing file or folder.
std::optional<BY_HANDLE_FILE_INFORMATION> IdentityOf(const std::string& path) {
  HANDLE h =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return info;
}

}  // namespace

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(std::size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(std::size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

namespace native {

void* MapLarge(std::size_t bytes) {
  // Large pages need a privilege users do not have: ordinary committed pages.
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapLarge(void* at, std::size_t) { ::VirtualFree(at, 0, MEM_RELEASE); }

void DiscardPages(void* at, std::size_t bytes) {
  ::VirtualAlloc(at, bytes, MEM_RESET, PAGE_READWRITE);
}

bool WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = DWORD(std::min<std::size_t>(size, std::size_t(1) << 30));
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle), data, chunk, &written, nullptr) || written == 0) {
      errno = ErrnoOf(GetLastError());
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool Close(std::intptr_t handle) {
  if (CloseHandle(AsHandle(handle)) != 0) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

std::intptr_t CreateBeside(const std::string& path, std::string& aside) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1]) && path[cut - 1] != ':') --cut;
  const std::string dir = path.substr(0, cut);
  for (int attempt = 0; attempt < 100; ++attempt) {
    aside = dir + ".velkor-" + RandomSuffix() + ".part";
    HANDLE h = CreateNew(aside);
    if (h != INVALID_HANDLE_VALUE) return AsInteger(h);
    if (GetLastError() != ERROR_FILE_EXISTS) {
      errno = ErrnoOf(GetLastError());
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

void WriteDiagnostic(const std::string& line) {
  OutputDebugStringW(Wide(line).c_str());
  // A console or a redirected standard error, when the program has one.
  std::fputs(line.c_str(), stderr);
}

// CreateBeside makes no unnamed file here.
int NameInPlace(std::intptr_t, const std::string&) { return ENOSYS; }

int PutInPlace(const std::string& aside, const std::string& path) {
  if (MoveFileExW(Wide(aside).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return ErrnoOf(GetLastError());
}

namespace {
// SIGHUP's number, which Windows does not define: a closed console is told
// as POSIX tells a hang-up (exit status 129).
constexpr int kHangUp = 1;

BOOL WINAPI StopHandler(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    // The first one asks the run to stop; a second one ends the program at
    // once (FALSE: the system's own handler).
    return OnStopSignal(SIGINT) ? TRUE : FALSE;
  }
  // The console is closing (or the user logging off): the system ends the
  // process as soon as this returns, so it waits, a few seconds at most,
  // for the run to stop and clean up.
  OnStopSignal(kHangUp);
  for (int waited = 0; waited < 4500 && !StopFinished(); waited += 20) ::Sleep(20);
  return TRUE;
}
}  // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(StopHandler, TRUE); }

bool Replaceable(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return true;
  }
  errno = EISDIR;  // never replaced, and said as POSIX says it
  return false;
}

bool ReplaceContent(const std::string& path, const std::string& content) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1]) && path[cut - 1] != ':') --cut;
  const std::string dir = cut == 0 ? std::string(".\\") : path.substr(0, cut);
  std::string aside;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    aside = dir + ".ini-" + RandomSuffix();
    h = CreateNew(aside);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      errno = ErrnoOf(GetLastError());
      return false;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    errno = EEXIST;
    return false;
  }
  const bool written =
      WriteAll(AsInteger(h), reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  const bool closed = CloseHandle(h) != 0;
  if (!written || !closed ||
      !MoveFileExW(Wide(aside).c_str(), Wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int error = written && closed ? ErrnoOf(GetLastError()) : errno;
    DeleteFileW(Wide(aside).c_str());
    errno = error;
    return false;
  }
  return true;
}

}  // namespace native

namespace detail {

namespace {
struct ExitAction {
  void* object;
  void (*destroy)(void*);
};
using ExitActions = std::vector<ExitAction>;

// A fiber-local slot holds each thread's list; the system calls this with the
// list when the thread ends, in whatever order it tears down other storage.
void WINAPI RunExitActions(void* list) {
  auto* actions = static_cast<ExitActions*>(list);
  for (auto it = actions->rbegin(); it != actions->rend(); ++it) it->destroy(it->object);
  delete actions;
}
}  // namespace

void DestroyAtThreadExit(void* object, void (*destroy)(void*)) {
  static const DWORD slot = FlsAlloc(RunExitActions);
  if (slot == FLS_OUT_OF_INDEXES) return;  // the object outlives its thread: a leak, not a crash
  auto* actions = static_cast<ExitActions*>(FlsGetValue(slot));
  if (actions == nullptr) {
    actions = new ExitActions;
    FlsSetValue(slot, actions);
  }
  actions->push_back({object, destroy});
}

}  // namespace detail

std::optional<InputFile> InputFile::Open(const std::string& path, int* error) {
  auto fail = [error](int e) -> std::optional<InputFile> {
    if (error != nullptr) *error = e;
    return std::nullopt;
  };
  const std::wstring name = Wide(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail(ErrnoOf(GetLastError()));
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(EISDIR);
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(ErrnoOf(GetLastError()));
  LARGE_INTEGER size{};
  int e = 0;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    e = kNotRegularFile;
  } else if (!GetFileSizeEx(h, &size)) {
    e = ErrnoOf(GetLastError());
  } else if (std::uint64_t(size.QuadPart) > kMaxReadBytes) {
    e = EFBIG;
  }
  if (e != 0) {
    CloseHandle(h);
    return fail(e);
  }
  return InputFile(AsInteger(h), std::uint64_t(size.QuadPart));
}

std::int64_t InputFile::ReadAt(std::uint64_t offset, void* out, std::size_t n) const {
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t got = 0;
  while (got < n) {
    // A read at an offset of its own, so that threads reading one file
    // never move each other's position.
    OVERLAPPED at{};
    const std::uint64_t from = offset + got;
    at.Offset = DWORD(from & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(from >> 32);
    const DWORD chunk = DWORD(std::min<std::size_t>(n - got, std::size_t(1) << 30));
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle_), dst + got, chunk, &read, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      errno = EIO;
      return -1;
    }
    if (read == 0) break;
    got += read;
  }
  return std::int64_t(got);
}

bool DeleteFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

bool GetFileAttributes(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempFolder() {
  // TMP, else TEMP, else USERPROFILE, else the Windows folder; with a
  // trailing "\".
  std::vector<wchar_t> buf(MAX_PATH + 1);
  DWORD n = GetTempPathW(DWORD(buf.size()), buf.data());
  if (n > buf.size()) {
    buf.resize(n + 1);
    n = GetTempPathW(DWORD(buf.size()), buf.data());
  }
  std::string dir = n == 0 ? std::string(".\\") : Narrow(std::wstring(buf.data(), n));
  if (dir.empty() || !IsSeparator(dir.back())) dir += '\\';
  return dir;
}

std::optional<std::string> CreateTempFile(const std::string& folder, const std::string& prefix,
                                          const std::string& extension) {
  std::string dir = folder.empty() ? std::string(".\\") : folder;
  if (!IsSeparator(dir.back())) dir += '\\';
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + prefix + native::RandomSuffix();
    if (!extension.empty()) name += "." + extension;
    HANDLE h = CreateNew(name);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return name;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool WriteTempFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                   int* error) {
  // The file was made empty and exclusively for us; a link put in its place
  // is opened as itself, never followed.
  OutputFile out(AsInteger(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       TRUNCATE_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  if (!out.IsOpen()) {
    if (error != nullptr) *error = ErrnoOf(GetLastError());
    return false;
  }
  out.Write(data, size);
  if (out.Close()) return true;
  if (error != nullptr) *error = out.Error();
  return false;
}

std::FILE* OpenForReading(const std::string& path) {
  std::FILE* f = _wfopen(Wide(path).c_str(), L"rb");
  return f;
}

std::string NameKey(const std::string& path) {
  std::wstring wide = Wide(path);
  if (!wide.empty()) CharUpperBuffW(wide.data(), DWORD(wide.size()));
  return Narrow(wide);
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto x = IdentityOf(a), y = IdentityOf(b);
  return x && y && x->dwVolumeSerialNumber == y->dwVolumeSerialNumber &&
         x->nFileIndexHigh == y->nFileIndexHigh && x->nFileIndexLow == y->nFileIndexLow;
}

bool IsWritable(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A folder's attributes say nothing of who may write in it: try.
    const auto probe = CreateTempFile(path, ".velkor-", "tmp");
    if (!probe) return false;
    DeleteFile(*probe);
    return true;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) return false;
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

std::string ProgramFolder() {
  std::vector<wchar_t> buf(MAX_PATH);
  DWORD n = 0;
  while (true) {
    n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return ".";
    if (n < buf.size()) break;
    buf.resize(buf.size() * 2);
  }
  const std::string exe = Narrow(std::wstring(buf.data(), n));
  const auto slash = exe.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return exe.substr(0, slash);
}

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide != nullptr) {
    for (int i = 0; i < n; ++i) text_.push_back(Narrow(wide[i]));
    LocalFree(wide);
  } else {
    text_.assign(argv, argv + argc);
  }
  for (auto& t : text_) values_.push_back(t.data());
  values_.push_back(nullptr);
}

bool AcquireSingleInstance(const std::string& name) {
  // "Local\": the user's own session. The handle stays open until exit. A
  // mutex that cannot be opened at all belongs to another user's copy.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide("Local\\" + name).c_str());
  if (mutex == nullptr) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

Utf8Console::Utf8Console() {
  const UINT now = GetConsoleOutputCP();  // 0: no console
  if (now != 0 && now != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) previous_ = now;
}

Utf8Console::~Utf8Console() {
  if (previous_ != 0) SetConsoleOutputCP(previous_);
}

std::optional<std::string> Environment(const char* name) {
  // Read wide: a folder name in any script survives.
  const wchar_t* value = _wgetenv(Wide(name).c_str());
  if (value == nullptr) return std::nullopt;
  return Narrow(value);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::path(Wide(utf8)); }
std::string Utf8Of(const std::filesystem::path& path) { return Narrow(path.native()); }

}  // namespace sys

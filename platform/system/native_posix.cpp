// The kernel services on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/system/native.h"
#include "platform/system/system.h"

namespace sys {

namespace native {

namespace {
constexpr std::size_t kWritePiece = std::size_t(256) << 10;
}  // namespace

void* MapLarge(std::size_t bytes) {
  // Mapped a large page longer than asked, then trimmed to start on a large
  // page: a huge page can only back an aligned range.
  const std::size_t span = bytes + kLargePage;
  if (span < bytes) return nullptr;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* base = static_cast<std::uint8_t*>(raw);
  const std::size_t lead = (kLargePage - std::uintptr_t(base) % kLargePage) % kLargePage;
  if (lead > 0) ::munmap(base, lead);
  ::munmap(base + lead + bytes, kLargePage - lead);
  base += lead;
#ifdef MADV_HUGEPAGE
  // One fault per 2 MiB instead of one per 4 KiB: a split touches hundreds of
  // megabytes of fresh frame pictures, and each small fault costs far more
  // than the zeroing it does (most of all in a virtual machine). Refused
  // where the system has no such pages, which changes nothing else.
  ::madvise(base, bytes, MADV_HUGEPAGE);
#endif
  return base;
}

void UnmapLarge(void* at, std::size_t bytes) { ::munmap(at, bytes); }

void DiscardPages(void* at, std::size_t bytes) { ::madvise(at, bytes, MADV_DONTNEED); }

bool WriteAll(std::intptr_t handle, const std::uint8_t* data, std::size_t size) {
  const int fd = int(handle);
  while (size > 0) {
    // In pieces: handed a whole frame of megabytes in one call, the kernel
    // copies it into the page cache many times slower than in pieces of this
    // size (measured on ext4: 60 frames of 6 MB, 3.2-4.4 s against 0.15 s).
    const ssize_t n = ::write(fd, data, std::min(size, kWritePiece));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

bool Close(std::intptr_t handle) { return ::close(int(handle)) == 0; }

namespace {
// An unnamed file is named through its descriptor's entry in /proc (linkat
// with AT_EMPTY_PATH needs a privilege): without /proc, none is made.
bool UnnamedFilesNameable() {
  static const bool nameable = ::access("/proc/self/fd", X_OK) == 0;
  return nameable;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A fresh name in `dir` for a file being written beside its own.
std::string AsideName(const std::string& dir) {
  return dir + ".velkor-" + RandomSuffix() + ".part";
}
}  // namespace

std::intptr_t CreateBeside(const std::string& path, std::string& aside) {
  const std::string dir = FolderOf(path);
#ifdef O_TMPFILE
  if (UnnamedFilesNameable()) {
    // The mode of a file made under its own name, as below.
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      aside.clear();
      return fd;
    }
    // A file system that makes no unnamed files (EOPNOTSUPP, EISDIR,
    // EINVAL) gets a named one; any other failure the named one meets too.
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    aside = AsideName(dir);
    // The mode of a file made under its own name, so that putting it in
    // place changes nothing but its content.
    const int fd =
        ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

void WriteDiagnostic(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

int PutInPlace(const std::string& aside, const std::string& path) {
  return std::rename(aside.c_str(), path.c_str()) == 0 ? 0 : errno;
}

int NameInPlace(std::intptr_t handle, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(handle);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != EEXIST) return errno;
  // Something stands at the name (a link included, which is replaced
  // itself): the file is named beside it, then renamed over it in one step.
  const std::string dir = FolderOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string aside = AsideName(dir);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, aside.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    if (std::rename(aside.c_str(), path.c_str()) == 0) return 0;
    const int error = errno;
    ::unlink(aside.c_str());
    return error;
  }
  return EEXIST;
}

bool ReplaceContent(const std::string& path, const std::string& content) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  std::string tmpl = dir + ".ini-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    ::fchmod(fd, st.st_mode & 07777);
  else
    ::fchmod(fd, 0644);
  const bool written =
      WriteAll(fd, reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(name.data(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(name.data());
    errno = error;
    return false;
  }
  return true;
}

}  // namespace native

std::optional<InputFile> InputFile::Open(const std::string& path, int* error) {
  auto fail = [error](int e) -> std::optional<InputFile> {
    if (error != nullptr) *error = e;
    return std::nullopt;
  };
  // Not blocking while it opens: a FIFO would wait here for a writer that may
  // never come. Anything but a regular file is refused before any read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(errno);
  struct stat st {};
  int e = 0;
  if (::fstat(fd, &st) != 0) {
    e = errno;
  } else if (S_ISDIR(st.st_mode)) {
    e = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    e = kNotRegularFile;
  } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    e = errno;
  } else if (std::uint64_t(st.st_size) > kMaxReadBytes) {
    e = EFBIG;
  }
  if (e != 0) {
    ::close(fd);
    return fail(e);
  }
  return InputFile(fd, std::uint64_t(st.st_size));
}

std::int64_t InputFile::ReadAt(std::uint64_t offset, void* out, std::size_t n) const {
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(int(handle_), dst + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += std::size_t(r);
  }
  return std::int64_t(got);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

namespace {
void StopHandler(int signal) {
  // The first signal asks the run to stop; from then on each of them has its
  // default action again, so that a second one ends the program at once.
  native::OnStopSignal(signal);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
}
}  // namespace

void native::CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = StopHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

bool native::Replaceable(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
  errno = EISDIR;
  return false;
}

bool GetFileAttributes(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string TempFolder() {
  std::string dir;
  if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0') dir = t;
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::optional<std::string> CreateTempFile(const std::string& folder, const std::string& prefix,
                                          const std::string& extension) {
  std::string dir = folder.empty() ? std::string("./") : folder;
  if (dir.back() != '/') dir += '/';
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + prefix + native::RandomSuffix();
    if (!extension.empty()) name += "." + extension;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

bool WriteTempFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                   int* error) {
  // The file was made empty, private and exclusively for us; it is opened
  // without following a link put in its place. Not with O_TRUNC: ext4 takes
  // a truncation to nothing for a file being replaced and writes its blocks
  // out at close, so every temporary frame file would reach the disk, and
  // its removal would give the blocks back (a discard on some mounts). Only
  // a file that is not empty after all is cut.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    const int why = errno;
    ::close(fd);
    if (error != nullptr) *error = why;
    return false;
  }
  OutputFile out(fd);
  if (!out.IsOpen()) {
    if (error != nullptr) *error = errno;
    return false;
  }
  out.Write(data, size);
  if (out.Close()) return true;
  if (error != nullptr) *error = out.Error();
  return false;
}

std::string NameKey(const std::string& path) { return path; }

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool IsWritable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

std::string ProgramFolder() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  std::string exe(buf.data(), std::size_t(n));
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

Utf8Arguments::Utf8Arguments(int argc, char** argv) : text_(argv, argv + argc) {
  for (auto& t : text_) values_.push_back(t.data());
  values_.push_back(nullptr);
}

bool AcquireSingleInstance(const std::string& name) {
  std::string dir;
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && r[0] == '/') {
    dir = r;
  } else {
    dir = "/tmp/velkor-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
  }
  const std::string path = dir + "/" + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open, and the lock held, until exit
}

Utf8Console::Utf8Console() {}
Utf8Console::~Utf8Console() {}

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string Utf8Of(const std::filesystem::path& path) { return path.string(); }

}  // namespace sys

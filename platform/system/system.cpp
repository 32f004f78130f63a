#include "platform/system/system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

namespace sys {

namespace {

SleepHook& SleepHookRef() {
  static SleepHook hook;
  return hook;
}
YieldHook& YieldHookRef() {
  static YieldHook hook;
  return hook;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

std::function<std::string()>& TempNameSource() {
  static std::function<std::string()> source;
  return source;
}

std::string RandomSuffix() {
  if (auto& source = TempNameSource()) return source();
  // Frames are cut out on several threads at once.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  static std::mt19937_64 rng{
      std::random_device{}() ^
      std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 8; ++i) s += kChars[rng() % (sizeof(kChars) - 1)];
  return s;
}

std::string Lower(std::string s) {
  for (auto& c : s) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return s;
}

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

struct IniLine {
  std::string text;  // without its line ending
};

std::vector<IniLine> SplitLines(const std::string& content, std::string& eol) {
  std::vector<IniLine> lines;
  eol = "\r\n";
  const auto firstLf = content.find('\n');
  if (firstLf != std::string::npos && (firstLf == 0 || content[firstLf - 1] != '\r')) eol = "\n";
  std::size_t pos = 0;
  while (pos < content.size()) {
    auto lf = content.find('\n', pos);
    std::string line = content.substr(pos, lf == std::string::npos ? std::string::npos : lf - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back({line});
    if (lf == std::string::npos) break;
    pos = lf + 1;
  }
  return lines;
}

// "[name]" -> lower-cased trimmed name; empty optional for other lines.
std::optional<std::string> SectionName(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Lower(Trim(t.substr(1, close - 1)));
}

// "key=value" -> lower-cased trimmed key; comments and other lines give none.
std::optional<std::string> KeyName(const std::string& line) {
  const std::string t = Trim(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return Lower(Trim(t.substr(0, eq)));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, int* error) {
  auto fail = [error](int e) -> std::optional<std::vector<std::uint8_t>> {
    if (error != nullptr) *error = e;
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat st {};
  int e = 0;
  if (::fstat(fd, &st) != 0) {
    e = errno;
  } else if (S_ISDIR(st.st_mode)) {
    e = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    e = EINVAL;
  } else if (std::uint64_t(st.st_size) > kMaxReadBytes) {
    e = EFBIG;
  }
  if (e != 0) {
    ::close(fd);
    return fail(e);
  }
  std::vector<std::uint8_t> data;
  try {
    data.resize(std::size_t(st.st_size));
  } catch (...) {  // std::bad_alloc: the caller's to handle, with the file closed
    ::close(fd);
    throw;
  }
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      e = errno;
      ::close(fd);
      return fail(e);
    }
    if (n == 0) break;
    got += std::size_t(n);
  }
  ::close(fd);
  data.resize(got);  // a file that shrank while being read gives what was there
  return data;
}

OutputFile::OutputFile(OutputFile&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), ok_(o.ok_), buffer_(std::move(o.buffer_)) {}

OutputFile& OutputFile::operator=(OutputFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = std::exchange(o.fd_, -1);
    ok_ = o.ok_;
    buffer_ = std::move(o.buffer_);
  }
  return *this;
}

OutputFile::~OutputFile() { Close(); }

void OutputFile::Flush() {
  if (fd_ >= 0 && !buffer_.empty()) {
    if (!WriteAll(fd_, buffer_.data(), buffer_.size())) ok_ = false;
  }
  buffer_.clear();
}

void OutputFile::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    if (fd_ >= 0 && !WriteAll(fd_, p, size)) ok_ = false;
    return;
  }
  buffer_.insert(buffer_.end(), p, p + size);
}

bool OutputFile::Close() {
  if (fd_ < 0) return ok_;
  Flush();
  if (::close(fd_) != 0) ok_ = false;
  fd_ = -1;
  return ok_;
}

ReplaceResult CreateFileReplacing(const std::string& path, OutputFile& out) {
  if (GetFileAttributes(path) && ::unlink(path.c_str()) != 0) return ReplaceResult::CannotDelete;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return ReplaceResult::CannotCreate;
  out = OutputFile(fd);
  return ReplaceResult::Ok;
}

bool WriteBinaryFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  OutputFile out;
  if (CreateFileReplacing(path, out) != ReplaceResult::Ok) return false;
  out.Write(data, size);
  return out.Close();
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

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
    std::string name = dir + prefix + RandomSuffix();
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

bool WriteTempFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  // The file was made empty, private and exclusively for us; it is opened
  // without following a link put in its place.
  OutputFile out(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  if (!out.IsOpen()) return false;
  out.Write(data, size);
  return out.Close();
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool IsWritable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

void SetTempNameSource(std::function<std::string()> source) {
  TempNameSource() = std::move(source);
}

std::function<std::string()> TempNameSourceNow() { return TempNameSource(); }

std::string ProgramFolder() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  std::string exe(buf.data(), std::size_t(n));
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::optional<std::string> FindProfileValue(const std::string& content, const std::string& section,
                                            const std::string& key) {
  std::string eol;
  const auto lines = SplitLines(content, eol);
  const std::string sec = Lower(Trim(section)), k = Lower(Trim(key));
  bool inSection = false;
  for (const auto& line : lines) {
    if (auto s = SectionName(line.text)) {
      inSection = (*s == sec);
      continue;
    }
    if (!inSection) continue;
    if (auto name = KeyName(line.text); name && *name == k) {
      const auto eq = line.text.find('=');
      return Trim(line.text.substr(eq + 1));
    }
  }
  return std::nullopt;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& path,
                                    std::size_t size) {
  std::optional<std::string> value;
  if (const auto data = ReadWholeFile(path)) {
    value = FindProfileValue(std::string(data->begin(), data->end()), section, key);
  }
  std::string v = value.value_or(def);
  if (size == 0) return {};
  if (v.size() > size - 1) v.resize(size - 1);
  return v;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  std::string content;
  if (auto data = ReadWholeFile(path)) {
    content.assign(data->begin(), data->end());
  } else if (GetFileAttributes(path)) {
    return false;  // there but unreadable: rewriting it would lose its content
  }
  std::string eol;
  auto lines = SplitLines(content, eol);
  const std::string sec = Lower(Trim(section)), k = Lower(Trim(key));
  const std::string newLine = key + "=" + value;

  // Find the section, the key in it, and the last non-blank line of it.
  std::optional<std::size_t> secLine, keyLine, lastInSection;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (auto s = SectionName(lines[i].text)) {
      if (inSection) break;  // the section ended
      inSection = (*s == sec);
      if (inSection) {
        secLine = i;
        lastInSection = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i].text).empty()) lastInSection = i;
    if (auto name = KeyName(lines[i].text); name && *name == k && !keyLine) keyLine = i;
  }
  if (keyLine) {
    lines[*keyLine].text = newLine;
  } else if (secLine) {
    lines.insert(lines.begin() + std::ptrdiff_t(*lastInSection + 1), IniLine{newLine});
  } else {
    lines.push_back({"[" + section + "]"});
    lines.push_back({newLine});
  }
  std::string out;
  for (const auto& l : lines) out += l.text + eol;

  // Write aside in the same folder, then rename over the old file.
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string tmpl = (slash == std::string::npos ? std::string("./") : dir) + ".ini-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    ::fchmod(fd, st.st_mode & 07777);
  else
    ::fchmod(fd, 0644);
  const bool written = WriteAll(fd, reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(name.data(), path.c_str()) != 0) {
    ::unlink(name.data());
    return false;
  }
  return true;
}

void SetSleepHook(SleepHook hook) { SleepHookRef() = std::move(hook); }

SleepHook SleepHookNow() { return SleepHookRef(); }

void Sleep(std::int64_t ms) {
  if (auto& hook = SleepHookRef()) {
    hook(ms);
    return;
  }
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetYieldHook(YieldHook hook) { YieldHookRef() = std::move(hook); }

YieldHook YieldHookNow() { return YieldHookRef(); }

namespace {
// Static initialisation runs on the thread that starts the program, the one
// the window system lives on.
const std::thread::id g_windowThread = std::this_thread::get_id();
}  // namespace

bool OnWindowThread() { return std::this_thread::get_id() == g_windowThread; }

void DoEvents() {
  assert(OnWindowThread() && "only the window thread yields to the window system");
  if (auto& hook = YieldHookRef()) hook();
}

}  // namespace sys

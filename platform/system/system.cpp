// The kernel services every system shares; what each system does its own
// way is in native_posix.cpp and native_win32.cpp.
#include "platform/system/system.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "platform/system/native.h"

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

std::function<std::string()>& TempNameSource() {
  static std::function<std::string()> source;
  return source;
}

}  // namespace

std::string native::RandomSuffix() {
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

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (pattern.size() < 2 || pattern[0] != '*') return false;
  const std::string ext = pattern.substr(1);
  if (name.size() <= ext.size()) return false;
  return std::equal(ext.rbegin(), ext.rend(), name.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

namespace {

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

InputFile::InputFile(InputFile&& o) noexcept
    : handle_(std::exchange(o.handle_, -1)), size_(std::exchange(o.size_, 0)) {}

InputFile& InputFile::operator=(InputFile&& o) noexcept {
  if (this != &o) {
    if (handle_ != -1) native::Close(handle_);
    handle_ = std::exchange(o.handle_, -1);
    size_ = std::exchange(o.size_, 0);
  }
  return *this;
}

InputFile::~InputFile() {
  if (handle_ != -1) native::Close(handle_);
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path, int* error) {
  auto file = InputFile::Open(path, error);
  if (!file) return std::nullopt;
  // std::bad_alloc is the caller's to handle; the file closes on the way out.
  std::vector<std::uint8_t> data(std::size_t(file->Size()));
  const std::int64_t got = file->ReadAt(0, data.data(), data.size());
  if (got < 0) {
    if (error != nullptr) *error = errno;
    return std::nullopt;
  }
  data.resize(std::size_t(got));  // a file that shrank while being read gives what was there
  return data;
}

OutputFile::OutputFile(OutputFile&& o) noexcept
    : handle_(std::exchange(o.handle_, -1)),
      error_(o.error_),
      buffer_(std::move(o.buffer_)),
      aside_(std::exchange(o.aside_, {})),
      path_(std::exchange(o.path_, {})) {}

OutputFile& OutputFile::operator=(OutputFile&& o) noexcept {
  if (this != &o) {
    Discard();
    handle_ = std::exchange(o.handle_, -1);
    error_ = o.error_;
    buffer_ = std::move(o.buffer_);
    aside_ = std::exchange(o.aside_, {});
    path_ = std::exchange(o.path_, {});
  }
  return *this;
}

// A file left without Close was not written to the end: it never takes the
// place of its name.
OutputFile::~OutputFile() {
  if (path_.empty()) {
    Close();
  } else {
    Discard();
  }
}

void OutputFile::Flush() {
  if (handle_ != -1 && !buffer_.empty() && error_ == 0) {
    if (!native::WriteAll(handle_, buffer_.data(), buffer_.size())) Fail(errno);
  }
  buffer_.clear();
}

void OutputFile::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    if (handle_ != -1 && error_ == 0 && !native::WriteAll(handle_, p, size)) Fail(errno);
    return;
  }
  buffer_.insert(buffer_.end(), p, p + size);
}

bool OutputFile::Close() {
  if (handle_ == -1) return ok();
  Flush();
  // An unnamed file is named while it is still open; a named one is put in
  // place once closed (some systems rename no open file).
  const bool unnamed = !path_.empty() && aside_.empty();
  bool named = false;
  if (unnamed && error_ == 0) {
    if (const int e = native::NameInPlace(handle_, path_); e != 0) {
      Fail(e);
    } else {
      named = true;
    }
  }
  if (!native::Close(handle_)) Fail(errno);
  handle_ = -1;
  if (!path_.empty()) {
    if (!aside_.empty()) {
      if (error_ == 0) {
        if (const int e = native::PutInPlace(aside_, path_); e != 0) Fail(e);
      }
      if (error_ != 0) DeleteFile(aside_);
    } else if (named && error_ != 0) {
      DeleteFile(path_);  // a write that failed only at the close: not whole
    }
    aside_.clear();
    path_.clear();
  }
  return ok();
}

void OutputFile::Discard() {
  buffer_.clear();
  if (handle_ != -1) native::Close(handle_);  // an unnamed file goes with it
  handle_ = -1;
  if (!aside_.empty()) DeleteFile(aside_);
  aside_.clear();
  path_.clear();
}

ReplaceResult CreateFileReplacing(const std::string& path, OutputFile& out, int* error) {
  auto fail = [error](ReplaceResult result) {
    if (error != nullptr) *error = errno != 0 ? errno : EIO;
    return result;
  };
  errno = 0;
  // What stands at the name stays until the new file has been written whole
  // and takes its place: a failed write (a full disk) loses no earlier file.
  if (!native::Replaceable(path)) return fail(ReplaceResult::CannotDelete);
  std::string aside;
  const std::intptr_t handle = native::CreateBeside(path, aside);
  if (handle == -1) return fail(ReplaceResult::CannotCreate);
  out = OutputFile(handle, std::move(aside), path);
  return ReplaceResult::Ok;
}

bool WriteBinaryFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                     int* error) {
  OutputFile out;
  if (CreateFileReplacing(path, out, error) != ReplaceResult::Ok) return false;
  out.Write(data, size);
  if (out.Close()) return true;
  if (error != nullptr) *error = out.Error();
  return false;
}

namespace {
DiagnosticHook& DiagnosticHookRef() {
  static DiagnosticHook hook;
  return hook;
}
}  // namespace

void SetDiagnosticHook(DiagnosticHook hook) { DiagnosticHookRef() = std::move(hook); }
DiagnosticHook DiagnosticHookNow() { return DiagnosticHookRef(); }

void Diagnostic(const std::string& line) {
  if (auto& hook = DiagnosticHookRef()) {
    hook(line);
    return;
  }
  native::WriteDiagnostic("Velkor: " + line + "\n");
}

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error);
}

void SetTempNameSource(std::function<std::string()> source) {
  TempNameSource() = std::move(source);
}

std::function<std::string()> TempNameSourceNow() { return TempNameSource(); }

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
                               const std::string& value, const std::string& path, int* error) {
  auto fail = [error](int e) {
    if (error != nullptr) *error = e != 0 ? e : EIO;
    return false;
  };
  std::string content;
  int readError = 0;
  if (auto data = ReadWholeFile(path, &readError)) {
    content.assign(data->begin(), data->end());
  } else if (GetFileAttributes(path)) {
    return fail(readError);  // there but unreadable: rewriting it would lose its content
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

  errno = 0;
  return native::ReplaceContent(path, out) || fail(errno);
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

thread_local bool t_headless = false;
}  // namespace

HeadlessThread::HeadlessThread() { t_headless = true; }
HeadlessThread::~HeadlessThread() { t_headless = false; }

bool OnWindowThread() { return t_headless || std::this_thread::get_id() == g_windowThread; }

void DoEvents() {
  assert(OnWindowThread() && "only the window thread yields to the window system");
  if (auto& hook = YieldHookRef()) hook();
}

namespace {
// Read from signal handlers: a lock-free atomic is all they may touch.
std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_stopDone{false};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace

bool StopRequested() { return g_stopSignal.load(std::memory_order_relaxed) != 0; }
int StopSignal() { return g_stopSignal.load(std::memory_order_relaxed); }
void RequestStop(int signal) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, signal);
}
void ClearStopRequest() {
  g_stopSignal = 0;
  g_stopDone = false;
}
void CatchStopSignals() { native::CatchStopSignals(); }
void StopDone() { g_stopDone = true; }

bool native::OnStopSignal(int signal) {
  int none = 0;
  return g_stopSignal.compare_exchange_strong(none, signal);
}
bool native::StopFinished() { return g_stopDone.load(); }

bool NameTaken(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(PathOf(path), ec));
}

}  // namespace sys

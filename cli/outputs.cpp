#include "cli/outputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system/system.h"

Listing& Listing::Standard() {
  static Listing listing;
  return listing;
}

void Listing::Write(const std::string& bytes) {
  if (gone_ || lost_ != 0) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
      std::fflush(stdout) != 0) {
    const int error = errno != 0 ? errno : EIO;
    if (error == EPIPE) {
      gone_ = true;
    } else {
      lost_ = error;
    }
  }
}

std::string ListedPath(const std::string& path, ListFormat format) {
  return format == ListFormat::Nul ? path + '\0' : path + '\n';
}

bool WriteOut(const std::string& text) {
  errno = 0;
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

void DirectOutput::Error(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

bool OutputFolders::Prepare(const std::string& dir, Output& out) {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  auto path = std::filesystem::absolute(sys::PathOf(dir), ec).lexically_normal();
  for (auto p = path; !ec && !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
    made_.push_back(p);
    if (p == p.parent_path()) break;
  }
  std::filesystem::create_directories(sys::PathOf(dir), ec);
  if (ec) {
    out.Error("velkor-split: " + dir + ": cannot make the folder: " + ec.message());
    return false;
  }
  errno = 0;
  const auto probe = sys::CreateTempFile(dir, ".velkor-split-", "tmp");
  if (!probe) {
    out.Error("velkor-split: " + dir +
              ": cannot write there: " + std::strerror(errno != 0 ? errno : EACCES));
    return false;
  }
  sys::DeleteFile(*probe);
  return true;
}

void OutputFolders::RemoveIfEmpty() {
  std::lock_guard lock(mutex_);
  std::sort(made_.begin(), made_.end(),
            [](const auto& a, const auto& b) { return a.native().size() > b.native().size(); });
  std::error_code ec;
  for (const auto& p : made_) std::filesystem::remove(p, ec);
  made_.clear();
}

std::string Count(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string FrameRange(std::int64_t first, std::int64_t last) {
  if (first == last) return "frame " + std::to_string(first);
  return "frames " + std::to_string(first) + " to " + std::to_string(last);
}

std::string SummaryLine(const Tally& t, bool info, bool salvage, const char* stoppedBy) {
  std::string line = "velkor-split: ";
  if (stoppedBy != nullptr) line += std::string("interrupted by ") + stoppedBy + ": ";
  line += Count(std::int64_t(t.files), "file", "files") + ": ";
  auto part = [&](std::size_t n, const char* what, bool always) {
    if (n > 0 || always) line += std::to_string(n) + " " + what + ", ";
  };
  if (info) {
    part(t.split, "can be split", true);
    part(t.incomplete, "failed", false);
    part(t.notStarted, "not started", false);
    line += std::to_string(t.refused) + " refused";
    if (t.skipped > 0) line += ", " + std::to_string(t.skipped) + " skipped (frames of others)";
    return line;
  }
  part(t.split, "split", true);
  part(t.incomplete, "incomplete", false);
  part(t.damaged, "damaged", salvage);
  part(t.notStarted, "not started", false);
  line += std::to_string(t.refused) + " refused";
  if (t.skipped > 0) line += ", " + std::to_string(t.skipped) + " skipped (frames of others)";
  line += "; " + Count(t.written, "frame", "frames") + " written, " + std::to_string(t.notWritten) +
          " not written";
  if (t.kept > 0) line += ", " + std::to_string(t.kept) + " kept (their names exist)";
  return line;
}

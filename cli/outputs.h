// Where velkor-split's words go: the listing of the frames written (lines,
// NUL-separated names or JSON Lines), the frame tables, the messages, and
// the last line that sums up a run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

enum class ListFormat { Lines, Nul, Json };

// Standard output, which may go away (a closed pipe): the frames are still
// written, and the exit status says what happened to them. A listing that
// cannot be written for any other reason (a full disk) is lost, and that is
// an error: a script reading it would miss frames that exist.
class Listing {
 public:
  static Listing& Standard();
  // Writes `bytes` (one entry with its terminator) whole.
  void Write(const std::string& bytes);
  // The errno of the write that lost the listing; 0 when none did.
  int Lost() const { return lost_; }

 private:
  bool gone_ = false;
  int lost_ = 0;
};

// One path of the listing with its terminator: a line, or the name and a NUL.
std::string ListedPath(const std::string& path, ListFormat format);

// Writes text whole to standard output; false, with errno, when it did not
// reach it.
bool WriteOut(const std::string& text);

// Where one file's words go: at once for a single FILE, kept until the
// file's turn in a run of several, so that the listing is in the order of
// the files whatever finishes first.
class Output {
 public:
  virtual ~Output() = default;
  virtual void Listed(const std::string& bytes) = 0;  // an entry of the listing
  virtual bool Table(const std::string& text) = 0;    // --info's table; false: not written
  virtual void Error(const std::string& text) = 0;    // a line of standard error
};

class DirectOutput : public Output {
 public:
  void Listed(const std::string& bytes) override { Listing::Standard().Write(bytes); }
  bool Table(const std::string& text) override { return WriteOut(text); }
  void Error(const std::string& text) override;
};

class KeptOutput : public Output {
 public:
  enum class Stream { Listing, Error, Table };
  struct Item {
    Stream stream;
    std::string text;
  };
  void Listed(const std::string& bytes) override { items.push_back({Stream::Listing, bytes}); }
  bool Table(const std::string& text) override {
    items.push_back({Stream::Table, text});
    return true;
  }
  void Error(const std::string& text) override { items.push_back({Stream::Error, text}); }
  std::vector<Item> items;
};

// The folders a run made for -o, removed again when nothing was written into
// them: a refused folder or a run without frames leaves nothing behind. Runs
// side by side share it.
class OutputFolders {
 public:
  // Makes DIR when missing and checks that a file can be made in it, so that
  // a folder that cannot be written is reported before any frame is played.
  bool Prepare(const std::string& dir, Output& out);
  // Removes the folders made, innermost first, as far as they are empty.
  void RemoveIfEmpty();

 private:
  std::mutex mutex_;
  std::vector<std::filesystem::path> made_;
};

// "1 file", "2 files".
std::string Count(std::int64_t n, const char* one, const char* many);
// "frame 1", "frames 1 to 4".
std::string FrameRange(std::int64_t first, std::int64_t last);

// What the files of a run came to, for the last line.
struct Tally {
  std::size_t files = 0, split = 0, incomplete = 0, damaged = 0, refused = 0, notStarted = 0;
  std::size_t skipped = 0;  // files of the walk that are frames of others
  std::int64_t written = 0, notWritten = 0, kept = 0;
};

// "velkor-split: 6 files: 5 split, 1 refused; 27 frames written, 0 not
// written", with the kinds that occurred, and the signal that stopped the
// run (none: nullptr).
std::string SummaryLine(const Tally& t, bool info, bool salvage, const char* stoppedBy);

// Helpers shared by the tests: temporary folders, the corpus location, and
// small GIF byte builders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + kSeparator + name; }
#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif

 private:
  std::string path_;
};

// The variable naming the system's temporary folder: TMPDIR, or TMP on
// Windows; and setting or removing a variable of the process.
#ifdef _WIN32
inline constexpr const char* kTempFolderVariable = "TMP";
#else
inline constexpr const char* kTempFolderVariable = "TMPDIR";
#endif
void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// Points the system's temporary folder at `dir` for the guard's life.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& dir);
  ~ScopedTempFolder();
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// The shared corpus folder, or "" when this checkout has none beside it.
std::string CorpusDir();
// Every *.gif below the corpus folder, sorted.
std::vector<std::string> CorpusGifs();

using Bytes = std::vector<std::uint8_t>;
Bytes Cat(std::initializer_list<Bytes> parts);
std::vector<std::uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);

// "GIF89a", screen w x h, packed, background 0, aspect 0.
Bytes Header(int w, int h, std::uint8_t packed);
// A graphic control extension.
Bytes Gce(std::uint8_t packed, int delay, std::uint8_t transparentIndex);
// An image descriptor at (l, t) of w x h with `packed`, followed by a minimal
// valid image data stream (code size 2, 3 or 8 as `pixel` needs) for w*h pixels of index `pixel`
// (encoded uncompressed: a clear code before every pixel keeps 3-bit codes).
Bytes Image(int l, int t, int w, int h, std::uint8_t packed, std::uint8_t pixel = 0,
            const Bytes& localTable = {});
// LZW data (code size byte, sub-blocks, terminator) for `pixels` with a given
// minimum code size, written with a clear before every pixel.
Bytes ImageData(const std::vector<std::uint8_t>& pixels, int codeSize = 2);
// Entries of a colour table, each {r, g, b}.
Bytes Table(std::initializer_list<std::initializer_list<std::uint8_t>> entries);

// Names of files in `dir` (not recursive), sorted.
std::vector<std::string> ListDir(const std::string& dir);

}  // namespace testutil

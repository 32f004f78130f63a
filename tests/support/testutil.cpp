#include "tests/support/testutil.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace testutil {

TempDir::TempDir() {
  std::random_device rd;
  const fs::path base = fs::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    fs::path p = base / ("velkor-test-" + std::to_string(rd()) + std::to_string(rd()));
    if (fs::create_directory(p)) {
      path_ = p.string();
      return;
    }
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes it
#else
  unsetenv(name);
#endif
}

ScopedTempFolder::ScopedTempFolder(const std::string& dir) {
  const char* old = std::getenv(kTempFolderVariable);
  had_ = old != nullptr;
  if (had_) old_ = old;
  SetEnv(kTempFolderVariable, dir);
}

ScopedTempFolder::~ScopedTempFolder() {
  if (had_) {
    SetEnv(kTempFolderVariable, old_);
  } else {
    UnsetEnv(kTempFolderVariable);
  }
}

std::string CorpusDir() {
#ifdef VELKOR_CORPUS_DIR
  const fs::path p = VELKOR_CORPUS_DIR;
  if (fs::is_directory(p)) return fs::canonical(p).string();
#endif
  return {};
}

std::vector<std::string> CorpusGifs() {
  std::vector<std::string> out;
  const std::string dir = CorpusDir();
  if (dir.empty()) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() == ".gif") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Header(int w, int h, std::uint8_t packed) {
  return {'G',
          'I',
          'F',
          '8',
          '9',
          'a',
          std::uint8_t(w),
          std::uint8_t(w >> 8),
          std::uint8_t(h),
          std::uint8_t(h >> 8),
          packed,
          0,
          0};
}

Bytes Gce(std::uint8_t packed, int delay, std::uint8_t transparentIndex) {
  return {0x21, 0xF9, 0x04, packed, std::uint8_t(delay), std::uint8_t(delay >> 8), transparentIndex,
          0x00};
}

Bytes ImageData(const std::vector<std::uint8_t>& pixels, int codeSize) {
  // Every code is codeSize + 1 bits: a clear before each pixel keeps the
  // decoder's code width from growing.
  const int width = codeSize + 1;
  const unsigned clear = 1u << codeSize, end = clear + 1;
  std::vector<std::uint8_t> packed;
  std::uint32_t acc = 0;
  int bits = 0;
  auto put = [&](unsigned code) {
    acc |= code << bits;
    bits += width;
    while (bits >= 8) {
      packed.push_back(std::uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (auto p : pixels) {
    put(clear);
    put(p);
  }
  put(clear);
  put(end);
  if (bits > 0) packed.push_back(std::uint8_t(acc));
  Bytes out{std::uint8_t(codeSize)};
  for (std::size_t i = 0; i < packed.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
    out.push_back(std::uint8_t(n));
    out.insert(out.end(), packed.begin() + std::ptrdiff_t(i),
               packed.begin() + std::ptrdiff_t(i + n));
  }
  out.push_back(0);
  return out;
}

Bytes Image(int l, int t, int w, int h, std::uint8_t packed, std::uint8_t pixel,
            const Bytes& localTable) {
  Bytes out{0x2C,
            std::uint8_t(l),
            std::uint8_t(l >> 8),
            std::uint8_t(t),
            std::uint8_t(t >> 8),
            std::uint8_t(w),
            std::uint8_t(w >> 8),
            std::uint8_t(h),
            std::uint8_t(h >> 8),
            packed};
  out.insert(out.end(), localTable.begin(), localTable.end());
  const int codeSize = pixel < 4 ? 2 : pixel < 8 ? 3 : 8;
  const Bytes data =
      ImageData(std::vector<std::uint8_t>(std::size_t(w) * std::size_t(h), pixel), codeSize);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes Table(std::initializer_list<std::initializer_list<std::uint8_t>> entries) {
  Bytes out;
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace testutil

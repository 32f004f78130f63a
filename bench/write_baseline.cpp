// The cost of the write side alone: writes files of the names and sizes found
// in FOLDER (the frames of an earlier split) into OUT, as plain
// open/write/close of bytes already in memory, in the order of their names.
// Whatever a split spends beyond this one program's time, on the same files
// in the same place, is its own.
// Usage: write_baseline FOLDER OUT
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_baseline FOLDER OUT\n");
    return 2;
  }
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, std::uintmax_t>> files;
  std::uintmax_t largest = 0;
  for (const auto& entry : fs::directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    files.emplace_back(entry.path().filename().string(), entry.file_size());
    largest = std::max(largest, entry.file_size());
  }
  std::sort(files.begin(), files.end());
  // One buffer, touched once, as a writer reuses its own from frame to frame.
  std::vector<char> bytes(std::size_t(largest), '\x5a');
  const std::string out = std::string(argv[2]) + "/";
  for (const auto& [name, size] : files) {
    const std::string path = out + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd, bytes.data() + done, std::size_t(size) - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
      }
      done += std::size_t(n);
    }
    if (::close(fd) != 0) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::uintmax_t total = 0;
  for (const auto& file : files) total += file.second;
  std::printf("%zu files, %ju bytes\n", files.size(), total);
  return 0;
}

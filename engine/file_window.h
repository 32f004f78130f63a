// The bytes of an open file by offset, read a piece at a time as a walk over
// them moves on: walking the blocks of a file of hundreds of megabytes holds
// one piece of it, never the whole file.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "platform/system/system.h"

class FileWindow {
 public:
  // Thrown when a byte below Size() cannot be read: the file has become
  // shorter since it was opened (error 0), or the read failed (errno).
  struct ReadFailure : std::exception {
    ReadFailure(std::uint64_t offset, int error) : offset(offset), error(error) {}
    std::uint64_t offset;
    int error;
    const char* what() const noexcept override { return "the file cannot be read"; }
  };

  FileWindow(sys::InputFile file, std::size_t pieceBytes)
      : file_(std::move(file)), pieceBytes_(std::max<std::size_t>(pieceBytes, 1)) {}

  std::uint64_t Size() const { return file_.Size(); }
  const sys::InputFile& File() const { return file_; }

  // Byte `i`, which must lie below Size(). Called from one thread at a time.
  std::uint8_t operator[](std::uint64_t i) const {
    // Below start_ the difference wraps around to a huge value.
    if (i - start_ < piece_.size()) return piece_[std::size_t(i - start_)];
    return Load(i);
  }

 private:
  std::uint8_t Load(std::uint64_t i) const {
    // A step back of a few bytes (an extension read once its end is known)
    // stays inside the piece.
    const std::uint64_t back = std::min<std::uint64_t>(i, pieceBytes_ / 4);
    start_ = i - back;
    const std::size_t want =
        std::size_t(std::min<std::uint64_t>(pieceBytes_, Size() > start_ ? Size() - start_ : 0));
    piece_.resize(want);
    const std::int64_t got = file_.ReadAt(start_, piece_.data(), want);
    const int error = got < 0 ? errno : 0;
    piece_.resize(std::size_t(std::max<std::int64_t>(got, 0)));
    if (back >= piece_.size()) throw ReadFailure{start_ + piece_.size(), error};
    return piece_[std::size_t(back)];
  }

  sys::InputFile file_;
  std::size_t pieceBytes_;
  mutable std::vector<std::uint8_t> piece_;
  mutable std::uint64_t start_ = 0;
};

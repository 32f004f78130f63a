#include "platform/picture/lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace lzw {

namespace {
constexpr int kMaxCodes = 4096;

// Writes the n bytes at `from` (all below `to`) at `to`, as far as `pixels`.
// Most strings are short: those go as one 16-byte load and store, which may
// write past the string's end (the next strings overwrite that) but never
// past the image.
inline void Copy(std::uint8_t* out, std::size_t to, std::size_t from, std::size_t n,
                 std::size_t pixels) {
  if (n <= 16 && to + 16 <= pixels) {
    std::uint8_t bytes[16];
    std::memcpy(bytes, out + from, 16);  // from + 16 <= to + 16: inside the image
    std::memcpy(out + to, bytes, 16);
    return;
  }
  std::memcpy(out + to, out + from, std::min(n, pixels - to));
}
}  // namespace

bool Decode(int minCodeSize, const std::uint8_t* data, std::size_t size, std::uint8_t* out,
            std::size_t pixels) {
  if (minCodeSize < 1 || minCodeSize > 8) return false;
  // Each entry's string was written to the output when the entry was made:
  // it is the string of the code before it, where that was written, and one
  // byte more. So an entry is its length and where it lies in the output,
  // and writing it is a copy from there.
  std::array<std::uint32_t, kMaxCodes> at{};
  std::array<std::uint16_t, kMaxCodes> length{};
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  for (int c = 0; c < clear; ++c) length[std::size_t(c)] = 1;
  int width = minCodeSize + 1;
  int next = clear + 2;
  int previous = -1;
  std::size_t previousAt = 0;  // where the previous code's string was written
  std::size_t written = 0;
  std::uint64_t bits = 0;
  int held = 0;
  std::size_t in = 0;

  while (written < pixels) {
    if (held < width) {
      // Refill to at least 56 bits: eight bytes at once away from the end.
      if (std::endian::native == std::endian::little && in + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, data + in, 8);
        bits |= word << held;
        const int take = (63 - held) / 8;
        in += std::size_t(take);
        held += take * 8;
      } else {
        while (held <= 56 && in < size) {
          bits |= std::uint64_t(data[in++]) << held;
          held += 8;
        }
        if (held < width) break;  // the data ran out
      }
    }
    const int code = int(bits & ((1u << width) - 1));
    bits >>= width;
    held -= width;
    if (code == clear) {
      width = minCodeSize + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) break;
    std::size_t n = 0;
    if (code < clear) {
      n = 1;
      if (out != nullptr) out[written] = std::uint8_t(code);
    } else if (previous < 0) {
      return false;  // the first code after a clear is a byte
    } else if (code < next) {
      n = length[std::size_t(code)];
      if (out != nullptr) Copy(out, written, at[std::size_t(code)], n, pixels);
    } else if (code == next && next < kMaxCodes) {
      // The entry being made: the previous string, then its own first byte.
      n = std::size_t(length[std::size_t(previous)]) + 1;
      if (out != nullptr) {
        Copy(out, written, previousAt, n - 1, pixels);
        if (written + n - 1 < pixels) out[written + n - 1] = out[previousAt];
      }
    } else {
      return false;  // a code that names no entry
    }
    if (previous >= 0 && next < kMaxCodes) {
      at[std::size_t(next)] = std::uint32_t(previousAt);
      length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    previous = code;
    previousAt = written;
    written += n;
  }
  return written >= pixels;
}

std::optional<std::size_t> JoinSubBlocks(const std::uint8_t* d, std::size_t size, std::size_t at,
                                         std::vector<std::uint8_t>& joined) {
  while (at < size) {
    const std::size_t n = d[at];
    if (n == 0) return at;
    if (n > size - at - 1) return std::nullopt;
    joined.insert(joined.end(), d + at + 1, d + at + 1 + n);
    at += n + 1;
  }
  return std::nullopt;
}

}  // namespace lzw

// The blocks of a GIF stream, walked the one way this program walks them: the
// engine to cut frames out of an animation, the picture loader to find a
// file's first image. Offsets here count from 0 at the file's first byte.
//
// Quirks of the walk, which every file this program has ever split relies on:
//   - ByteAtATime: a byte that starts no block, and an extension with a label
//     not listed below, is stepped over one byte at a time, so stray bytes
//     between blocks are survived instead of refused.
//   - FixedControlBlock: a graphic control extension is taken as its fixed 8
//     bytes; its block-size byte (4) is not read, so a wrong size cannot send
//     the walk astray.
//   - NoTrailerAtStart: the trailer is looked for only after a step, never at
//     the walk's starting position, so a trailer right after the header is
//     skipped and a stream without any image runs off its end.
//   - LastByteEnds: reaching the file's last byte ends the walk like a
//     trailer; that byte can start no block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace gifblocks {

// Block introducers and extension labels.
inline constexpr std::uint8_t kExtension = 0x21;
inline constexpr std::uint8_t kImageSeparator = 0x2C;
inline constexpr std::uint8_t kTrailer = 0x3B;
inline constexpr std::uint8_t kGraphicControlLabel = 0xF9;
inline constexpr std::uint8_t kApplicationLabel = 0xFF;
inline constexpr std::uint8_t kCommentLabel = 0xFE;
inline constexpr std::uint8_t kPlainTextLabel = 0x01;

// Header: "GIF8" and two version letters, then the logical screen descriptor.
inline constexpr std::size_t kHeaderSize = 13;
inline constexpr std::size_t kScreenWidthAt = 6;
inline constexpr std::size_t kScreenHeightAt = 8;
inline constexpr std::size_t kScreenFlagsAt = 10;
inline constexpr std::size_t kBackgroundAt = 11;
inline constexpr std::size_t kAspectAt = 12;

// Flags of the screen descriptor (global table) and of an image descriptor.
inline constexpr std::uint8_t kTableFlag = 0x80;
inline constexpr std::uint8_t kTableSizeMask = 0x07;
inline constexpr std::uint8_t kInterlaceFlag = 0x40;
inline constexpr std::uint8_t kImageSortFlag = 0x20;
inline constexpr std::uint8_t kGlobalSortFlag = 0x08;

// Bytes of a colour table whose size field is `size` (0..7): 6 to 768.
constexpr std::size_t TableBytes(std::uint8_t size) {
  return std::size_t(3) << ((size & kTableSizeMask) + 1);
}

// Image descriptor, from its separator: left, top, width, height, flags; the
// local table follows it, then the LZW minimum code size, then the data
// sub-blocks.
inline constexpr std::size_t kImageLeftAt = 1;
inline constexpr std::size_t kImageTopAt = 3;
inline constexpr std::size_t kImageWidthAt = 5;
inline constexpr std::size_t kImageHeightAt = 7;
inline constexpr std::size_t kImageFlagsAt = 9;
inline constexpr std::size_t kImageDescriptorSize = 10;
constexpr std::size_t LocalTableBytes(std::uint8_t flags) {
  return (flags & kTableFlag) ? TableBytes(flags) : 0;
}
// From the separator to the LZW code size byte.
constexpr std::size_t CodeSizeOffset(std::uint8_t flags) {
  return kImageDescriptorSize + LocalTableBytes(flags);
}

// Graphic control extension, from its introducer: flags, delay, transparent
// index; 8 bytes with its terminator (FixedControlBlock).
inline constexpr std::size_t kControlFlagsAt = 3;
inline constexpr std::size_t kControlDelayAt = 4;
inline constexpr std::size_t kControlTransparentAt = 6;
inline constexpr std::size_t kControlBlockSize = 8;
// Where the first data sub-block's size byte lies, from the introducer:
// introducer, label, then a fixed block of 11 (application) or 12 (plain
// text) bytes with its size byte; a comment has no fixed block.
inline constexpr std::size_t kApplicationDataAt = 14;
inline constexpr std::size_t kCommentDataAt = 2;
inline constexpr std::size_t kPlainTextDataAt = 15;

// The walks below read the stream through `d[offset]`: a pointer to bytes in
// memory, or anything else that hands out a file's bytes by offset.

// Offset of the terminator of the sub-blocks whose first size byte is at `s`;
// none when the chain runs past the `n` bytes (`*missing` then says where).
template <typename Bytes>
std::optional<std::size_t> SkipSubBlocks(const Bytes& d, std::size_t n, std::size_t s,
                                         std::size_t* missing = nullptr) {
  while (s < n) {
    if (d[s] == 0) return s;
    s += std::size_t(d[s]) + 1;
  }
  if (missing != nullptr) *missing = s;
  return std::nullopt;
}

// Where a walk over the blocks in front of an image stopped.
enum class Stop {
  Image,      // at an image separator
  Trailer,    // at the trailer
  LastByte,   // at the file's last byte (LastByteEnds)
  Truncated,  // a block runs past the end of the data
};
struct WalkEnd {
  Stop stop;
  // The separator, trailer or last byte; for Truncated, the first offset the
  // walk needed that lies past the data.
  std::size_t at;
  // For Truncated: the offset of the block that was cut short.
  std::size_t block = 0;
};

// Walks from `p` to the next image separator, calling `onExtension(offset,
// label)` for every extension with a label listed above that it meets on the
// way, once the whole block is known to lie inside the data.
template <typename Bytes, typename OnExtension>
WalkEnd WalkToImage(const Bytes& d, std::size_t n, std::size_t p, OnExtension&& onExtension) {
  while (true) {
    if (p >= n) return {Stop::Truncated, p, p};
    const std::size_t block = p;
    if (d[p] == kImageSeparator) return {Stop::Image, p};
    if (d[p] == kExtension) {
      if (p + 1 >= n) return {Stop::Truncated, p + 1, block};
      const std::uint8_t label = d[p + 1];
      std::size_t data = 0;
      if (label == kGraphicControlLabel) {
        if (p + kControlTransparentAt >= n) {
          return {Stop::Truncated, p + kControlFlagsAt < n ? n : p + kControlFlagsAt, block};
        }
        onExtension(p, label);
        p += kControlBlockSize;
      } else if (label == kApplicationLabel) {
        data = kApplicationDataAt;
      } else if (label == kCommentLabel) {
        data = kCommentDataAt;
      } else if (label == kPlainTextLabel) {
        data = kPlainTextDataAt;
      } else {
        p += 1;  // ByteAtATime
      }
      if (data != 0) {
        std::size_t missing = 0;
        const auto end = SkipSubBlocks(d, n, p + data, &missing);
        if (!end) return {Stop::Truncated, missing, block};
        onExtension(p, label);
        p = *end + 1;
      }
    } else {
      p += 1;  // ByteAtATime
    }
    if (p >= n) return {Stop::Truncated, p, block};
    if (d[p] == kTrailer) return {Stop::Trailer, p};
    if (p == n - 1) return {Stop::LastByte, p};
  }
}

// Length of a GIF's header and global table; none when the `n` bytes are no
// GIF or too short to hold them.
inline std::optional<std::size_t> HeaderLength(const std::uint8_t* d, std::size_t n) {
  if (n < kHeaderSize || d[0] != 'G' || d[1] != 'I' || d[2] != 'F') return std::nullopt;
  std::size_t header = kHeaderSize;
  const std::uint8_t flags = d[kScreenFlagsAt];
  if (flags & kTableFlag) header += TableBytes(flags);
  if (header > n) return std::nullopt;
  return header;
}

}  // namespace gifblocks

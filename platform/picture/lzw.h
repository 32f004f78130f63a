// The LZW decoder of GIF image data: the picture loader decodes every GIF
// picture with it (giflib takes over for any stream it does not finish as
// every decoder does), and the browser composition decodes its frames with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lzw {

// Decodes the code stream `data` (the sub-blocks' payload, joined) of an
// image of `pixels` pixels into `out` (at least `pixels` bytes; may be null
// to check the stream only). Returns false when the stream is not one every
// decoder finishes alike: a minimum code size outside 1..8, a first code
// after a clear that is no byte, a code that names no entry yet, or fewer
// pixels than the image holds before its end code or its data's end. Pixels
// past the image's are dropped. Where it returns true, the pixels are those
// of any decoder that follows the format, giflib's among them.
bool Decode(int minCodeSize, const std::uint8_t* data, std::size_t size, std::uint8_t* out,
            std::size_t pixels);

// Appends the payload of the sub-blocks from `at` (the first one's size
// byte) to `joined`; returns the offset of their terminator, none when the
// chain runs past `size` first.
std::optional<std::size_t> JoinSubBlocks(const std::uint8_t* d, std::size_t size, std::size_t at,
                                         std::vector<std::uint8_t>& joined);

}  // namespace lzw

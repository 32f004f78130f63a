// The own LZW decoder against giflib: every picture the loader gives is
// giflib's, frame by frame, over the corpus, thousands of damaged copies and
// the streams where decoders part ways.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/picture/gif_blocks.h"
#include "platform/picture/lzw.h"
#include "platform/picture/picture.h"
#include "tests/support/testutil.h"
#include "tools/gifgen/gifgen.h"

using namespace testutil;

namespace {

// Loads `gif` with the own decoder and with giflib alone; empty when both
// give the same picture (size, table and pixels) or both refuse it.
std::string Difference(const Bytes& gif, bool* ownDecoded = nullptr) {
  const std::int64_t before = platform::OwnLzwDecodes();
  platform::UseOwnLzwDecoder(true);
  const auto own = platform::LoadPictureFromMemory(gif.data(), gif.size());
  if (ownDecoded != nullptr) *ownDecoded = platform::OwnLzwDecodes() > before;
  platform::UseOwnLzwDecoder(false);
  const auto giflib = platform::LoadPictureFromMemory(gif.data(), gif.size());
  platform::UseOwnLzwDecoder(true);
  if (!own || !giflib) {
    if (bool(own) == bool(giflib)) return "";
    return own ? "giflib refuses what the own decoder gives" : "the own decoder refuses";
  }
  const gdi::Bitmap& a = *own->Handle();
  const gdi::Bitmap& b = *giflib->Handle();
  if (a.Width() != b.Width() || a.Height() != b.Height()) return "another size";
  if (a.Palette() != b.Palette()) return "another table";
  for (int y = 0; y < a.Height(); ++y) {
    if (!std::equal(a.Row8(y), a.Row8(y) + a.Width(), b.Row8(y))) {
      return "row " + std::to_string(y) + " differs";
    }
  }
  return "";
}

// Each image of a GIF as a file of its own: the header and global table,
// the image from its separator to its terminator, the trailer.
std::vector<Bytes> Images(const Bytes& gif) {
  std::vector<Bytes> out;
  const auto header = gifblocks::HeaderLength(gif.data(), gif.size());
  if (!header) return out;
  std::size_t p = *header;
  while (true) {
    const auto end =
        gifblocks::WalkToImage(gif.data(), gif.size(), p, [](std::size_t, std::uint8_t) {});
    if (end.stop != gifblocks::Stop::Image ||
        end.at + gifblocks::kImageDescriptorSize > gif.size()) {
      break;
    }
    const std::size_t data =
        end.at + gifblocks::CodeSizeOffset(gif[end.at + gifblocks::kImageFlagsAt]) + 1;
    const auto last = gifblocks::SkipSubBlocks(gif.data(), gif.size(), data);
    if (!last) break;
    Bytes one(gif.begin(), gif.begin() + std::ptrdiff_t(*header));
    one.insert(one.end(), gif.begin() + std::ptrdiff_t(end.at),
               gif.begin() + std::ptrdiff_t(*last + 1));
    one.push_back(gifblocks::kTrailer);
    out.push_back(std::move(one));
    p = *last + 1;
  }
  return out;
}

// Packs LZW codes as a GIF encoder does, widening as the table grows (a
// clear resets it), and wraps them as a w x h image with a table of
// 2^minCodeSize entries.
Bytes Stream(int minCodeSize, const std::vector<int>& codes, int w, int h, bool interlace = false) {
  Bytes bits;
  std::uint32_t acc = 0;
  int held = 0, width = minCodeSize + 1, next = (1 << minCodeSize) + 2;
  bool first = true;
  for (const int code : codes) {
    acc |= std::uint32_t(code) << held;
    held += width;
    while (held >= 8) {
      bits.push_back(std::uint8_t(acc));
      acc >>= 8;
      held -= 8;
    }
    if (code == 1 << minCodeSize) {
      width = minCodeSize + 1;
      next = (1 << minCodeSize) + 2;
      first = true;
      continue;
    }
    if (!first && next < 4096) {
      ++next;
      if (next == 1 << width && width < 12) ++width;
    }
    first = false;
  }
  if (held > 0) bits.push_back(std::uint8_t(acc));
  const int bitsPerEntry = std::max(1, minCodeSize);
  Bytes gif = Header(w, h, std::uint8_t(0x80 | (bitsPerEntry - 1)));
  for (int i = 0; i < (1 << bitsPerEntry); ++i) {
    gif.insert(gif.end(), {std::uint8_t(i * 3), std::uint8_t(i * 5), std::uint8_t(i * 7)});
  }
  gif.insert(gif.end(),
             {0x2C, 0, 0, 0, 0, std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(h),
              std::uint8_t(h >> 8), std::uint8_t(interlace ? 0x40 : 0), std::uint8_t(minCodeSize)});
  for (std::size_t at = 0; at < bits.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, bits.size() - at);
    gif.push_back(std::uint8_t(n));
    gif.insert(gif.end(), bits.begin() + std::ptrdiff_t(at), bits.begin() + std::ptrdiff_t(at + n));
  }
  gif.insert(gif.end(), {0, 0x3B});
  return gif;
}

}  // namespace

TEST(Lzw, EveryCorpusFrameAndThousandsOfDamagedCopiesAreGiflibs) {
  const auto files = CorpusGifs();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << CorpusDir();
  std::mt19937 random(36);
  std::size_t frames = 0, own = 0, mutants = 0;
  for (const auto& file : files) {
    for (const Bytes& image : Images(ReadFile(file))) {
      bool decoded = false;
      EXPECT_EQ(Difference(image, &decoded), "") << file << " frame " << frames;
      own += decoded ? 1 : 0;
      ++frames;
      if (image.size() < 40) continue;
      // Damage where the image's data lies: the last part of the copy.
      const std::size_t from = image.size() / 2;
      for (int m = 0; m < 6; ++m, ++mutants) {
        Bytes bad = image;
        const std::size_t at = from + random() % (bad.size() - from);
        switch (m % 3) {
          case 0:
            bad[at] ^= std::uint8_t(1u << (random() % 8));
            break;
          case 1:
            bad.resize(at);
            break;
          default:
            bad[at] = std::uint8_t(random());
            break;
        }
        EXPECT_EQ(Difference(bad), "") << file << " frame " << frames << " mutant " << m;
      }
    }
  }
  EXPECT_GT(frames, 500u);
  EXPECT_GT(mutants, 2000u);
  // The own decoder did the work: giflib took over only where it must.
  EXPECT_GT(own * 100, frames * 95) << own << " of " << frames;
}

TEST(Lzw, CodeSizesInterlaceAndTheStreamsWhereDecodersPartWays) {
  // Every minimum code size a table can need, interlaced or not.
  for (int bits = 1; bits <= 8; ++bits) {
    for (const bool interlace : {false, true}) {
      gifgen::Animation a;
      a.width = 37;
      a.height = 19;
      for (int i = 0; i < (1 << bits); ++i) {
        a.globalTable.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3)});
      }
      gifgen::Frame f;
      f.width = a.width;
      f.height = a.height;
      f.interlace = interlace;
      for (int i = 0; i < a.width * a.height; ++i) {
        f.indices.push_back(std::uint8_t((i * 7 + i / 37) % (1 << bits)));
      }
      a.frames.push_back(f);
      bool decoded = false;
      EXPECT_EQ(Difference(gifgen::Encode(a), &decoded), "") << bits << " " << interlace;
      EXPECT_TRUE(decoded) << bits << " " << interlace;
    }
  }
  // Code sizes past 8 (giflib refuses them) and 0.
  for (const int size : {0, 9, 10, 11, 12}) {
    const Bytes gif = Stream(2, {4, 1, 2, 3, 5}, 4, 1);
    Bytes bad = gif;
    bad[13 + 12 + 10] = std::uint8_t(size);
    EXPECT_EQ(Difference(bad), "") << size;
  }
  const int clear = 4, end = 5;
  bool decoded = false;
  // A full table and codes after it without a clear (a deferred clear),
  // then a clear and more.
  std::vector<int> codes{clear};
  for (int i = 0; i < 5000; ++i) codes.push_back(i % 4);
  codes.push_back(clear);
  for (int i = 0; i < 100; ++i) codes.push_back((i * 3) % 4);
  codes.push_back(end);
  EXPECT_EQ(Difference(Stream(2, codes, 100, 51), &decoded), "");
  EXPECT_TRUE(decoded);
  // A string code, and the code of the entry being made (KwKwK).
  EXPECT_EQ(Difference(Stream(2, {clear, 1, 6, 7, end}, 6, 1), &decoded), "");
  EXPECT_TRUE(decoded);
  // Where decoders part ways, the picture is giflib's: a code past the
  // table, a first code after a clear that is no byte, an end code before
  // the last pixel, data that ends in the middle of a code.
  for (const auto& stream : std::vector<std::vector<int>>{
           {clear, 1, 7, 2, end}, {clear, 6, 1, 2, end}, {clear, 1, 2, end, 3}, {clear, 1, 2}}) {
    SCOPED_TRACE(stream.size() * 100 + std::size_t(stream[2]));
    // 20 pixels for the cut one: the padding of its last byte holds no pixel.
    EXPECT_EQ(Difference(Stream(2, stream, stream.size() == 3 ? 20 : 4, 1), &decoded), "");
    EXPECT_FALSE(decoded);
  }
  Bytes cut = Stream(2, codes, 100, 51);
  cut.resize(cut.size() - 400);
  EXPECT_EQ(Difference(cut, &decoded), "");
  EXPECT_FALSE(decoded);
}

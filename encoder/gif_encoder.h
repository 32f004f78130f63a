// GIF: writes one picture as a single-image GIF file with a fixed 9-bit LZW.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

namespace sys {
class OutputFile;
}

class GIF {
 public:
  enum class Error { None, Busy, NoPicture, TooLarge, CannotDelete, CannotOpen, WriteFailed };

  // Raised after every tenth encoded row with the share of rows done, in percent.
  std::function<void(std::int16_t Percents)> Progress;

  // Writes `Pic` to `sFileName`. `hDc`, when given, is a context that shows the
  // picture at (0, 0). `UseTrans` exactly -1 writes GIF89a with the first table
  // entry equal to `TransColor` (else entry 0) marked transparent; anything else
  // writes GIF87a. Returns -1 when the file was written, 0 otherwise (see
  // LastError). A failure before encoding leaves the object busy, so that later
  // calls on it are refused.
  std::int16_t SaveGIF(const platform::Picture& Pic, const std::string& sFileName, gdi::DC* hDc,
                       const std::int16_t& UseTrans, gdi::COLORREF TransColor);

  // SaveGIF in two steps, so that the picture is free again before the
  // encoding: Capture takes the picture's indices and table (false on the
  // failures before encoding, which leave the object busy); WriteCaptured
  // encodes and writes them once, and may run on another thread when Yields
  // is off.
  bool Capture(const platform::Picture& Pic, gdi::DC* hDc, const std::int16_t& UseTrans,
               gdi::COLORREF TransColor);
  std::int16_t WriteCaptured(const std::string& sFileName);

  // Whether the encoding raises Progress and yields to the window system.
  bool Yields = true;

  Error LastError() const { return error_; }
  // The system's errno behind CannotDelete, CannotOpen or WriteFailed (ENOMEM
  // when memory ran out while encoding); 0 otherwise.
  int SystemError() const { return systemError_; }
  bool Busy() const { return busy_; }

  // The image data (sub-blocks and block terminator) for `height` rows of
  // `width` indices, rows top to bottom, each `stride` bytes apart. Raises
  // Progress and yields like a save.
  std::vector<std::uint8_t> EncodeImageData(const std::uint8_t* matrix, int width, int height,
                                            std::size_t stride);

  // "005" for 5: the pixel's three-digit key text.
  static std::string PixelKey(int value);
  // Fills `info` with the 8-bit header for the current picture size and the
  // fixed 125-colour table, and makes the section.
  std::optional<gdi::Bitmap> Create8BitDIB(const gdi::DC& dc, gdi::BITMAPINFO& info) const;

  static constexpr int kClearCode = 256;
  static constexpr int kEndCode = 257;
  static constexpr int kFirstCode = 258;
  static constexpr int kTableLimit = 253;

 public:
  struct CodeWriter;  // the bit packer of the image data

 private:
  void EmitBlocks(bool last);
  // Every tenth row: the finished blocks to the file, Progress and the yield.
  void AfterTenRows(int y, int height, sys::OutputFile* file);
  // The end code, the last blocks and the terminator.
  void EndRows(CodeWriter& codes, sys::OutputFile* file);
  void EncodeRows(const std::uint8_t* matrix, int width, int height, std::size_t stride,
                  sys::OutputFile* file);
  void FillHeader(gdi::BITMAPINFO& info) const;

  struct Captured {
    std::unique_ptr<std::uint8_t[]> matrix;  // rows top to bottom, `stride` apart
    std::size_t stride = 0;
    std::array<gdi::RGBQUAD, 256> colors{};
    std::uint8_t transIndex = 0;
    bool trans = false;
  };
  std::unique_ptr<Captured> captured_;
  std::vector<std::uint8_t> Head(const Captured& captured) const;

  bool busy_ = false;
  Error error_ = Error::None;
  int systemError_ = 0;
  int width_ = 0, height_ = 0;

  // LZW state: the string table as (prefix code, pixel) -> code, with the
  // slots used since the last reset so that a reset touches only those.
  std::vector<std::int16_t> table_;
  std::array<std::uint32_t, kTableLimit + 1> used_{};
  // Bit packing: codes go into `raw_` as plain bytes; EmitBlocks cuts them
  // into 255-byte sub-blocks on their way to `out_`.
  std::vector<std::uint8_t> raw_;
  std::size_t rawSize_ = 0;
  std::vector<std::uint8_t> out_;  // finished bytes waiting for the file
};

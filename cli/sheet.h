// Sprite sheets: a file's frames packed into one PNG (or a few pages of
// them, each within a texture limit), with an atlas in the JSON-hash form
// game engines load without a plugin: where each frame lies on its page,
// where it goes back on the canvas when its transparent borders were cut,
// and how long it is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The most pixels one page may have (1 GiB of RGBA).
inline constexpr std::int64_t kMaxSheetPixels = std::int64_t(1) << 28;

struct SheetLayoutOptions {
  int columns = 0;  // 0: the grid nearest to a square
  int padding = 0;  // transparent pixels between two cells
  int extrude = 0;  // edge pixels repeated around each frame
  int maxSide = 4096;
  bool trim = false;  // cut transparent borders; identical frames stored once
};

// What the atlas says besides the frames: the names and the file's loop.
struct SheetNames {
  std::string animation;             // the animation's name, NAME
  std::vector<std::string> pages;    // each page's PNG file name, no folder
  std::vector<std::string> atlases;  // and its atlas's
  std::optional<int> loopCount;      // none: the file has no loop extension
  std::string version;
};

class SheetBuilder {
 public:
  SheetBuilder(const SheetLayoutOptions& options, int width, int height)
      : options_(options), width_(width), height_(height) {}

  // Frame `label` of the canvas, `delay` hundredths: width x height pixels
  // of 0x00RRGGBB, `stride` pixels apart, `alpha` one byte a pixel (0:
  // transparent) or nullptr when opaque. Copies what it keeps. Throws
  // std::bad_alloc when there is no memory for it.
  void Add(std::string label, int delay, const std::uint32_t* pixels, std::size_t stride,
           const std::uint8_t* alpha);

  int Width() const { return width_; }
  int Height() const { return height_; }
  std::size_t Frames() const { return frames_.size(); }
  // Images kept: one a frame, or one for each set of identical frames when
  // trimming.
  std::size_t Stored() const { return stored_.size(); }

  // Lays the frames out in pages; what is wrong when they cannot be (a frame
  // larger than a page, more columns than a page holds).
  std::optional<std::string> Layout();
  std::size_t Pages() const { return pages_.size(); }
  std::size_t FramesOn(std::size_t p) const;
  // Page p's pixels as 0x00RRGGBB and its alpha (empty when opaque).
  void PagePixels(std::size_t p, std::vector<std::uint32_t>& pixels,
                  std::vector<std::uint8_t>& alpha, int& width, int& height) const;
  // Page p's atlas.
  nlohmann::ordered_json Atlas(std::size_t p, const SheetNames& names) const;

 private:
  struct Image {
    int x = 0, y = 0, w = 0, h = 0;   // its place on the canvas
    std::vector<std::uint32_t> argb;  // w x h, transparent pixels 0
    std::uint64_t hash = 0;
  };
  struct Frame {
    std::string label;
    int delay = 0;
    std::size_t stored = 0;
    int x = 0, y = 0;  // where its pixels go back on the canvas
    std::size_t page = 0, cell = 0;
  };
  struct Page {
    int wrap = 0;                    // cells in a row
    int columns = 0, rows = 0;       // those it has (a short last row narrows a page of one row)
    std::vector<std::size_t> cells;  // the stored image of each cell
    std::vector<std::size_t> frames;
  };
  void CellOrigin(std::size_t cell, int columns, int& x, int& y) const;
  void PageSize(const Page& page, int& width, int& height) const;

  SheetLayoutOptions options_;
  int width_, height_;
  int cellWidth_ = 0, cellHeight_ = 0;
  std::vector<Image> stored_;
  std::unordered_multimap<std::uint64_t, std::size_t> byHash_;  // stored images, when trimming
  std::vector<Frame> frames_;
  std::vector<Page> pages_;
};

// The grid's columns for `cells` cells of `slotWidth` x `slotHeight` with
// `padding` between them: the one whose sheet is nearest to a square, with
// fewer columns when two are as near, or 0 when no grid of at most
// `maxColumns` x `maxRows` holds them all.
int SquarestColumns(std::size_t cells, int slotWidth, int slotHeight, int padding, int maxColumns,
                    int maxRows);

// Writes the sheet's pages and atlases as BASE.png and BASE.json (one page)
// or BASE-1.png, BASE-1.json, ... after laying the frames out. Each file is
// written whole; when one cannot be, those written before it are removed,
// so that no atlas names a page that is not there. With `keepExisting`, a
// sheet any of whose names is taken is not written at all; no file is
// written over `protectedFile`.
struct SheetFile {
  std::string path;
  std::size_t page = 0;
  std::size_t frames = 0;  // on its page
  bool atlas = false;
};
struct SheetWritten {
  std::vector<SheetFile> files;  // in the order written (or to be written)
  bool written = false;
  bool kept = false;       // names taken, with keepExisting
  std::string failedPath;  // the file that could not be written
  std::string reason;      // why (also a layout that cannot be made)
  bool layoutRefused = false;
};
SheetWritten WriteSheet(SheetBuilder& sheet, const std::string& base, SheetNames names,
                        bool keepExisting, const std::string& protectedFile);

#include "cli/sheet.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string_view>

#include "encoder/png_writer.h"
#include "platform/system/system.h"
#include "settings/settings.h"

namespace {

// Transparent pixels are stored as 0 whatever colour lies under them, so
// that frames that look the same compare equal and the sheet's empty parts
// pack well.
inline std::uint32_t Argb(std::uint32_t pixel, std::uint8_t alpha) {
  return alpha != 0 ? 0xFF000000u | (pixel & 0xFFFFFFu) : 0u;
}

constexpr int kSheetLevel = 6;

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

}  // namespace

int SquarestColumns(std::size_t cells, int slotWidth, int slotHeight, int padding, int maxColumns,
                    int maxRows) {
  int best = 0;
  double bestScore = 0;
  const auto most = std::int64_t(std::min<std::size_t>(cells, std::size_t(maxColumns)));
  for (std::int64_t c = 1; c <= most; ++c) {
    const std::int64_t r = (std::int64_t(cells) + c - 1) / c;
    if (r > maxRows) continue;
    const double w = double(c) * slotWidth + double(c - 1) * padding;
    const double h = double(r) * slotHeight + double(r - 1) * padding;
    const double score = std::abs(std::log(w / h));
    if (best == 0 || score < bestScore - 1e-12) {
      best = int(c);
      bestScore = score;
    }
  }
  return best;
}

void SheetBuilder::Add(std::string label, int delay, const std::uint32_t* pixels,
                       std::size_t stride, const std::uint8_t* alpha) {
  const std::size_t width = std::size_t(width_);
  auto alphaAt = [&](int x, int y) -> std::uint8_t {
    return alpha != nullptr ? alpha[std::size_t(y) * width + std::size_t(x)] : 0xFF;
  };
  int left = 0, top = 0, right = width_, bottom = height_;  // right and bottom past the last
  if (options_.trim && alpha != nullptr) {
    left = width_;
    top = height_;
    right = bottom = 0;
    for (int y = 0; y < height_; ++y) {
      const std::uint8_t* row = alpha + std::size_t(y) * width;
      const std::uint8_t* end = row + width;
      const std::uint8_t* first = std::find_if(row, end, [](std::uint8_t a) { return a != 0; });
      if (first == end) continue;
      const std::uint8_t* last =
          std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first),
                       [](std::uint8_t a) { return a != 0; })
              .base();
      left = std::min(left, int(first - row));
      right = std::max(right, int(last - row));
      top = std::min(top, y);
      bottom = y + 1;
    }
    if (right <= left) {
      // Nothing shows: one transparent pixel stands for the frame, since an
      // engine cannot make a texture of none.
      left = top = 0;
      right = bottom = 1;
    }
  }
  Image image;
  image.x = left;
  image.y = top;
  image.w = right - left;
  image.h = bottom - top;
  image.argb.resize(std::size_t(image.w) * std::size_t(image.h));
  for (int y = 0; y < image.h; ++y) {
    const std::uint32_t* row = pixels + std::size_t(top + y) * stride;
    std::uint32_t* out = image.argb.data() + std::size_t(y) * std::size_t(image.w);
    for (int x = 0; x < image.w; ++x) out[x] = Argb(row[left + x], alphaAt(left + x, top + y));
  }
  Frame frame;
  frame.label = std::move(label);
  frame.delay = delay;
  frame.x = image.x;
  frame.y = image.y;
  frame.stored = stored_.size();
  if (options_.trim) {
    const std::string_view bytes(reinterpret_cast<const char*>(image.argb.data()),
                                 image.argb.size() * sizeof(std::uint32_t));
    image.hash = std::hash<std::string_view>()(bytes) ^ (std::uint64_t(image.w) << 32) ^
                 std::uint64_t(image.h);
    const auto [from, to] = byHash_.equal_range(image.hash);
    for (auto it = from; it != to; ++it) {
      const Image& other = stored_[it->second];
      if (other.w == image.w && other.h == image.h && other.argb == image.argb) {
        frame.stored = it->second;
        break;
      }
    }
    if (frame.stored == stored_.size()) byHash_.emplace(image.hash, stored_.size());
  }
  if (frame.stored == stored_.size()) stored_.push_back(std::move(image));
  frames_.push_back(std::move(frame));
}

std::optional<std::string> SheetBuilder::Layout() {
  pages_.clear();
  if (frames_.empty()) return "no frame to lay out";
  cellWidth_ = cellHeight_ = 0;
  for (const auto& s : stored_) {
    cellWidth_ = std::max(cellWidth_, s.w);
    cellHeight_ = std::max(cellHeight_, s.h);
  }
  const int e = options_.extrude, pad = options_.padding, most = options_.maxSide;
  const std::int64_t slotW = std::int64_t(cellWidth_) + 2 * e,
                     slotH = std::int64_t(cellHeight_) + 2 * e;
  if (slotW > most || slotH > most) {
    return "a frame of " + Size(cellWidth_, cellHeight_) + " pixels" +
           (e > 0 ? " and its extrusion" : "") + " does not fit in a sheet of at most " +
           std::to_string(most) + " pixels a side (--sheet-max)";
  }
  const int maxColumns = int((most + pad) / (slotW + pad));
  const int maxRows = int((most + pad) / (slotH + pad));
  int columns = options_.columns;
  if (columns > maxColumns) {
    return "--sheet-columns " + std::to_string(columns) + ": a row of " + std::to_string(columns) +
           " frames of " + Size(int(slotW), int(slotH)) + " is wider than " + std::to_string(most) +
           " pixels (--sheet-max); " + std::to_string(maxColumns) + " fit";
  }
  if (columns == 0) {
    columns = SquarestColumns(stored_.size(), int(slotW), int(slotH), pad, maxColumns, maxRows);
    if (columns == 0) columns = maxColumns;  // several pages, each as full as it can be
  }
  const std::size_t perPage = std::size_t(columns) * std::size_t(maxRows);
  // Frames go onto the pages in their order; a frame that shows an image its
  // page already holds is pointed at it, so each page's atlas stands alone.
  std::vector<std::size_t> cellOf(stored_.size());
  std::vector<std::size_t> pageOf(stored_.size(), SIZE_MAX);
  for (std::size_t f = 0; f < frames_.size(); ++f) {
    const std::size_t s = frames_[f].stored;
    if (pages_.empty() ||
        (pageOf[s] != pages_.size() - 1 && pages_.back().cells.size() == perPage)) {
      pages_.emplace_back();
      pages_.back().wrap = columns;
    }
    Page& page = pages_.back();
    if (pageOf[s] != pages_.size() - 1) {
      pageOf[s] = pages_.size() - 1;
      cellOf[s] = page.cells.size();
      page.cells.push_back(s);
    }
    frames_[f].page = pages_.size() - 1;
    frames_[f].cell = cellOf[s];
    page.frames.push_back(f);
  }
  for (auto& page : pages_) {
    page.columns = int(std::min<std::size_t>(std::size_t(columns), page.cells.size()));
    page.rows = int((page.cells.size() + std::size_t(columns) - 1) / std::size_t(columns));
    // Wide padding or extrusion could ask for pages far larger than their
    // frames: a page is held whole while it is encoded.
    int width = 0, height = 0;
    PageSize(page, width, height);
    if (std::int64_t(width) * height > kMaxSheetPixels) {
      const std::string size = Size(width, height);
      pages_.clear();
      return "a page of " + size + " pixels is more than a sheet may hold (" +
             std::to_string(kMaxSheetPixels) + " pixels); a smaller --sheet-max makes more pages";
    }
  }
  return std::nullopt;
}

void SheetBuilder::CellOrigin(std::size_t cell, int columns, int& x, int& y) const {
  const int e = options_.extrude, pad = options_.padding;
  x = int(cell % std::size_t(columns)) * (cellWidth_ + 2 * e + pad) + e;
  y = int(cell / std::size_t(columns)) * (cellHeight_ + 2 * e + pad) + e;
}

void SheetBuilder::PageSize(const Page& page, int& width, int& height) const {
  const int e = options_.extrude, pad = options_.padding;
  width = page.columns * (cellWidth_ + 2 * e) + (page.columns - 1) * pad;
  height = page.rows * (cellHeight_ + 2 * e) + (page.rows - 1) * pad;
}

void SheetBuilder::PagePixels(std::size_t p, std::vector<std::uint32_t>& pixels,
                              std::vector<std::uint8_t>& alpha, int& width, int& height) const {
  const Page& page = pages_[p];
  const int e = options_.extrude;
  PageSize(page, width, height);
  const std::size_t w = std::size_t(width);
  pixels.assign(w * std::size_t(height), 0);
  alpha.assign(w * std::size_t(height), 0);
  for (std::size_t cell = 0; cell < page.cells.size(); ++cell) {
    const Image& s = stored_[page.cells[cell]];
    int ox = 0, oy = 0;
    CellOrigin(cell, page.wrap, ox, oy);
    for (int y = -e; y < s.h + e; ++y) {
      const int sy = std::clamp(y, 0, s.h - 1);
      const std::uint32_t* src = s.argb.data() + std::size_t(sy) * std::size_t(s.w);
      const std::size_t at = std::size_t(oy + y) * w;
      for (int x = -e; x < s.w + e; ++x) {
        const std::uint32_t v = src[std::clamp(x, 0, s.w - 1)];
        pixels[at + std::size_t(ox + x)] = v & 0xFFFFFFu;
        alpha[at + std::size_t(ox + x)] = std::uint8_t(v >> 24);
      }
    }
  }
  if (std::all_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a != 0; })) {
    alpha.clear();
  }
}

nlohmann::ordered_json SheetBuilder::Atlas(std::size_t p, const SheetNames& names) const {
  using Json = nlohmann::ordered_json;
  const Page& page = pages_[p];
  Json frames = Json::object();
  Json order = Json::array();
  for (const std::size_t f : page.frames) {
    const Frame& frame = frames_[f];
    const Image& s = stored_[frame.stored];
    int x = 0, y = 0;
    CellOrigin(frame.cell, page.wrap, x, y);
    const bool trimmed = s.w != width_ || s.h != height_;
    Json entry;
    entry["frame"] = {{"x", x}, {"y", y}, {"w", s.w}, {"h", s.h}};
    entry["rotated"] = false;
    entry["trimmed"] = trimmed;
    entry["spriteSourceSize"] = {{"x", frame.x}, {"y", frame.y}, {"w", s.w}, {"h", s.h}};
    entry["sourceSize"] = {{"w", width_}, {"h", height_}};
    entry["duration"] = frame.delay * 10;
    frames[frame.label] = std::move(entry);
    order.push_back(frame.label);
  }
  int width = 0, height = 0;
  PageSize(page, width, height);
  Json atlas;
  atlas["frames"] = std::move(frames);
  atlas["animations"] = {{names.animation, std::move(order)}};
  Json meta;
  meta["app"] = "velkor-split";
  meta["version"] = names.version;
  meta["image"] = names.pages[p];
  meta["format"] = "RGBA8888";
  meta["size"] = {{"w", width}, {"h", height}};
  meta["scale"] = "1";
  meta["loop_count"] = names.loopCount ? Json(*names.loopCount) : Json(nullptr);
  if (pages_.size() > 1) {
    Json others = Json::array();
    for (std::size_t q = 0; q < pages_.size(); ++q) {
      if (q != p) others.push_back(names.atlases[q]);
    }
    meta["related_multi_packs"] = std::move(others);
  }
  atlas["meta"] = std::move(meta);
  return atlas;
}

std::size_t SheetBuilder::FramesOn(std::size_t p) const { return pages_[p].frames.size(); }

SheetWritten WriteSheet(SheetBuilder& sheet, const std::string& base, SheetNames names,
                        bool keepExisting, const std::string& protectedFile) {
  SheetWritten result;
  if (auto wrong = sheet.Layout()) {
    result.reason = *wrong;
    result.layoutRefused = true;
    return result;
  }
  const std::size_t pages = sheet.Pages();
  const std::string slash = base.substr(0, base.find_last_of(kPathSeparators) + 1);
  const std::string own = base.substr(slash.size());
  names.pages.clear();
  names.atlases.clear();
  for (std::size_t p = 0; p < pages; ++p) {
    const std::string stem = pages == 1 ? own : own + "-" + std::to_string(p + 1);
    names.pages.push_back(stem + ".png");
    names.atlases.push_back(stem + ".json");
    result.files.push_back({slash + names.pages.back(), p, sheet.FramesOn(p), false});
    result.files.push_back({slash + names.atlases.back(), p, sheet.FramesOn(p), true});
  }
  for (const auto& file : result.files) {
    if (!protectedFile.empty() && sys::SameFile(file.path, protectedFile)) {
      result.failedPath = file.path;
      result.reason = "it would replace the file being split";
      return result;
    }
  }
  if (keepExisting) {
    for (const auto& file : result.files) {
      if (sys::NameTaken(file.path)) {
        result.kept = true;
        result.failedPath = file.path;
        result.reason = "exists";
        return result;
      }
    }
  }
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint8_t> alpha, bytes;
  png::Encoder encoder;
  // A sheet is made once and loaded many times: deflated harder than frames
  // (on A, level 6 gives 40 % of level 1's bytes in 1.5 times the time).
  encoder.Level(kSheetLevel);
  std::size_t done = 0;
  auto fail = [&](const std::string& path, std::string reason) {
    // What this sheet wrote goes again: its atlases would name pages that
    // are missing or from another run.
    for (std::size_t i = 0; i < done; ++i) sys::DeleteFile(result.files[i].path);
    result.failedPath = path;
    result.reason = std::move(reason);
    return result;
  };
  for (std::size_t p = 0; p < pages; ++p) {
    int width = 0, height = 0;
    try {
      sheet.PagePixels(p, pixels, alpha, width, height);
    } catch (const std::bad_alloc&) {
      return fail(result.files[2 * p].path, sys::ErrorText(ENOMEM));
    }
    const png::Image image{pixels.data(), std::size_t(width), width, height,
                           alpha.empty() ? nullptr : alpha.data()};
    if (!encoder.Prepare(image) || !encoder.Finish(bytes)) {
      return fail(result.files[2 * p].path, sys::ErrorText(ENOMEM));
    }
    int error = 0;
    if (!sys::WriteBinaryFile(result.files[2 * p].path, bytes, &error)) {
      return fail(result.files[2 * p].path, sys::ErrorText(error));
    }
    ++done;
    const std::string text = sheet.Atlas(p, names).dump(1) + "\n";
    if (!sys::WriteBinaryFile(result.files[2 * p + 1].path,
                              reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                              &error)) {
      return fail(result.files[2 * p + 1].path, sys::ErrorText(error));
    }
    ++done;
  }
  result.written = true;
  return result;
}

// Sprite sheets in units: the grid, trimming and the sharing of identical
// frames, extrusion and padding, pages within the size limit, and the atlas.
// (tests/sheets/engines.py loads whole sheets in PixiJS and Phaser.)
#include <gtest/gtest.h>

#include <vector>

#include "cli/sheet.h"

namespace {

// A canvas of w x h: every pixel 0x00RRGGBB `colour` inside the rectangle
// (x, y, rw, rh) and transparent outside it.
struct Canvas {
  int w, h;
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint8_t> alpha;
  Canvas(int w_, int h_)
      : w(w_), h(h_), pixels(std::size_t(w_ * h_), 0x123456), alpha(pixels.size()) {}
  Canvas& Fill(int x, int y, int rw, int rh, std::uint32_t colour) {
    for (int j = y; j < y + rh; ++j) {
      for (int i = x; i < x + rw; ++i) {
        pixels[std::size_t(j * w + i)] = colour;
        alpha[std::size_t(j * w + i)] = 0xFF;
      }
    }
    return *this;
  }
};

void Add(SheetBuilder& sheet, const std::string& label, const Canvas& c, int delay = 5) {
  sheet.Add(label, delay, c.pixels.data(), std::size_t(c.w), c.alpha.data());
}

SheetNames Names(std::size_t pages) {
  SheetNames names;
  names.animation = "anim";
  for (std::size_t p = 0; p < pages; ++p) {
    names.pages.push_back("anim-" + std::to_string(p + 1) + ".png");
    names.atlases.push_back("anim-" + std::to_string(p + 1) + ".json");
  }
  names.loopCount = 0;
  names.version = "test";
  return names;
}

struct Page {
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint8_t> alpha;
  int w = 0, h = 0;
  std::uint32_t At(int x, int y) const { return pixels[std::size_t(y * w + x)]; }
  bool Shows(int x, int y) const { return alpha.empty() || alpha[std::size_t(y * w + x)] != 0; }
};

Page PageOf(const SheetBuilder& sheet, std::size_t p) {
  Page page;
  sheet.PagePixels(p, page.pixels, page.alpha, page.w, page.h);
  return page;
}

}  // namespace

TEST(Sheet, TrimmedFramesKeepWhereTheyGoBackAndIdenticalOnesAreStoredOnce) {
  SheetLayoutOptions options;
  options.trim = true;
  SheetBuilder sheet(options, 10, 8);
  // The same 3 x 2 sprite at two places, a wider one, and nothing at all.
  Add(sheet, "anim_001", Canvas(10, 8).Fill(2, 1, 3, 2, 0xFF0000), 7);
  Add(sheet, "anim_002", Canvas(10, 8).Fill(6, 5, 3, 2, 0xFF0000));
  Add(sheet, "anim_003", Canvas(10, 8).Fill(0, 0, 4, 1, 0x00FF00));
  Add(sheet, "anim_004", Canvas(10, 8));
  EXPECT_EQ(sheet.Frames(), 4u);
  EXPECT_EQ(sheet.Stored(), 3u);
  ASSERT_FALSE(sheet.Layout());
  ASSERT_EQ(sheet.Pages(), 1u);
  const auto atlas = sheet.Atlas(0, Names(1));
  const auto& f = atlas["frames"];
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f["anim_001"]["frame"], f["anim_002"]["frame"]);  // one image for both
  EXPECT_EQ(f["anim_001"]["spriteSourceSize"],
            nlohmann::ordered_json({{"x", 2}, {"y", 1}, {"w", 3}, {"h", 2}}));
  EXPECT_EQ(f["anim_002"]["spriteSourceSize"],
            nlohmann::ordered_json({{"x", 6}, {"y", 5}, {"w", 3}, {"h", 2}}));
  EXPECT_EQ(f["anim_004"]["frame"]["w"], 1);  // an empty frame is one transparent pixel
  EXPECT_EQ(f["anim_001"]["sourceSize"], nlohmann::ordered_json({{"w", 10}, {"h", 8}}));
  EXPECT_EQ(f["anim_001"]["trimmed"], true);
  EXPECT_EQ(f["anim_001"]["duration"], 70);
  EXPECT_EQ(atlas["animations"]["anim"],
            nlohmann::ordered_json({"anim_001", "anim_002", "anim_003", "anim_004"}));
  // Each frame's rectangle holds its pixels; the colour under transparency
  // is not kept.
  const Page page = PageOf(sheet, 0);
  for (const auto& [label, entry] : f.items()) {
    const auto& r = entry["frame"];
    for (int y = r["y"]; y < int(r["y"]) + int(r["h"]); ++y) {
      for (int x = r["x"]; x < int(r["x"]) + int(r["w"]); ++x) {
        if (label == "anim_004") {
          EXPECT_FALSE(page.Shows(x, y));
        } else {
          EXPECT_TRUE(page.Shows(x, y)) << label;
          EXPECT_EQ(page.At(x, y), label == "anim_003" ? 0x00FF00u : 0xFF0000u) << label;
        }
      }
    }
  }
}

TEST(Sheet, ExtrusionRepeatsTheEdgesAndPaddingStaysTransparent) {
  SheetLayoutOptions options;
  options.columns = 2;
  options.padding = 3;
  options.extrude = 2;
  SheetBuilder sheet(options, 2, 2);
  Canvas a(2, 2);
  a.Fill(0, 0, 1, 1, 0x000001).Fill(1, 0, 1, 1, 0x000002).Fill(0, 1, 1, 1, 0x000003);
  a.Fill(1, 1, 1, 1, 0x000004);
  Add(sheet, "f1", a);
  Add(sheet, "f2", Canvas(2, 2).Fill(0, 0, 2, 2, 0x0000FF));
  ASSERT_FALSE(sheet.Layout());
  const Page page = PageOf(sheet, 0);
  ASSERT_EQ(page.w, 2 * (2 + 4) + 3);
  ASSERT_EQ(page.h, 2 + 4);
  const auto atlas = sheet.Atlas(0, Names(1));
  EXPECT_EQ(atlas["frames"]["f1"]["frame"],
            nlohmann::ordered_json({{"x", 2}, {"y", 2}, {"w", 2}, {"h", 2}}));
  EXPECT_EQ(atlas["frames"]["f2"]["frame"]["x"], 6 + 3 + 2);
  EXPECT_EQ(atlas["frames"]["f1"]["trimmed"], false);
  // The corners repeat the corner pixels, the sides the side pixels.
  EXPECT_EQ(page.At(0, 0), 0x000001u);
  EXPECT_EQ(page.At(5, 0), 0x000002u);
  EXPECT_EQ(page.At(0, 5), 0x000003u);
  EXPECT_EQ(page.At(5, 5), 0x000004u);
  EXPECT_EQ(page.At(2, 0), 0x000001u);
  EXPECT_EQ(page.At(3, 5), 0x000004u);
  for (int x = 6; x < 9; ++x) {
    for (int y = 0; y < page.h; ++y) EXPECT_FALSE(page.Shows(x, y)) << x << "," << y;
  }
  EXPECT_EQ(page.At(9, 0), 0x0000FFu);
}

TEST(Sheet, FramesPastTheLimitGoOntoPagesThatEachStandAlone) {
  SheetLayoutOptions options;
  options.maxSide = 25;  // two frames of 10 a side, with padding 1
  options.padding = 1;
  options.trim = true;
  SheetBuilder sheet(options, 10, 10);
  const Canvas red = Canvas(10, 10).Fill(0, 0, 10, 10, 0xFF0000);
  for (int n = 1; n <= 4; ++n) {
    Add(sheet, "a_" + std::to_string(n), Canvas(10, 10).Fill(0, 0, 10, 10, std::uint32_t(n)));
  }
  Add(sheet, "a_5", red);
  Add(sheet, "a_6", red);  // the same as the frame before: on its page
  ASSERT_FALSE(sheet.Layout());
  ASSERT_EQ(sheet.Pages(), 2u);
  EXPECT_EQ(sheet.FramesOn(0), 4u);
  EXPECT_EQ(sheet.FramesOn(1), 2u);
  const auto first = sheet.Atlas(0, Names(2)), second = sheet.Atlas(1, Names(2));
  EXPECT_EQ(first["meta"]["size"], nlohmann::ordered_json({{"w", 21}, {"h", 21}}));
  EXPECT_EQ(second["meta"]["size"], nlohmann::ordered_json({{"w", 10}, {"h", 10}}));
  EXPECT_EQ(first["meta"]["related_multi_packs"], nlohmann::ordered_json({"anim-2.json"}));
  EXPECT_EQ(second["meta"]["related_multi_packs"], nlohmann::ordered_json({"anim-1.json"}));
  EXPECT_EQ(second["meta"]["image"], "anim-2.png");
  EXPECT_EQ(second["animations"]["anim"], nlohmann::ordered_json({"a_5", "a_6"}));
  EXPECT_EQ(second["frames"]["a_5"]["frame"], second["frames"]["a_6"]["frame"]);

  // What cannot be laid out is said, and nothing is.
  SheetLayoutOptions narrow = options;
  narrow.columns = 3;
  SheetBuilder wide(narrow, 10, 10);
  Add(wide, "w", red);
  ASSERT_TRUE(wide.Layout());
  EXPECT_NE(wide.Layout()->find("--sheet-columns 3"), std::string::npos);
  SheetLayoutOptions small;
  small.maxSide = 9;
  SheetBuilder big(small, 10, 10);
  Add(big, "b", red);
  ASSERT_TRUE(big.Layout());
  EXPECT_NE(big.Layout()->find("10x10"), std::string::npos);
  // Extrusion may not make a page of a tiny frame larger than a sheet holds.
  SheetLayoutOptions thick;
  thick.maxSide = 65535;
  thick.extrude = 30000;
  SheetBuilder padded(thick, 1, 1);
  Add(padded, "p", Canvas(1, 1).Fill(0, 0, 1, 1, 1));
  ASSERT_TRUE(padded.Layout());
  EXPECT_NE(padded.Layout()->find("a page of 60001x60001 pixels"), std::string::npos);
  EXPECT_EQ(padded.Pages(), 0u);
}

TEST(Sheet, TheDefaultGridIsTheOneNearestToASquare) {
  EXPECT_EQ(SquarestColumns(16, 10, 10, 0, 100, 100), 4);
  EXPECT_EQ(SquarestColumns(10, 10, 10, 0, 100, 100), 3);  // 30 x 40 before 40 x 30
  EXPECT_EQ(SquarestColumns(4, 40, 10, 0, 100, 100), 1);   // wide frames stack
  EXPECT_EQ(SquarestColumns(1, 10, 10, 0, 1, 1), 1);
  EXPECT_EQ(SquarestColumns(5, 10, 10, 0, 2, 2), 0);    // more than a page holds
  EXPECT_EQ(SquarestColumns(6, 10, 10, 0, 2, 100), 2);  // as square as the limit allows
}

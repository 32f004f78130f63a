#include "tools/gifgen/gifgen.h"

#include <gif_lib.h>

#include <cstdio>
#include <memory>

namespace gifgen {

namespace {

int Append(GifFileType* gif, const GifByteType* data, int len) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + len);
  return len;
}

ColorMapObject* MakeMap(const std::vector<Rgb>& table) {
  if (table.empty()) return nullptr;
  std::vector<GifColorType> colours(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) colours[i] = {table[i].r, table[i].g, table[i].b};
  return GifMakeMapObject(int(table.size()), colours.data());
}

}  // namespace

std::vector<std::uint8_t> Encode(const Animation& anim) {
  std::vector<std::uint8_t> out;
  int err = 0;
  GifFileType* gif = EGifOpen(&out, Append, &err);
  if (gif == nullptr) return {};
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = MakeMap(anim.globalTable);
  EGifPutScreenDesc(gif, anim.width, anim.height, 8, 0, global);
  GifFreeMapObject(global);
  if (anim.loop) {
    const GifByteType app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    const GifByteType sub[] = {1, 0, 0};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, sizeof app, app);
    EGifPutExtensionBlock(gif, sizeof sub, sub);
    EGifPutExtensionTrailer(gif);
  }
  for (const Frame& f : anim.frames) {
    if (f.control) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = f.disposal;
      gcb.DelayTime = f.delay;
      gcb.TransparentColor = f.transparentIndex;
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    ColorMapObject* local = MakeMap(f.localTable);
    if (local == nullptr && gif->Image.ColorMap != nullptr) {
      // giflib drops the previous image's local map here without freeing it.
      GifFreeMapObject(gif->Image.ColorMap);
      gif->Image.ColorMap = nullptr;
    }
    EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local);
    GifFreeMapObject(local);
    if (f.interlace) {
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < f.height; y += kStep[pass]) {
          EGifPutLine(gif, const_cast<GifPixelType*>(f.indices.data()) + y * f.width, f.width);
        }
      }
    } else {
      for (int y = 0; y < f.height; ++y) {
        EGifPutLine(gif, const_cast<GifPixelType*>(f.indices.data()) + y * f.width, f.width);
      }
    }
  }
  EGifCloseFile(gif, &err);
  return out;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<Rgb> RainbowTable() {
  std::vector<Rgb> t(256);
  for (int i = 0; i < 256; ++i) {
    t[std::size_t(i)] = {std::uint8_t((i * 37) & 0xFF), std::uint8_t((i * 91 + 17) & 0xFF),
                         std::uint8_t((i * 53 + 101) & 0xFF)};
  }
  return t;
}

Animation Moving(int w, int h, int frames, bool localTables) {
  Animation a;
  a.width = w;
  a.height = h;
  if (!localTables) a.globalTable = RainbowTable();
  for (int k = 0; k < frames; ++k) {
    Frame f;
    f.width = w;
    f.height = h;
    f.delay = 4;
    f.indices.resize(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        // Smooth bands with a moving disc: compresses like a real animation.
        const int dx = x - (k * 7) % w, dy = y - h / 2;
        const bool disc = dx * dx + dy * dy < (h / 6) * (h / 6);
        f.indices[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
            std::uint8_t(disc ? 255 : ((x / 16 + y / 16 + k) % 200));
      }
    }
    if (localTables) {
      f.localTable = RainbowTable();
      std::swap(f.localTable[std::size_t(k % 200)], f.localTable[255]);
    }
    a.frames.push_back(std::move(f));
  }
  return a;
}

}  // namespace gifgen

#include "platform/system/large_blocks.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>
#include <vector>

#include "platform/system/native.h"

namespace sys {

namespace {

// Blocks are whole system pages, packed one after the other into regions of
// kRegion (a frame picture of 1000 x 1000 takes 245 pages, not a 2 MiB huge
// page of its own); a block larger than a region gets a region of its own.
constexpr std::size_t kPage = std::size_t(4) << 10;
constexpr std::size_t kRegion = std::size_t(64) << 20;

std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// A gap of free pages: its offset in the region and its length.
struct Gap {
  std::size_t at, length;
};

struct Region {
  std::uint8_t* base;
  std::size_t size;
  std::size_t used;
  std::size_t blocks;     // blocks handed out from it
  std::vector<Gap> free;  // by offset, never adjacent
};

struct Regions {
  std::mutex mutex;
  std::vector<Region> list;
  std::size_t mapped = 0;
};

// Never destroyed: static buffers may give their blocks back at exit.
Regions& All() {
  static Regions* regions = new Regions;
  return *regions;
}

// Takes `need` bytes from the front of gap `g`. A region's gaps are never
// more than its blocks and one, and room for that many is made before a
// block is taken: giving a block back (FreeLarge, which must not fail) then
// never needs memory of its own.
void* Take(Region& r, std::size_t g, std::size_t need) {
  Gap& gap = r.free[g];
  const std::size_t at = gap.at;
  gap.at += need;
  gap.length -= need;
  if (gap.length == 0) r.free.erase(r.free.begin() + std::ptrdiff_t(g));
  r.used += need;
  ++r.blocks;
  return r.base + at;
}

}  // namespace

void* AllocateLarge(std::size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX - kRegion) throw std::bad_alloc();
  const std::size_t need = RoundUp(bytes, kPage);
  Regions& all = All();
  std::lock_guard lock(all.mutex);
  // The first gap that holds the block, lowest address first: blocks given
  // back are used again before untouched memory is.
  for (auto& r : all.list) {
    for (std::size_t g = 0; g < r.free.size(); ++g) {
      if (r.free[g].length >= need) {
        r.free.reserve(r.blocks + 2);  // may throw: nothing has changed yet
        return Take(r, g, need);
      }
    }
  }
  // Everything that may throw comes before the mapping, so that a failure
  // never leaves a mapping no region holds.
  const std::size_t size = need > kRegion ? RoundUp(need, native::kLargePage) : kRegion;
  Region fresh{nullptr, size, 0, 0, {}};
  fresh.free.reserve(2);
  all.list.reserve(all.list.size() + 1);
  fresh.base = static_cast<std::uint8_t*>(native::MapLarge(size));
  if (fresh.base == nullptr) throw std::bad_alloc();
  fresh.free.push_back({0, size});
  all.mapped += size;
  all.list.push_back(std::move(fresh));
  return Take(all.list.back(), 0, need);
}

void FreeLarge(void* at, std::size_t bytes) noexcept {
  if (at == nullptr) return;
  const std::size_t need = RoundUp(bytes, kPage);
  auto* p = static_cast<std::uint8_t*>(at);
  Regions& all = All();
  std::lock_guard lock(all.mutex);
  for (auto r = all.list.begin(); r != all.list.end(); ++r) {
    if (p < r->base || p >= r->base + r->size) continue;
    r->used -= need;
    --r->blocks;
    if (r->used == 0) {  // nothing left in it: the whole region goes back
      native::UnmapLarge(r->base, r->size);
      all.mapped -= r->size;
      all.list.erase(r);
      return;
    }
    const std::size_t from = std::size_t(p - r->base), to = from + need;
    auto& gaps = r->free;
    auto next = std::lower_bound(gaps.begin(), gaps.end(), from,
                                 [](const Gap& g, std::size_t a) { return g.at < a; });
    const bool joinsNext = next != gaps.end() && next->at == to;
    const bool joinsPrev =
        next != gaps.begin() && std::prev(next)->at + std::prev(next)->length == from;
    Gap merged{from, need};
    if (joinsPrev && joinsNext) {
      auto prev = std::prev(next);
      prev->length += need + next->length;
      merged = *prev;
      gaps.erase(next);
    } else if (joinsPrev) {
      auto prev = std::prev(next);
      prev->length += need;
      merged = *prev;
    } else if (joinsNext) {
      next->at = from;
      next->length += need;
      merged = *next;
    } else {
      gaps.insert(next, merged);  // within the room Take made: no allocation
    }
    // The whole large pages inside the gap go back to the system: a region
    // kept alive by one small block does not hold the rest in memory.
    const std::size_t first = RoundUp(merged.at, native::kLargePage);
    const std::size_t last = (merged.at + merged.length) / native::kLargePage * native::kLargePage;
    if (last > first) native::DiscardPages(r->base + first, last - first);
    return;
  }
}

std::size_t LargeBytesMapped() {
  Regions& all = All();
  std::lock_guard lock(all.mutex);
  return all.mapped;
}

}  // namespace sys

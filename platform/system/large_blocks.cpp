#include "platform/system/large_blocks.h"

#include <cstdint>
#include <iterator>
#include <map>
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

struct Region {
  std::uint8_t* base;
  std::size_t size;
  std::size_t used;
  std::map<std::size_t, std::size_t> free;  // offset -> length, never adjacent
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

void* Take(Region& r, std::map<std::size_t, std::size_t>::iterator gap, std::size_t need) {
  const std::size_t at = gap->first, left = gap->second - need;
  r.free.erase(gap);
  if (left > 0) r.free.emplace(at + need, left);
  r.used += need;
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
    for (auto gap = r.free.begin(); gap != r.free.end(); ++gap) {
      if (gap->second >= need) return Take(r, gap, need);
    }
  }
  const std::size_t size = need > kRegion ? RoundUp(need, native::kLargePage) : kRegion;
  auto* base = static_cast<std::uint8_t*>(native::MapLarge(size));
  if (base == nullptr) throw std::bad_alloc();
  all.mapped += size;
  all.list.push_back(Region{base, size, 0, {{0, size}}});
  Region& r = all.list.back();
  return Take(r, r.free.begin(), need);
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
    if (r->used == 0) {  // nothing left in it: the whole region goes back
      native::UnmapLarge(r->base, r->size);
      all.mapped -= r->size;
      all.list.erase(r);
      return;
    }
    std::size_t from = std::size_t(p - r->base), to = from + need;
    auto next = r->free.lower_bound(from);
    if (next != r->free.end() && next->first == to) {
      to += next->second;
      next = r->free.erase(next);
    }
    if (next != r->free.begin()) {
      auto prev = std::prev(next);
      if (prev->first + prev->second == from) {
        from = prev->first;
        r->free.erase(prev);
      }
    }
    r->free.emplace(from, to - from);
    // The whole large pages inside the gap go back to the system: a region
    // kept alive by one small block does not hold the rest in memory.
    const std::size_t first = RoundUp(from, native::kLargePage);
    const std::size_t last = to / native::kLargePage * native::kLargePage;
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

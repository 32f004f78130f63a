// Memory for large pixel buffers, carved out of big mappings that the system
// may back with huge pages. Frame pictures of a split are hundreds of
// megabytes of fresh memory; from the ordinary heap every 4 KiB of it costs a
// page fault, here every 2 MiB.
#pragma once

#include <cstddef>

namespace sys {

// Buffers from this size on come from here (smaller ones are cheaper from the
// ordinary heap, and would waste most of a page).
inline constexpr std::size_t kLargeBlockMin = std::size_t(256) << 10;

// `bytes` of uninitialised memory, aligned for any scalar; throws
// std::bad_alloc when the system has none. Thread-safe.
void* AllocateLarge(std::size_t bytes);
// Gives back a block from AllocateLarge with the size it was asked for.
void FreeLarge(void* at, std::size_t bytes) noexcept;

// Bytes mapped from the system for blocks at present (tests).
std::size_t LargeBytesMapped();

}  // namespace sys

#include "cli/pixel_budget.h"

#include <chrono>

#include "platform/system/system.h"

std::shared_ptr<void> PixelBudget::Take(std::int64_t bytes) {
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  auto mayGo = [&] { return ticket == serving_ && (used_ == 0 || used_ + bytes <= limit_); };
  while (!mayGo()) {
    // Signals cannot wake a condition variable: the stop is looked at often.
    changed_.wait_for(lock, std::chrono::milliseconds(50));
    // Every run stops on it, those waiting behind this one too: the queue
    // needs no further care.
    if (sys::StopRequested() && !mayGo()) return nullptr;
  }
  ++serving_;
  used_ += bytes;
  changed_.notify_all();
  return std::shared_ptr<void>(nullptr, [this, bytes](void*) {
    std::lock_guard lock(mutex_);
    used_ -= bytes;
    changed_.notify_all();
  });
}

std::int64_t PixelBudget::Used() {
  std::lock_guard lock(mutex_);
  return used_;
}

// The memory that runs side by side keep together: at most one run's budget.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class PixelBudget {
 public:
  explicit PixelBudget(std::int64_t limit) : limit_(limit) {}
  // Waits for `bytes` of the budget and holds them until the returned
  // object goes. Takers are served in the order they came: a large run that
  // waits is never passed by smaller ones that came after it. A taker at
  // the front while nothing is held always gets its share, however large.
  // A stop request (sys::StopRequested) ends the wait at once, with nothing
  // held: the run then stops before it decodes anything.
  std::shared_ptr<void> Take(std::int64_t bytes);
  // What is held now (tests).
  std::int64_t Used();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t limit_, used_ = 0;
  std::uint64_t nextTicket_ = 0, serving_ = 0;
};

#include "cli/ordered_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/system/system.h"

namespace {

// What the workers and the calling thread share.
class Board {
 public:
  explicit Board(const OrderedRun& r) : run_(r), finished_(r.count, 0), started_(r.count, 0) {}

  // Takes and runs tasks until none is left, a stop is requested, or the
  // board is closed.
  void Work() {
    while (const auto i = Take()) Run(*i);
  }
  // The calling thread's own turn at task i, when no worker runs the tasks.
  void RunHere(std::size_t i) {
    std::unique_lock lock(mutex_);
    if (next_ != i || sys::StopRequested()) return;
    ++next_;
    started_[i] = 1;
    lock.unlock();
    Run(i);
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  // Waits until task i is done (true) or never to start (false), ticking.
  bool Wait(std::size_t i) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (finished_[i]) return true;
      // Tasks are taken under the lock, after a look at the stop request:
      // once it is seen here, a task not yet taken never will be.
      if (!started_[i] && sys::StopRequested()) return false;
      done_.wait_for(lock, std::chrono::milliseconds(250));
      if (run_.tick && !finished_[i]) {
        lock.unlock();
        run_.tick(i);
        lock.lock();
      }
    }
  }

 private:
  std::optional<std::size_t> Take() {
    std::lock_guard lock(mutex_);
    if (closed_ || sys::StopRequested() || next_ >= run_.count) return std::nullopt;
    started_[next_] = 1;
    return next_++;
  }
  void Run(std::size_t i) {
    const unsigned alongside = unsigned(std::min<std::size_t>(run_.jobs, run_.count - i));
    try {
      run_.task(i, alongside);
    } catch (const std::exception& e) {
      if (run_.failed) run_.failed(i, e.what());
    } catch (...) {
      if (run_.failed) run_.failed(i, "unknown failure");
    }
    std::lock_guard lock(mutex_);
    finished_[i] = 1;
    done_.notify_all();
  }

  const OrderedRun& run_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<char> finished_, started_;
  std::size_t next_ = 0;
  bool closed_ = false;
};

// Joins the workers on every way out of RunInOrder.
class Workers {
 public:
  explicit Workers(Board& board, const OrderedRun& run) : board_(board), run_(run) {}
  ~Workers() {
    board_.Close();
    for (auto& t : threads_) t.join();
  }
  void Start(unsigned n) {
    for (unsigned t = 0; t < n; ++t) {
      // A thread the system refuses (or no memory to start one) leaves the
      // work to those that started, or to the calling thread.
      try {
        if (run_.beforeStart) run_.beforeStart();
        threads_.emplace_back([this] {
          const sys::HeadlessThread headless;
          board_.Work();
        });
      } catch (...) {
        break;
      }
    }
  }
  bool None() const { return threads_.empty(); }

 private:
  Board& board_;
  const OrderedRun& run_;
  std::vector<std::thread> threads_;
};

}  // namespace

void RunInOrder(const OrderedRun& run) {
  Board board(run);
  Workers workers(board, run);
  workers.Start(unsigned(std::min<std::size_t>(std::max(1u, run.jobs), run.count)));
  for (std::size_t i = 0; i < run.count; ++i) {
    if (workers.None()) board.RunHere(i);
    const bool started = board.Wait(i);
    run.deliver(i, started);
  }
}

#include "engine/frame_threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>

#include "encoder/gif_encoder.h"
#include "platform/system/system.h"

std::size_t DecodeFrames(std::size_t count, unsigned threads,
                         const std::function<bool(std::size_t)>& job) {
  threads = unsigned(std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(count, 1)));
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> firstFailed{count};
  auto work = [&] {
    while (firstFailed.load(std::memory_order_relaxed) == count) {
      const std::size_t i = next.fetch_add(1);
      if (i >= count) break;
      if (!job(i)) {
        // Jobs are handed out in order: every lower one has started and
        // finishes, so the lowest failure is the same whatever the timing.
        std::size_t seen = firstFailed.load();
        while (i < seen && !firstFailed.compare_exchange_weak(seen, i)) {
        }
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  return firstFailed;
}

FrameWriter::~FrameWriter() { Join(); }

void FrameWriter::Start() {
  if (!threads_.empty()) return;
  for (auto& buffer : buffers_) threads_.emplace_back([this, &buffer] { Run(buffer); });
}

template <typename Pred>
void FrameWriter::WaitPumping(std::unique_lock<std::mutex>& lock, Pred done) {
  // The waits that can be long let the window system run meanwhile, as the
  // encoder's own yields do when it runs on the window thread.
  while (!changed_.wait_for(lock, std::chrono::milliseconds(20), done)) {
    lock.unlock();
    sys::DoEvents();
    lock.lock();
  }
}

void FrameWriter::Hand(Job job) {
  std::unique_lock lock(mutex_);
  Start();
  WaitPumping(lock, [this] { return !job_; });
  if (!job.gif) {
    holding_.insert(job.n);
    lastBitmap_ = job.n;
  }
  job_ = std::move(job);
  ready_.notify_one();
}

void FrameWriter::WriteBitmap(std::int64_t n, std::string name, platform::Picture source) {
  Hand(Job{n, std::move(name), std::move(source), nullptr});
}

void FrameWriter::WriteGif(std::int64_t n, std::string name, std::shared_ptr<GIF> gif) {
  Hand(Job{n, std::move(name), platform::Picture(), std::move(gif)});
}

void FrameWriter::Failed(std::int64_t n, std::string name) { Done(n, std::move(name), false); }

void FrameWriter::WaitSourceFree() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return holding_.count(lastBitmap_) == 0; });
}

void FrameWriter::Done(std::int64_t n, std::string name, bool written) {
  std::lock_guard lock(mutex_);
  results_.emplace(n, std::make_pair(std::move(name), written));
  changed_.notify_all();
}

void FrameWriter::Report(const Reporter& report) {
  for (;;) {
    std::pair<std::string, bool> result;
    std::int64_t n = 0;
    {
      std::lock_guard lock(mutex_);
      auto it = results_.find(nextReport_);
      if (it == results_.end()) return;
      n = nextReport_++;
      result = std::move(it->second);
      results_.erase(it);
    }
    if (report) report(n, result.first, result.second);
  }
}

void FrameWriter::Finish(const Reporter& report) {
  {
    std::unique_lock lock(mutex_);
    WaitPumping(lock, [this] { return !job_ && active_ == 0; });
  }
  Join();
  Report(report);
}

void FrameWriter::Join() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
    ready_.notify_all();
  }
  for (auto& t : threads_) t.join();
  threads_.clear();
}

bool FrameWriter::WriteJob(Job& job, std::vector<std::uint8_t>& buffer) {
  if (job.gif) {
    const bool written = job.gif->WriteCaptured(job.name) != 0;
    job.gif.reset();
    return written;
  }
  // A bitmap frame: encoded straight from the box's picture, which is let go
  // of (and its release signalled) before the file is written.
  bool encoded = false;
  try {
    if (job.source) {
      platform::EncodeBmp24(*job.source.Handle(), buffer);
      encoded = true;
    }
  } catch (const std::bad_alloc&) {  // no buffer for this frame: it is not written
  }
  job.source = platform::Picture();
  {
    std::lock_guard lock(mutex_);
    holding_.erase(job.n);
    changed_.notify_all();
  }
  return encoded && sys::WriteBinaryFile(job.name, buffer);
}

void FrameWriter::Run(std::vector<std::uint8_t>& buffer) {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return done_ || job_; });
      if (!job_) return;
      job = std::move(*job_);
      job_.reset();
      ++active_;
      changed_.notify_all();
    }
    bool written = false;
    try {
      written = WriteJob(job, buffer);
    } catch (const std::bad_alloc&) {
      // Out of memory half-way: what was written of this file goes.
      sys::DeleteFile(job.name);
    }
    job.source = platform::Picture();
    std::lock_guard lock(mutex_);
    holding_.erase(job.n);
    --active_;
    results_.emplace(job.n, std::make_pair(std::move(job.name), written));
    changed_.notify_all();
  }
}

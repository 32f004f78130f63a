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
  for (auto& storage : storage_) threads_.emplace_back([this, &storage] { Run(storage); });
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
  job.seq = nextSeq_++;
  if (!job.gif) {
    holding_.insert(job.seq);
    lastPicture_ = job.seq;
  }
  job_ = std::move(job);
  ready_.notify_one();
}

void FrameWriter::WriteBitmap(std::int64_t n, std::string name, platform::Picture source) {
  Job job;
  job.n = n;
  job.name = std::move(name);
  job.source = std::move(source);
  Hand(std::move(job));
}

void FrameWriter::WritePng(std::int64_t n, std::string name, platform::Picture source,
                           std::vector<std::uint8_t> alpha) {
  Job job;
  job.n = n;
  job.name = std::move(name);
  job.source = std::move(source);
  job.alpha = std::move(alpha);
  job.png = true;
  Hand(std::move(job));
}

void FrameWriter::WriteGif(std::int64_t n, std::string name, std::shared_ptr<GIF> gif) {
  Job job;
  job.n = n;
  job.name = std::move(name);
  job.gif = std::move(gif);
  Hand(std::move(job));
}

void FrameWriter::Failed(std::int64_t n, std::string name) {
  std::lock_guard lock(mutex_);
  results_.emplace(nextSeq_++, Result{n, std::move(name), false});
  changed_.notify_all();
}

void FrameWriter::WaitSourceFree() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return holding_.count(lastPicture_) == 0; });
}

void FrameWriter::Report(const Reporter& report) {
  for (;;) {
    Result result;
    {
      std::lock_guard lock(mutex_);
      auto it = results_.find(nextReport_);
      if (it == results_.end()) return;
      ++nextReport_;
      result = std::move(it->second);
      results_.erase(it);
    }
    if (report) report(result.n, result.name, result.written);
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

bool FrameWriter::WriteJob(Job& job, Storage& storage) {
  std::vector<std::uint8_t>& buffer = storage.buffer;
  if (job.gif) {
    const bool written = job.gif->WriteCaptured(job.name) != 0;
    job.gif.reset();
    return written;
  }
  // A bitmap or PNG frame: encoded straight from the box's picture, which is
  // let go of (and its release signalled) before the file is written.
  bool encoded = false;
  try {
    if (job.source && job.png) {
      const gdi::Bitmap& bmp = *job.source.Handle();
      png::Image image{bmp.Row32(0), std::size_t(bmp.Width()), bmp.Width(), bmp.Height(),
                       job.alpha.empty() ? nullptr : job.alpha.data()};
      encoded = storage.png.Prepare(image);  // the deflating waits until the box is free
    } else if (job.source) {
      platform::EncodeBmp24(*job.source.Handle(), buffer);
      encoded = true;
    }
  } catch (const std::bad_alloc&) {  // no buffer for this frame: it is not written
  }
  job.source = platform::Picture();
  std::vector<std::uint8_t>().swap(job.alpha);
  {
    std::lock_guard lock(mutex_);
    holding_.erase(job.seq);
    changed_.notify_all();
  }
  if (encoded && job.png) encoded = storage.png.Finish(buffer);
  return encoded && sys::WriteBinaryFile(job.name, buffer);
}

void FrameWriter::Run(Storage& storage) {
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
      written = WriteJob(job, storage);
    } catch (const std::bad_alloc&) {
      // Out of memory half-way: what was written of this file goes.
      sys::DeleteFile(job.name);
    }
    job.source = platform::Picture();
    std::lock_guard lock(mutex_);
    holding_.erase(job.seq);
    --active_;
    results_.emplace(job.seq, Result{job.n, std::move(job.name), written});
    changed_.notify_all();
  }
}

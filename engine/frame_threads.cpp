#include "engine/frame_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <new>

#include "encoder/gif_encoder.h"
#include "platform/system/system.h"

namespace {

std::function<void()>& ThreadStartHook() {
  static std::function<void()> hook;
  return hook;
}

// A thread, or none when the system cannot start one (std::system_error).
template <typename F>
bool TryStart(std::vector<std::thread>& threads, F&& f) {
  try {
    if (auto& hook = ThreadStartHook()) hook();
    threads.emplace_back(std::forward<F>(f));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Why a GIF frame's encoder did not write its file.
std::string EncoderReason(const GIF& gif) {
  switch (gif.LastError()) {
    case GIF::Error::Busy:
      return "the encoder is busy";
    case GIF::Error::NoPicture:
      return "there is no picture to encode";
    case GIF::Error::TooLarge:
      return "the picture is too large to encode";
    default:
      return sys::ErrorText(gif.SystemError() != 0 ? gif.SystemError() : EIO);
  }
}

}  // namespace

void SetThreadStartHook(std::function<void()> hook) { ThreadStartHook() = std::move(hook); }

std::size_t DecodeFrames(std::size_t count, unsigned threads,
                         const std::function<bool(std::size_t, unsigned)>& job) {
  threads = unsigned(std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(count, 1)));
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> firstFailed{count};
  auto work = [&](unsigned worker) {
    while (firstFailed.load(std::memory_order_relaxed) == count) {
      const std::size_t i = next.fetch_add(1);
      if (i >= count) break;
      if (!job(i, worker)) {
        // Jobs are handed out in order: every lower one has started and
        // finishes, so the lowest failure is the same whatever the timing.
        std::size_t seen = firstFailed.load();
        while (i < seen && !firstFailed.compare_exchange_weak(seen, i)) {
        }
      }
    }
  };
  std::vector<std::thread> pool;
  // A thread the system refuses leaves the pool smaller; this thread works
  // in any case.
  for (unsigned t = 1; t < threads && TryStart(pool, [&work, t] { work(t); }); ++t) {
  }
  work(0);
  for (auto& t : pool) t.join();
  return firstFailed;
}

DecodeAhead::DecodeAhead(std::size_t count, unsigned threads, std::size_t slots, Job job)
    : count_(count),
      slots_(std::max<std::size_t>(slots, 1)),
      threads_(threads),
      job_(std::move(job)),
      done_(slots_, 0) {
  for (unsigned t = 0; t < threads && TryStart(pool_, [this, t] { Work(t); }); ++t) {
  }
}

DecodeAhead::~DecodeAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& t : pool_) t.join();
}

void DecodeAhead::Run(std::size_t k, unsigned worker, std::unique_lock<std::mutex>& lock) {
  ++next_;
  lock.unlock();
  job_(k, k % slots_, worker);
  lock.lock();
  done_[k % slots_] = k + 1;
  changed_.notify_all();
}

void DecodeAhead::Work(unsigned worker) {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stop_ || next_ >= count_ || next_ < released_ + slots_; });
    if (stop_ || next_ >= count_) return;
    Run(next_, worker, lock);
  }
}

std::size_t DecodeAhead::Wait(std::size_t k) {
  std::unique_lock lock(mutex_);
  if (next_ == k && k < released_ + slots_) {
    Run(k, threads_, lock);  // no thread has it: this one runs it
  } else {
    changed_.wait(lock, [&] { return done_[k % slots_] == k + 1; });
  }
  return k % slots_;
}

void DecodeAhead::Release(std::size_t k) {
  {
    std::lock_guard lock(mutex_);
    released_ = std::max(released_, k + 1);
  }
  changed_.notify_all();
}

FrameWriter::~FrameWriter() { Join(); }

void FrameWriter::Start() {
  if (started_) return;
  started_ = true;
  for (auto& storage : storage_) {
    if (!threadsAllowed_) break;
    if (!TryStart(threads_, [this, &storage] { Run(storage); })) break;
  }
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
  if (threads_.empty()) {
    // No writer could be started, or none is wanted: this thread writes the
    // frame itself.
    job.seq = nextSeq_++;
    lock.unlock();
    std::string reason = Execute(job, storage_[0]);
    lock.lock();
    results_.emplace(job.seq,
                     ExportedFrame{job.n, std::move(job.name), reason.empty(), std::move(reason)});
    return;
  }
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

void FrameWriter::Failed(std::int64_t n, std::string name, std::string reason, bool kept) {
  std::lock_guard lock(mutex_);
  results_.emplace(nextSeq_++, ExportedFrame{n, std::move(name), false, std::move(reason), kept});
  changed_.notify_all();
}

void FrameWriter::Taken(std::int64_t n, std::string name) {
  std::lock_guard lock(mutex_);
  results_.emplace(nextSeq_++, ExportedFrame{n, std::move(name), true, std::string(), false});
  changed_.notify_all();
}

void FrameWriter::WaitSourceFree() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return holding_.count(lastPicture_) == 0; });
}

void FrameWriter::Report(const Reporter& report) {
  for (;;) {
    ExportedFrame result;
    {
      std::lock_guard lock(mutex_);
      auto it = results_.find(nextReport_);
      if (it == results_.end()) return;
      ++nextReport_;
      result = std::move(it->second);
      results_.erase(it);
    }
    if (report) report(result);
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

std::string FrameWriter::WriteJob(Job& job, Storage& storage) {
  std::vector<std::uint8_t>& buffer = storage.buffer;
  if (job.gif) {
    const bool written = job.gif->WriteCaptured(job.name) != 0;
    std::string reason = written ? std::string() : EncoderReason(*job.gif);
    job.gif.reset();
    return reason;
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
  if (!encoded) return sys::ErrorText(ENOMEM);
  int error = 0;
  return sys::WriteBinaryFile(job.name, buffer, &error) ? std::string() : sys::ErrorText(error);
}

std::string FrameWriter::Execute(Job& job, Storage& storage) {
  // Whatever goes wrong is this frame's failure, never the thread's end; a
  // file is complete or absent, so nothing is left to remove.
  try {
    return WriteJob(job, storage);
  } catch (const std::bad_alloc&) {
    return sys::ErrorText(ENOMEM);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "the frame could not be encoded";
  }
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
    std::string reason = Execute(job, storage);
    job.source = platform::Picture();
    job.gif.reset();
    std::lock_guard lock(mutex_);
    holding_.erase(job.seq);
    --active_;
    results_.emplace(job.seq,
                     ExportedFrame{job.n, std::move(job.name), reason.empty(), std::move(reason)});
    changed_.notify_all();
  }
}

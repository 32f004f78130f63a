// The two places where a run uses threads besides the window thread that
// drives it. Both are started and joined inside one call of the engine, so no
// thread outlives the operation that made it:
//
//   DecodeFrames   fGifBreakOutFrames cuts the frames out of the file and
//                  decodes them on a small pool; it returns once every thread
//                  has been joined.
//   FrameWriter    RenderGif hands each exported frame to one of two writer
//                  threads; Finish (called before RenderGif returns, and by
//                  the destructor on every other way out) joins them.
//
// The contract, for both:
//   - Only the window thread (the one that calls the engine) ever calls the
//     yield hook (sys::DoEvents) or an encoder's Progress. The pool and the
//     writers never do; sys::DoEvents asserts it in debug builds.
//   - Jobs own what they carry. A decode job writes only its own frame's
//     slot. A writer job owns its file name and, for a GIF frame, the encoder
//     that has captured the frame; a bitmap or PNG job shares the export box's
//     picture until the writer has encoded it, and signals that job's
//     release on its own (WaitSourceFree), so the window thread knows when it
//     may draw into the box again.
//   - A failure does not throw across threads. A decode job returns false
//     (and records why itself): no further job starts, the started ones
//     finish, and the lowest failed job is reported. A writer job that cannot
//     write its file (out of memory, or any other exception, included) leaves
//     no file behind and is reported as not written, with the reason.
//   - A thread that cannot be started is no failure of the run: the pool
//     decodes on the threads that did start (the calling one at least), and
//     the writer writes on the calling thread when neither writer started.
//   - Results of the writers reach the window thread in the order the frames
//     were handed over (frame order), through Report, called only on the
//     window thread.
//   - A stop request is the window's: RenderGif stops handing out frames; the
//     frames already handed over are still written.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "encoder/png_writer.h"
#include "engine/run_result.h"
#include "platform/picture/picture.h"

class GIF;

// Runs job(0, w) … job(count - 1, w) on up to `threads` threads, the calling
// one among them, handing jobs out in increasing order; w (below `threads`)
// names the thread running the job, so that a job may reuse memory that
// thread's earlier jobs used. A job returns false when it failed and must not
// throw. Once one has failed, no further job starts. Returns the lowest index
// whose job failed, or `count` when none did.
std::size_t DecodeFrames(std::size_t count, unsigned threads,
                         const std::function<bool(std::size_t, unsigned)>& job);

// Runs job(k, slot, w) for k = 0 … count - 1 on `threads` threads of its own,
// ahead of a consumer that takes the jobs in order: job k writes slot
// k % slots (the consumer's storage), and may start once job k - slots has
// been released. w names the thread (below `threads`; `threads` itself is the
// consumer's), so a job may reuse memory of that thread's. A job must not
// throw. The consumer's Wait runs a job itself when no thread has taken it,
// so with no thread (none asked for, or none the system would start)
// everything runs on the consumer's thread. The threads are joined by the
// destructor, after the job each is running.
class DecodeAhead {
 public:
  using Job = std::function<void(std::size_t k, std::size_t slot, unsigned worker)>;
  DecodeAhead(std::size_t count, unsigned threads, std::size_t slots, Job job);
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Waits until job k has run (jobs are waited for in order, each released
  // before the one `slots` later is waited for); returns its slot.
  std::size_t Wait(std::size_t k);
  // Job k's slot may be written again.
  void Release(std::size_t k);

 private:
  void Work(unsigned worker);
  void Run(std::size_t k, unsigned worker, std::unique_lock<std::mutex>& lock);
  const std::size_t count_, slots_;
  const unsigned threads_;
  const Job job_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;           // the first job no thread has taken
  std::size_t released_ = 0;       // jobs below it are released
  std::vector<std::size_t> done_;  // by slot: the job that last ran there, plus one
  bool stop_ = false;
  std::vector<std::thread> pool_;
};

// Called before every thread a run starts; tests make it throw what a failed
// thread start throws (std::system_error). Empty: nothing is called.
void SetThreadStartHook(std::function<void()> hook);

class FrameWriter {
 public:
  // Called on the window thread, in the order the frames were handed over:
  // frame n, its file, whether the file was written, and why not.
  using Reporter = std::function<void(const ExportedFrame& frame)>;

  // Without `threads`, every frame is written on the calling thread as it is
  // handed over (for runs side by side, one on each core).
  explicit FrameWriter(bool threads = true) : threadsAllowed_(threads) {}
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Hands frame n over: a bitmap frame as the picture to encode, a PNG frame
  // as the picture and one alpha byte per pixel, or a GIF frame as an encoder
  // that has captured it (its Yields off). Waits, letting the window system
  // run, while both writers are busy.
  void WriteBitmap(std::int64_t n, std::string name, platform::Picture source);
  void WritePng(std::int64_t n, std::string name, platform::Picture source,
                std::vector<std::uint8_t> alpha);
  void WriteGif(std::int64_t n, std::string name, std::shared_ptr<GIF> gif);
  // Frame n that could not even be handed over, and why; `kept` when its
  // name was taken and the run keeps what it finds.
  void Failed(std::int64_t n, std::string name, std::string reason, bool kept = false);
  // Frame n that the run's caller took instead of a file: reported as
  // written, in its turn.
  void Taken(std::int64_t n, std::string name);

  // Returns once the writer has let go of the picture of the bitmap frame
  // handed over last.
  void WaitSourceFree();

  // Passes the results that are ready, in the order handed over, to `report`.
  void Report(const Reporter& report);
  // Waits for every frame handed over (letting the window system run), joins
  // the threads and reports the remaining results.
  void Finish(const Reporter& report);

 private:
  struct Job {
    std::int64_t n = 0;
    std::string name;
    platform::Picture source;         // a bitmap or PNG frame's picture
    std::vector<std::uint8_t> alpha;  // a PNG frame's transparency
    bool png = false;
    std::shared_ptr<GIF> gif;  // or a GIF frame's captured encoder
    std::int64_t seq = 0;      // handed over as the seq-th, from 0
  };

  void Start();
  // What one writer thread keeps from one frame to the next.
  struct Storage {
    std::vector<std::uint8_t> buffer;  // the file's bytes
    png::Encoder png;
  };
  void Run(Storage& storage);
  // Writes the job's file: the reason it was not written, empty when it was.
  std::string WriteJob(Job& job, Storage& storage);
  // WriteJob, with anything it throws turned into a reason.
  std::string Execute(Job& job, Storage& storage);
  void Hand(Job job);

  void Join();
  template <typename Pred>
  void WaitPumping(std::unique_lock<std::mutex>& lock, Pred done);

  std::mutex mutex_;
  std::condition_variable ready_;    // a job or the end, for the writers
  std::condition_variable changed_;  // a job taken, a picture released, a file done
  std::optional<Job> job_;           // handed over and not yet taken
  std::set<std::int64_t> holding_;   // jobs (by seq) whose picture a writer still reads
  std::int64_t lastPicture_ = -1;    // the job with a picture handed over last
  int active_ = 0;                   // jobs taken and not yet done
  std::map<std::int64_t, ExportedFrame> results_;  // finished jobs waiting to be reported, by seq
  std::int64_t nextSeq_ = 0, nextReport_ = 0;
  Storage storage_[2];  // one per writer thread
  bool done_ = false;
  bool started_ = false;
  bool threadsAllowed_ = true;
  std::vector<std::thread> threads_;
};

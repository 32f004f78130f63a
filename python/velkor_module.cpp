// velkor._velkor: the engine for Python programs. Frames come as NumPy RGBA
// arrays, composed one at a time on a thread of the file's own while the
// program takes the one before (the GIL is let go of while it waits); a
// file's table and a split to files are velkor-split's own.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/frame_table.h"
#include "cli/options.h"
#include "cli/split_run.h"
#include "engine/run.h"
#include "platform/system/system.h"

namespace py = pybind11;

namespace {

// A file that cannot be broken into frames: velkor.BreakOutError.
struct BreakOutProblem {
  std::string message, reason;
  std::int64_t byte = -1, frame = 0;
};
// The system's failure with its errno: OSError.
struct SystemProblem {
  int error = 0;
  std::string message, path;
};

[[noreturn]] void Raise(const BreakOutFailure& failure, const std::string& path) {
  if (failure.reason == BreakOutReason::OutOfMemory) throw std::bad_alloc();
  // A file that cannot be read is the file system's answer, with its errno
  // (FileNotFoundError, PermissionError, ...), as Python's own open gives it.
  if ((IsSystemFailure(failure) || failure.reason == BreakOutReason::CannotRead) &&
      failure.error != 0) {
    throw SystemProblem{failure.error, DescribeFailure(failure), path};
  }
  throw BreakOutProblem{DescribeFailure(failure), ReasonId(failure.reason), failure.byte,
                        failure.frame};
}

Composition CompositionOf(const std::string& compose) {
  if (compose == "browser") return Composition::Browser;
  if (compose == "window") return Composition::Window;
  throw py::value_error("compose must be \"browser\" or \"window\", not \"" + compose + "\"");
}

// The buffers of one file's frame arrays. A buffer comes back here when NumPy
// lets go of its array, so that a program that drops each frame before it
// takes the next reuses the same few buffers instead of having fresh pages
// faulted in for every frame (which costs as much as composing the frame).
class Buffers {
 public:
  explicit Buffers(std::size_t bytes) : bytes_(bytes) {}
  std::size_t Bytes() const { return bytes_; }
  // A buffer of Bytes() bytes, not cleared: every byte is written.
  std::unique_ptr<std::uint8_t[]> Take() {
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        auto buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
      }
    }
    return std::make_unique_for_overwrite<std::uint8_t[]>(bytes_);
  }
  void Give(std::unique_ptr<std::uint8_t[]> buffer) {
    std::lock_guard lock(mutex_);
    if (free_.size() < kKept) free_.push_back(std::move(buffer));
  }

 private:
  static constexpr std::size_t kKept = 3;
  const std::size_t bytes_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<std::uint8_t[]>> free_;
};

// One file's frames, composed in order on a thread of their own; the frame
// being handed over is the only one held besides the engine's own.
class Frames {
 public:
  Frames(std::string path, std::string compose, bool salvage)
      : path_(std::move(path)), compose_(CompositionOf(compose)), salvage_(salvage) {
    Open();
  }
  ~Frames() { Stop(); }
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;

  int width = 0, height = 0;
  std::int64_t count = 0;
  std::optional<int> loop;
  std::vector<int> delays;
  py::object damage = py::none();

  // Frame k (from 0): the next one, or the file composed again up to it.
  py::array At(std::int64_t k) {
    if (closed_) throw py::value_error("the frames of " + path_ + " are closed");
    if (k < 0) k += count;
    if (k < 0 || k >= count) throw py::index_error("frame index out of range");
    if (k < next_) {
      Stop();
      Open();
    }
    std::unique_ptr<std::uint8_t[]> rgba;
    while (next_ <= k) {
      if (rgba) buffers_->Give(std::move(rgba));
      rgba = Take();
    }
    return Array(std::move(rgba));
  }

  void Close() {
    Stop();
    closed_ = true;
  }
  bool Closed() const { return closed_; }

 private:
  void Open() {
    RunOptions options;
    options.DecoderPath = Absolute(path_);
    options.Split = true;
    options.ExportAs = FrameFiles::Png;
    options.Compose = compose_;
    options.Salvage = salvage_;
    // Frames are taken as they come, so none needs checking before the first
    // is handed over: one that cannot be decoded is an error when it is
    // reached. A salvage checks them all, to know how many it keeps.
    options.CheckFrames = salvage_;
    options.TakeFrame = [this](std::int64_t, const gdi::Bitmap& picture,
                               const std::uint8_t* alpha) { return Hand(picture, alpha); };
    options.TakeCanvas = [this](std::int64_t, const std::uint8_t* rgba, int w, int h) {
      return HandCanvas(rgba, w, h);
    };
    run_ = std::make_unique<HeadlessRun>(options);
    clsGif24bit& engine = run_->Engine();
    bool split = false;
    {
      py::gil_scoped_release free;
      split = BreakOutRun(engine);
      engine.UserDelay(0);
    }
    if (!split) {
      const BreakOutFailure failure = engine.LastFailure();
      run_.reset();
      Raise(failure, path_);
    }
    count = std::int64_t(engine.Frames.size());
    delays.clear();
    for (const auto& frame : engine.Frames) delays.push_back(int(std::uint16_t(frame.DelayTime)));
    loop = engine.LoopCount >= 0 ? std::optional<int>(int(engine.LoopCount)) : std::nullopt;
    if (compose_ == Composition::Browser) {
      width = engine.BrowserCanvasWidth();
      height = engine.BrowserCanvasHeight();
    } else {
      const platform::Picture shown = run_->Boxes().Display.Image();
      width = shown.Width();
      height = shown.Height();
    }
    if (engine.Damage()) {
      py::dict d;
      d["reason"] = ReasonId(engine.Damage()->reason);
      d["message"] = DescribeFailure(*engine.Damage());
      d["frame"] = engine.Damage()->frame;
      damage = d;
    }
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (!buffers_ || buffers_->Bytes() != bytes) buffers_ = std::make_shared<Buffers>(bytes);
    next_ = 0;
    stopping_ = false;
    finished_ = false;
    slot_.reset();
  }

  // On the composing thread, once the program has closed the frames: no
  // frame after this one is composed.
  std::string Stopped() {
    run_->Engine().StopRender(1);
    return "closed";
  }

  // On the composing thread: the browser composition's canvas as it stands.
  std::string HandCanvas(const std::uint8_t* rgba, int w, int h) {
    if (stopping_) return Stopped();
    if (w != width || h != height) return "the frame's size differs from the canvas's";
    auto frame = buffers_->Take();
    std::memcpy(frame.get(), rgba, buffers_->Bytes());
    return Deliver(std::move(frame));
  }

  // On the composing thread: waits until the frame before has been taken.
  std::string Hand(const gdi::Bitmap& picture, const std::uint8_t* alpha) {
    if (stopping_) return Stopped();
    if (picture.Width() != width || picture.Height() != height) {
      return "the frame's size differs from the first one's";
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    auto frame = buffers_->Take();
    std::uint8_t* rgba = frame.get();
    const std::uint32_t* px = picture.Row32(0);
    for (std::size_t i = 0; i < pixels; ++i) {
      rgba[4 * i] = std::uint8_t(px[i] >> 16);
      rgba[4 * i + 1] = std::uint8_t(px[i] >> 8);
      rgba[4 * i + 2] = std::uint8_t(px[i]);
      rgba[4 * i + 3] = alpha == nullptr || alpha[i] != 0 ? 0xFF : 0;
    }
    return Deliver(std::move(frame));
  }

  // Waits until the frame before has been taken, then leaves this one.
  std::string Deliver(std::unique_ptr<std::uint8_t[]> frame) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !slot_ || stopping_; });
    if (stopping_) return Stopped();
    slot_ = std::move(frame);
    changed_.notify_all();
    return std::string();
  }

  std::unique_ptr<std::uint8_t[]> Take() {
    if (!thread_.joinable()) {
      thread_ = std::thread([this] {
        RunResult result = PlayRun(run_->Engine(), nullptr);
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        finished_ = true;
        changed_.notify_all();
      });
    }
    std::unique_ptr<std::uint8_t[]> frame;
    {
      py::gil_scoped_release free;
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return slot_ || finished_; });
      if (slot_) {
        frame = std::move(slot_);
        changed_.notify_all();
      }
    }
    if (frame) {
      ++next_;
      return frame;
    }
    // The run ended before this frame: the file's data there (the reason
    // velkor-split gives for the file), or why the frame could not be
    // composed.
    const BreakOutFailure cause = result_.playFailure;
    std::string why = "frame " + std::to_string(next_ + 1) + " cannot be composed";
    if (!result_.failed.empty()) why += ": " + result_.failed.front().reason;
    Stop();
    Open();
    if (cause.reason != BreakOutReason::None) Raise(cause, path_);
    if (why.find(std::strerror(ENOMEM)) != std::string::npos) throw std::bad_alloc();
    throw BreakOutProblem{why, "not-written", -1, next_ + 1};
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      changed_.notify_all();
    }
    if (thread_.joinable()) {
      py::gil_scoped_release free;
      thread_.join();
    }
    thread_ = std::thread();
    run_.reset();
  }

  // A frame's buffer while an array shows it; it goes back to the pool with
  // the array.
  struct Lent {
    std::shared_ptr<Buffers> pool;
    std::unique_ptr<std::uint8_t[]> bytes;
    ~Lent() { pool->Give(std::move(bytes)); }
  };

  py::array Array(std::unique_ptr<std::uint8_t[]> rgba) const {
    auto* owned = new Lent{buffers_, std::move(rgba)};
    py::capsule free(owned, [](void* p) { delete static_cast<Lent*>(p); });
    py::array_t<std::uint8_t> array({py::ssize_t(height), py::ssize_t(width), py::ssize_t(4)},
                                    {py::ssize_t(width) * 4, py::ssize_t(4), py::ssize_t(1)},
                                    owned->bytes.get(), free);
    array.attr("setflags")(py::arg("write") = false);
    return array;
  }

  std::string path_;
  Composition compose_;
  bool salvage_;
  bool closed_ = false;
  std::unique_ptr<HeadlessRun> run_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<Buffers> buffers_;
  std::unique_ptr<std::uint8_t[]> slot_;
  std::atomic<bool> stopping_{false};  // read by the composing thread without the lock
  bool finished_ = false;
  RunResult result_;
  std::int64_t next_ = 0;
};

py::object Info(const std::string& path, const std::string& compose) {
  RunOptions options;
  options.DecoderPath = Absolute(path);
  options.Compose = CompositionOf(compose);
  std::string text;
  {
    py::gil_scoped_release free;
    HeadlessRun run(options);
    clsGif24bit& engine = run.Engine();
    const bool split = BreakOutRun(engine);
    engine.UserDelay(0);  // the waits the table reports are the play's
    std::error_code ec;
    const auto size = std::filesystem::file_size(sys::PathOf(options.DecoderPath), ec);
    text = FrameTable(engine, options.DecoderPath, ec ? -1 : std::int64_t(size), split)
               .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  return py::module_::import("json").attr("loads")(text);
}

// The errno whose words `reason` is, EIO when none is.
int ErrnoOf(const std::string& reason) {
  for (int e = 1; e < 134; ++e) {
    if (reason.find(sys::ErrorText(e)) != std::string::npos) return e;
  }
  return EIO;
}

std::vector<std::string> Split(const std::string& path, const std::string& folder,
                               const std::string& format, const std::optional<std::string>& frames,
                               const std::string& compose, const std::optional<std::string>& name,
                               bool salvage, bool ownThreads) {
  CompositionOf(compose);
  if (format != "png" && format != "bmp" && format != "gif" && format != "stored") {
    throw py::value_error("format must be \"png\", \"bmp\", \"gif\" or \"stored\", not \"" +
                          format + "\"");
  }
  std::vector<std::string> arguments{"velkor-split", "--" + format, "--compose", compose,
                                     "--json",       "-o",          folder};
  if (frames) arguments.insert(arguments.end(), {"--frames", *frames});
  if (name) arguments.insert(arguments.end(), {"--name", *name});
  if (salvage) arguments.push_back("--salvage");
  arguments.insert(arguments.end(), {"--", path});
  Options o;
  if (auto refusal = ParseOptions(arguments, o)) throw py::value_error(refusal->message);
  if (auto refusal = GatherInputs(o)) throw py::value_error(refusal->message);
  KeptOutput out;
  FileOutcome outcome;
  {
    py::gil_scoped_release free;
    Shared shared;
    outcome = SplitFile(o, o.inputs.front(), out, shared, ownThreads);
  }
  std::vector<std::string> written;
  std::string failedReason;
  std::string said;  // what velkor-split would have said on standard error
  for (const auto& item : out.items) {
    if (item.stream == KeptOutput::Stream::Error && said.empty()) said = item.text;
    if (item.stream != KeptOutput::Stream::Listing) continue;
    const auto record = nlohmann::json::parse(item.text, nullptr, false);
    if (!record.is_object() || record.value("type", "") != "frame") continue;
    if (record.value("written", false)) {
      written.push_back(record.value("path", ""));
    } else if (failedReason.empty()) {
      failedReason = record.value("path", "") + ": " + record.value("reason", "");
    }
  }
  switch (outcome.kind) {
    case FileOutcome::Kind::Split:
    case FileOutcome::Kind::Damaged:
      return written;
    case FileOutcome::Kind::Refused:
      if (outcome.reason == "no-frame-listed") throw py::value_error(outcome.message);
      if (outcome.failure.reason == BreakOutReason::None) {
        throw BreakOutProblem{outcome.message, outcome.reason, -1, 0};
      }
      Raise(outcome.failure, path);
    case FileOutcome::Kind::Incomplete:
      break;
  }
  const std::string words = !failedReason.empty() ? failedReason
                            : !said.empty()       ? said.substr(said.find(": ") + 2)
                                                  : outcome.message;
  throw SystemProblem{ErrnoOf(words), words, outcome.reason == "output-folder" ? folder : path};
}

}  // namespace

PYBIND11_MODULE(_velkor, m) {
  m.doc() = "The engine of velkor: frames as arrays, a file's table, splits to files.";
  // A program wants the frames as fast as they come: the play never waits
  // out the frames' delays here (velkor-split waits them only when asked).
  sys::SetSleepHook([](std::int64_t) {});
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const BreakOutProblem& e) {
      const py::object type = py::module_::import("velkor").attr("BreakOutError");
      const py::object error =
          type(e.message, e.reason, e.byte >= 0 ? py::object(py::int_(e.byte)) : py::none(),
               e.frame > 0 ? py::object(py::int_(e.frame)) : py::none());
      PyErr_SetObject(type.ptr(), error.ptr());
    } catch (const SystemProblem& e) {
      const py::object error = py::reinterpret_steal<py::object>(
          PyObject_CallFunction(PyExc_OSError, "iss", e.error, e.message.c_str(), e.path.c_str()));
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    }
  });
  py::class_<Frames>(m, "Frames")
      .def(py::init<std::string, std::string, bool>(), py::arg("path"),
           py::arg("compose") = "browser", py::arg("salvage") = false)
      .def_readonly("width", &Frames::width)
      .def_readonly("height", &Frames::height)
      .def_readonly("loop", &Frames::loop)
      .def_readonly("delays", &Frames::delays)
      .def_readonly("damage", &Frames::damage)
      .def("__len__", [](const Frames& f) { return f.count; })
      .def("frame", &Frames::At, py::arg("index"))
      .def("close", &Frames::Close)
      .def_property_readonly("closed", &Frames::Closed);
  m.def("info", &Info, py::arg("path"), py::arg("compose") = "browser");
  m.def("split", &Split, py::arg("path"), py::arg("folder"), py::arg("format") = "png",
        py::arg("frames") = py::none(), py::arg("compose") = "browser",
        py::arg("name") = py::none(), py::arg("salvage") = false, py::arg("own_threads") = true);
}

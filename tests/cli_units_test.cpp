// The parts of velkor-split that a run of several files is made of, each on
// its own: the shared memory budget, the ordered runner, the collision rule
// and the gathering of inputs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/collisions.h"
#include "cli/inputs.h"
#include "cli/ordered_runner.h"
#include "cli/pixel_budget.h"
#include "platform/system/system.h"
#include "tests/support/testutil.h"

using namespace testutil;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Clears a stop request on every way out of a test that makes one.
struct StopGuard {
  StopGuard() { sys::ClearStopRequest(); }
  ~StopGuard() { sys::ClearStopRequest(); }
};

}  // namespace

TEST(PixelBudget, ATakerWaitsUntilThereIsRoomAndTakersAreServedInTheirOrder) {
  PixelBudget budget(1000);
  auto first = budget.Take(600);
  EXPECT_EQ(budget.Used(), 600);
  // A second 0.6 of the budget waits until the first lets go.
  auto second = std::async(std::launch::async, [&] { return budget.Take(600); });
  EXPECT_EQ(second.wait_for(200ms), std::future_status::timeout);
  // A small taker that comes after it does not pass it, though it would fit.
  std::this_thread::sleep_for(50ms);
  auto small = std::async(std::launch::async, [&] { return budget.Take(100); });
  EXPECT_EQ(small.wait_for(200ms), std::future_status::timeout);
  first.reset();
  auto secondHold = second.get();
  auto smallHold = small.get();
  EXPECT_EQ(budget.Used(), 700);
  secondHold.reset();
  smallHold.reset();
  EXPECT_EQ(budget.Used(), 0);  // everything taken is given back
  // A taker alone always gets its share, however large.
  auto huge = budget.Take(5000);
  EXPECT_EQ(budget.Used(), 5000);
}

TEST(PixelBudget, AStopEndsTheWaitWithNothingHeld) {
  StopGuard guard;
  PixelBudget budget(1000);
  auto held = budget.Take(900);
  auto waiting = std::async(std::launch::async, [&] { return budget.Take(900); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  sys::RequestStop(15);
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  waiting.get();
  EXPECT_EQ(budget.Used(), 900);
}

TEST(OrderedRunner, ResultsComeInTheOrderOfTheTasksEachAsSoonAsItAndThoseBeforeAreDone) {
  for (unsigned jobs : {1u, 2u, 5u}) {
    std::mutex mutex;
    std::vector<std::size_t> delivered;
    std::vector<char> done(12, 0);
    std::atomic<int> running{0}, most{0};
    OrderedRun run;
    run.count = 12;
    run.jobs = jobs;
    run.task = [&](std::size_t i, unsigned alongside) {
      EXPECT_LE(alongside, jobs);
      EXPECT_LE(alongside, 12 - i);
      const int now = ++running;
      int seen = most;
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      // Later tasks are quicker: they finish before earlier ones.
      std::this_thread::sleep_for(std::chrono::milliseconds(3 * (12 - int(i) % 4)));
      --running;
      std::lock_guard lock(mutex);
      done[i] = 1;
    };
    run.deliver = [&](std::size_t i, bool started) {
      EXPECT_TRUE(started);
      std::lock_guard lock(mutex);
      EXPECT_TRUE(done[i]);
      delivered.push_back(i);
    };
    RunInOrder(run);
    std::vector<std::size_t> order(12);
    for (std::size_t i = 0; i < 12; ++i) order[i] = i;
    EXPECT_EQ(delivered, order) << jobs;
    EXPECT_LE(most.load(), int(jobs));
  }

  // One job: the first result is handed over while the second task still
  // runs, not when the whole run ends.
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<bool> firstDelivered{false};
  OrderedRun run;
  run.count = 2;
  run.jobs = 1;
  run.task = [&](std::size_t i, unsigned) {
    if (i == 1) released.wait_for(10s);
  };
  run.deliver = [&](std::size_t i, bool) {
    if (i == 0) {
      firstDelivered = true;
      release.set_value();
    }
  };
  int ticks = 0;
  run.tick = [&](std::size_t) { ++ticks; };
  RunInOrder(run);
  EXPECT_TRUE(firstDelivered);
}

TEST(OrderedRunner, ThreadsThatCannotStartOrTasksThatThrowEndNothing) {
  // No thread starts (the system refuses, or memory runs out): the calling
  // thread runs every task itself.
  for (int kind = 0; kind < 2; ++kind) {
    std::vector<std::size_t> ran;
    const auto caller = std::this_thread::get_id();
    OrderedRun run;
    run.count = 4;
    run.jobs = 3;
    run.beforeStart = [kind] {
      if (kind == 0)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      throw std::bad_alloc();
    };
    run.task = [&](std::size_t i, unsigned) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      ran.push_back(i);
    };
    run.deliver = [](std::size_t, bool started) { EXPECT_TRUE(started); };
    RunInOrder(run);
    EXPECT_EQ(ran, (std::vector<std::size_t>{0, 1, 2, 3}));
  }

  // A task that throws is that task's failure; the others run.
  std::vector<std::string> failures;
  std::atomic<int> ran{0};
  OrderedRun run;
  run.count = 5;
  run.jobs = 2;
  run.task = [&](std::size_t i, unsigned) {
    ++ran;
    if (i == 1) throw std::bad_alloc();
    if (i == 3) throw 7;
  };
  run.failed = [&](std::size_t i, const std::string& what) {
    failures.push_back(std::to_string(i) + " " + what);
  };
  run.deliver = [](std::size_t, bool) {};
  RunInOrder(run);
  EXPECT_EQ(ran.load(), 5);
  std::sort(failures.begin(), failures.end());
  EXPECT_EQ(failures, (std::vector<std::string>{"1 std::bad_alloc", "3 unknown failure"}));

  // What the delivery throws passes on once the workers have stopped: no
  // thread is left joinable, no further task starts.
  std::atomic<int> started{0};
  OrderedRun failing;
  failing.count = 50;
  failing.jobs = 2;
  failing.task = [&](std::size_t, unsigned) {
    ++started;
    std::this_thread::sleep_for(2ms);
  };
  failing.deliver = [](std::size_t i, bool) {
    if (i == 2) throw std::runtime_error("listing");
  };
  EXPECT_THROW(RunInOrder(failing), std::runtime_error);
  EXPECT_LT(started.load(), 50);
}

TEST(OrderedRunner, AStopLetsTheTasksUnderWayFinishAndStartsNoOther) {
  StopGuard guard;
  std::atomic<int> started{0};
  std::vector<std::pair<std::size_t, bool>> delivered;
  OrderedRun run;
  run.count = 10;
  run.jobs = 2;
  run.task = [&](std::size_t i, unsigned) {
    ++started;
    if (i == 3) sys::RequestStop(2);
    std::this_thread::sleep_for(20ms);
  };
  run.deliver = [&](std::size_t i, bool s) { delivered.emplace_back(i, s); };
  RunInOrder(run);
  ASSERT_EQ(delivered.size(), 10u);
  int reported = 0;
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(delivered[i].first, i);
    reported += delivered[i].second ? 1 : 0;
    if (i <= 3) {
      EXPECT_TRUE(delivered[i].second) << i;
    }
  }
  // Task 3 and at most the one beside it ran; every started one was
  // delivered as started.
  EXPECT_EQ(reported, started.load());
  EXPECT_LE(started.load(), 5);
}

TEST(Collisions, FilesAreComparedWhereTheyReallyLie) {
  TempDir dir;
  const std::string in = dir.File("in");
  fs::create_directory(in);
  WriteFile(in + TempDir::kSeparator + "a.gif", Bytes{1});
  WriteFile(in + TempDir::kSeparator + "a_001.gif", Bytes{1});
  auto plan = [](const std::vector<std::string>& sources, const std::string& outDir) {
    std::vector<PlannedFrames> p;
    for (const auto& s : sources) {
      const std::string folder = outDir.empty() ? s.substr(0, s.find_last_of("/\\")) : outDir;
      const std::string name = s.substr(s.find_last_of("/\\") + 1);
      const std::string base = folder + TempDir::kSeparator + name.substr(0, name.find('.')) + "_";
      p.push_back({s, s, base, "", 3, RealPlace(s), RealPlace(base)});
    }
    return p;
  };
  const std::string a = in + TempDir::kSeparator + "a.gif";
  const std::string frame = in + TempDir::kSeparator + "a_001.gif";
  EXPECT_EQ(FindCollision(plan({a, frame}, ""), ".gif"),
            "the frames of " + a + " would replace " + frame + ", also to be split");
  EXPECT_FALSE(FindCollision(plan({a, frame}, ""), ".bmp"));
#ifndef _WIN32
  // Through a linked folder: the same files, the same refusals.
  const std::string alias = dir.File("alias");
  fs::create_directory_symlink(in, alias);
  const std::string aliasFrame = alias + "/a_001.gif";
  EXPECT_EQ(FindCollision(plan({a, aliasFrame}, ""), ".gif"),
            "the frames of " + a + " would replace " + aliasFrame + ", also to be split");
  EXPECT_EQ(FindCollision(plan({a, frame}, alias), ".gif"),
            "the frames of " + a + " would replace " + frame + ", also to be split");
  EXPECT_EQ(FindCollision(plan({a, alias + "/a.gif"}, ""), ".gif"),
            a + " and " + alias + "/a.gif would both write a_NNN.gif into " + alias);
  // Names differing in case are two files here.
  WriteFile(in + "/A.gif", Bytes{1});
  EXPECT_FALSE(FindCollision(plan({a, in + "/A.gif"}, ""), ".gif"));
#else
  // Windows names ignore case: A.gif and a.gif write the same frames.
  const std::string upper = in + "\\A.gif";
  EXPECT_TRUE(FindCollision(plan({a, upper}, ""), ".gif"));
  EXPECT_TRUE(FindCollision(plan({a, in + "\\A_001.GIF"}, ""), ".gif"));
#endif
}

TEST(Inputs, ListsKeepWhatTheirSeparatorDoesNotCut) {
  std::vector<Input> inputs;
  AddList(std::string("a.gif\r\nb c.gif\n\nd.gif", 21), false, inputs);
  AddList(std::string("e.gif\r\0f\ng.gif\0\0", 16), true, inputs);
  std::vector<std::string> paths;
  for (const auto& in : inputs) paths.push_back(in.path);
  // A line list drops the CR before its LF; a NUL list keeps every byte.
  EXPECT_EQ(paths, (std::vector<std::string>{"a.gif", "b c.gif", "d.gif", "e.gif\r", "f\ng.gif"}));
}

#ifndef _WIN32
TEST(Inputs, AFolderThatCannotBeReadIsNamedAndTheRestIsWalked) {
  // Folders nested past the longest path the system opens (as root, no
  // permission stops a walk, but this does).
  TempDir dir;
  const std::string root = dir.File("tree");
  fs::create_directory(root);
  WriteFile(root + "/a.gif", Bytes{1});
  fs::create_directory(root + "/m");
  WriteFile(root + "/m/z.gif", Bytes{1});
  const int top = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top, 0);
  int at = top;
  const std::string name(250, 'd');
  for (int depth = 0; depth < 20; ++depth) {
    ASSERT_EQ(::mkdirat(at, name.c_str(), 0700), 0);
    const int next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    if (at != top) ::close(at);
    at = next;
  }
  ::close(at);
  ::close(top);
  std::vector<Input> inputs;
  std::vector<std::string> unreadable;
  ASSERT_FALSE(AddArguments({root}, true, inputs, unreadable));
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].path, root + "/a.gif");
  EXPECT_EQ(inputs[1].path, root + "/m/z.gif");
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_NE(unreadable[0].find(": cannot read"), std::string::npos) << unreadable[0];
  EXPECT_NE(unreadable[0].find("File name too long"), std::string::npos) << unreadable[0];
  // Nor can it be removed by its full paths: rm walks it folder by folder.
  EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}

TEST(Inputs, AListIsReadFromAnythingThatCanBeReadButAFolder) {
  std::string problem;
  EXPECT_EQ(ReadListText("/dev/null", problem), std::string());
  TempDir dir;
  EXPECT_FALSE(ReadListText(dir.path(), problem));
  EXPECT_EQ(problem, "a folder, not a list of files");
  EXPECT_FALSE(ReadListText(dir.File("none"), problem));
  EXPECT_EQ(problem, "cannot read: No such file or directory");
  // A pipe (--from <(find ...)).
  const std::string fifo = dir.File("list");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    (void)!::write(fd, "x.gif\n", 6);
    ::close(fd);
  });
  EXPECT_EQ(ReadListText(fifo, problem), std::string("x.gif\n"));
  writer.join();
}
#endif

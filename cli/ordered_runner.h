// Runs N tasks on up to J threads and hands their results over in the order
// of the tasks, on the calling thread, each as soon as it and every task
// before it are done: the listing of a run of several files is in the order
// of the files whatever finishes first, and comes while the run goes on.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

struct OrderedRun {
  std::size_t count = 0;
  unsigned jobs = 1;
  // Task i, on a worker thread (on the calling thread when no worker could
  // be started). `alongside` is how many tasks may run at the same time as
  // it starts, itself included: at most `jobs`, fewer among the last ones.
  // What it throws is handed to `failed` on the same thread.
  std::function<void(std::size_t i, unsigned alongside)> task;
  std::function<void(std::size_t i, const std::string& what)> failed;
  // On the calling thread, in the order of the tasks: task i is done, or
  // (`started` false) was never started because a stop was requested.
  std::function<void(std::size_t i, bool started)> deliver;
  // On the calling thread, about four times a second while it waits for
  // task `next`; may be empty.
  std::function<void(std::size_t next)> tick;
  // Called before each worker thread is started; tests make it throw what a
  // failed start throws. May be empty.
  std::function<void()> beforeStart;
};

// Returns once every task has been delivered and every worker joined, on
// every way out: what `deliver` or `tick` throws passes on after the workers
// have finished their tasks (no further task is started).
void RunInOrder(const OrderedRun& run);

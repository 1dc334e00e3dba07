#pragma once

#include <atomic>

// Work that runs on a WorkerThread and can be asked to stop.
//
// Run() executes on the worker thread and should return soon after
// IsStopRequested() turns true; the flag is the only state the worker and
// the controlling thread share, and it is atomic.
class ThreadTask {
 public:
  ThreadTask() = default;
  virtual ~ThreadTask() = default;

  ThreadTask(const ThreadTask&) = delete;
  ThreadTask& operator=(const ThreadTask&) = delete;

  // The work, on the worker thread.
  virtual void Run() = 0;

  bool IsStopRequested() const { return stopRequested.load(std::memory_order_acquire); }
  void SetStopRequested(bool requested) { stopRequested.store(requested, std::memory_order_release); }

 private:
  std::atomic<bool> stopRequested{false};
};

#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class ThreadTask;

// Runs one ThreadTask on a thread of its own, and stops it.
//
// The object outlives its threads and is reused: Start and Stop alternate,
// both called from one controlling thread (the user-interface thread, or the
// recorder's main thread). The task is not owned and may be null (the thread
// then ends at once); it must outlive every thread started for it.
//
// Stopping is cooperative: Stop sets the task's stop request and waits for
// Run() to return. POSIX has no safe way to end a thread from outside, so
// the timeout cannot end in a forced termination. Past the timeout, Stop
// goes on waiting until Run() has returned and only then returns: a thread
// never runs on after Stop, nor after the destructor, so it never touches a
// destroyed task. TimedOut() tells the caller afterwards that the task
// overran its timeout. A task that honours its stop request therefore never
// makes Stop hang; ServerStream makes sure that a blocked network call
// returns at once when it is closed.
class WorkerThread {
 public:
  WorkerThread() = default;
  explicit WorkerThread(ThreadTask* task) : task(task) {}
  // Stop(kDefaultTimeoutMs).
  ~WorkerThread();

  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  static constexpr int32_t kDefaultTimeoutMs = 5000;

  // Only while no thread exists.
  void SetTask(ThreadTask* newTask) { task = newTask; }

  // Clears the task's stop request and starts a thread running it. False
  // when a thread already exists (running or ended but not yet stopped), or
  // when the system cannot create one.
  bool Start();

  // Sets the stop request and waits until the thread has ended (see above).
  // False when there is no thread.
  bool Stop(int32_t timeoutMs = kDefaultTimeoutMs);

  // True from Start until Stop; also while Run() has returned but Stop has
  // not been called yet.
  bool HasThread() const { return thread.joinable(); }

  // Whether the last Stop had to wait past its timeout.
  bool TimedOut() const { return timedOut; }

 private:
  void Body();

  ThreadTask* task = nullptr;  // not owned; may be null
  std::thread thread;          // controlling thread only
  bool timedOut = false;       // controlling thread only

  std::mutex mutex;
  std::condition_variable ended;
  bool running = false;  // guarded by mutex: Run() has not returned yet
};

#pragma once

#include <pthread.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "base/Mutex.h"

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
//
// Stack: every thread gets StackBytes() of stack, set explicitly rather than
// inherited from RLIMIT_STACK (8 MiB on most systems). A recorder runs one
// worker per stream, and ten thousand 8 MiB reservations are 80 GB of
// address space that a strict overcommit policy refuses, for threads that
// touch a few dozen KiB of it. std::thread cannot be given a stack size,
// hence POSIX threads here.
//
// Lock: `mutex` guards `running` only; the thread takes it once as Run()
// returns, the controlling thread while Start and Stop wait for that. It is
// never held while the task runs.
//
// Scheduling: a program that runs thousands of workers (the recorder) may
// ask, before it starts any, that they run with timer slack and as batch
// threads (SetScheduling, process-wide); the window keeps the defaults.
class WorkerThread {
 public:
  // Enough for the deepest worker path (TLS handshakes in curl, decoding in
  // the silence cutter) several times over.
  static constexpr size_t kStackBytes = size_t{256} * 1024;
  static constexpr int32_t kDefaultTimeoutMs = 5000;

  WorkerThread() = default;
  explicit WorkerThread(ThreadTask* task) : task(task) {}
  // Stop(kDefaultTimeoutMs).
  ~WorkerThread();

  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // The stack size of every worker thread: kStackBytes, and four times that
  // in a sanitizer build, whose instrumented frames are much larger.
  static size_t StackBytes();

  // How every worker thread started from now on runs. Timer slack lets the
  // kernel fire a worker's timeouts (curl's one-second poll, the retry
  // delay) up to that much later, together with other threads' instead of
  // one wakeup each. Batch scheduling (SCHED_BATCH) keeps a waking worker
  // from preempting the one that runs: fewer context switches, at the cost
  // of a few milliseconds' latency that a socket buffer absorbs. Settings
  // the system refuses are left out.
  struct Scheduling {
    std::chrono::nanoseconds timerSlack{0};  // 0: as the starting thread's
    bool batch = false;
  };
  // Any thread; usually once, before the first Start.
  static void SetScheduling(const Scheduling& scheduling);
  static Scheduling CurrentScheduling();

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
  bool HasThread() const { return hasThread; }

  // Whether the last Stop had to wait past its timeout.
  bool TimedOut() const { return timedOut; }

 private:
  static void* Entry(void* self) noexcept;
  void Body();

  ThreadTask* task = nullptr;  // not owned; may be null
  pthread_t thread{};          // controlling thread only; valid while hasThread
  bool hasThread = false;      // controlling thread only
  bool timedOut = false;       // controlling thread only

  Mutex mutex;
  CondVar ended;
  bool running GUARDED_BY(mutex) = false;  // Run() has not returned yet
};

#pragma once

#include <deque>
#include <functional>
#include <thread>

#include "base/Mutex.h"

// Tears stopped streams down where waiting costs nobody anything. A stream
// whose stop has been requested may still be handing its last audio to a
// writer whose disk hangs; its owner must neither wait for it nor destroy
// what it reports to. The owner hands the stream and its observers over in
// one teardown (a function that owns them: it stops the stream, waiting for
// its worker, then destroys it and the observers, in that order), and goes
// on at once. Teardowns run one after another on the reaper's own thread,
// in the order they were handed over.
//
// Shutdown is two-phase: the owner requests every stop first, and the
// reaper's destructor (the process on its way out) runs what is still
// waiting, so every byte a stream received still reaches its files.
//
// Threads: Retire, WaitIdle and the destructor from the controlling thread;
// the teardowns run on the reaper's thread, started with the first Retire.
// A teardown that throws is dropped silently (destructors do not throw).
//
// Lock: `mutex` guards the queue and the two flags; the reaper's thread
// takes it between teardowns, the controlling thread to hand one over or to
// wait. It is never held while a teardown runs.
class StreamReaper {
 public:
  StreamReaper() = default;
  // Runs every teardown still waiting, then joins the thread.
  ~StreamReaper();

  StreamReaper(const StreamReaper&) = delete;
  StreamReaper& operator=(const StreamReaper&) = delete;

  // Queues teardown and returns at once.
  void Retire(std::function<void()> teardown) EXCLUDES(mutex);
  // Waits until every teardown handed over so far has run.
  void WaitIdle() EXCLUDES(mutex);

 private:
  void Loop() EXCLUDES(mutex);

  Mutex mutex;
  CondVar changed;  // a teardown was queued or has run, or the reaper is ending
  std::deque<std::function<void()>> waiting GUARDED_BY(mutex);
  bool busy GUARDED_BY(mutex) = false;    // a teardown is running
  bool ending GUARDED_BY(mutex) = false;  // the destructor has begun

  std::thread thread;  // controlling thread only; started by the first Retire
};

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteCounter.h"
#include "base/Mutex.h"
#include "stream/StreamEvent.h"
#include "stream/StreamObserver.h"
#include "stream/StreamState.h"
#include "stream/ThreadTask.h"
#include "stream/WorkerThread.h"

class StreamBuffer;

// The network-free base of a stream: its observers and the lock that
// serialises every call into them, the two byte counters, the current title,
// the connection state, the read size and read buffer, and the worker thread
// that runs Run().
//
// Threads: AddObserver, ClearObservers, SetReadSize, StartWorker, StopWorker
// and Reset run on the controlling (user-interface) thread; AddObserver,
// ClearObservers and Reset only while no worker runs, since the worker may
// sit in an observer (a disk write) for as long as the disk takes. The
// protected notifications run on whichever thread raised the event,
// normally the worker. GetState may be read from any thread; StoreState
// changes it from any thread without calling anyone.
//
// Lock: observerLock guards observers, currentTitle and the counters, and
// is held for the whole of each notification, so the observers see one
// event at a time, in order. Because it is held across observer calls, a
// thread that must not wait for a disk (the controlling thread while a
// worker runs) never takes it. A derived class that holds a lock of its own
// while notifying takes it before observerLock. Every lock is released on
// every path, also when an observer throws; the error passes on to the
// caller.
//
// A derived class must call StopWorker() in its own destructor: by the time
// this base's destructor runs, the derived part that Run() uses is gone.
class StreamSource : public ThreadTask {
 public:
  static constexpr int32_t kDefaultReadSize = 50000;

  // State Disconnected, counters 0, no title, no observers, worker idle.
  StreamSource();
  // Stops the worker, forgets the observers (without destroying them), resets.
  ~StreamSource() override;

  // Back to Disconnected with zero counters, no title and no read buffer. The
  // read size stays.
  virtual void Reset();
  // Starts or stops the stream; nothing here.
  virtual void Toggle() {}

  // Adds an observer behind the earlier ones; not owned, must not be null
  // (false then). Before the stream first starts.
  bool AddObserver(StreamObserver* observer) EXCLUDES(observerLock);
  // Forgets every observer; none is destroyed.
  void ClearObservers() EXCLUDES(observerLock);

  StreamState GetState() const { return state.load(std::memory_order_acquire); }

  // Bytes asked for per read; 0 or less means kDefaultReadSize.
  void SetReadSize(int32_t bytes);
  int32_t ReadSize() const { return readSize.load(std::memory_order_acquire); }

 protected:
  // Stores the state, then announces its text as a State event.
  void SetState(StreamState newState) EXCLUDES(observerLock);
  // Stores the state without announcing it: for a thread that must not wait
  // for the observers. Whoever notifies next announces it.
  void StoreState(StreamState newState) { state.store(newState, std::memory_order_release); }

  // Calls OnText(kind, text) on every observer in order. A Title that
  // differs from the current one first resets `received` (announcing the
  // counters) unless the current title was empty, and becomes the current
  // title. Equal titles still reach the observers.
  void Notify(StreamEvent kind, const std::string& text) EXCLUDES(observerLock);
  // Announces Received, then ReceivedComplete, to every observer in order.
  void NotifyCounters() EXCLUDES(observerLock);
  // Counts the bytes, announces the counters, then lends the buffer to every
  // observer's OnAudio in order. Nothing for null.
  void DeliverAudio(const StreamBuffer* buffer) EXCLUDES(observerLock);
  // Tells every observer, in order, that the audio of one read has all been
  // delivered (OnReadEnd).
  void EndRead() EXCLUDES(observerLock);

  // Replaces the read buffer with one of ReadSize() bytes; false when memory
  // runs out.
  bool AllocateReadBuffer();
  void FreeReadBuffer();
  // The read buffer, or null when none is allocated.
  uint8_t* ReadBuffer() { return readBuffer.get(); }

  // The worker's Start and Stop (timeout 5000 ms).
  bool StartWorker();
  bool StopWorker();

  // The base reset, for derived Reset overrides to call last.
  void ResetSource() EXCLUDES(observerLock);

 private:
  void NotifyCountersLocked() REQUIRES(observerLock);

  Mutex observerLock;
  ByteCounter received GUARDED_BY(observerLock);          // bytes since the current title began
  ByteCounter receivedComplete GUARDED_BY(observerLock);  // bytes since the last reset
  std::string currentTitle GUARDED_BY(observerLock);
  std::vector<StreamObserver*> observers GUARDED_BY(observerLock);  // not owned

  // Shared between threads without a lock.
  std::atomic<StreamState> state{StreamState::Disconnected};
  std::atomic<int32_t> readSize{kDefaultReadSize};

  // Worker thread only while it runs; controlling thread otherwise.
  std::unique_ptr<uint8_t[]> readBuffer;

  // Last, so that it is destroyed first.
  WorkerThread worker{this};
};

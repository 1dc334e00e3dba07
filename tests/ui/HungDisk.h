#pragma once

#include <unistd.h>

#include <chrono>

#include "base/Mutex.h"

// A disk whose writes wait until released (RecordingWriter::
// SetWriteFunction). A write gives up waiting after kLongestHang, so that a
// window that waited for it ends its test instead of hanging the suite, and
// says so (GaveUp): only a window that waited for the write can see one that
// gave up. Released at the latest when it goes, so that a failing test still
// ends its recording.
//
// Lock: `mutex` guards every field; the writing worker and the test's
// thread take it.
class HungDisk {
 public:
  static constexpr std::chrono::seconds kLongestHang{10};
  ~HungDisk() { Release(); }

  ssize_t Write(int fd, const void* data, size_t size) EXCLUDES(mutex) {
    {
      MutexLock lock(mutex);
      blocked = true;
      ++waiting;
      const auto deadline = std::chrono::steady_clock::now() + kLongestHang;
      while (!open && released.WaitUntil(mutex, deadline)) {
      }
      gaveUp = gaveUp || !open;
      --waiting;
    }
    return ::write(fd, data, size);
  }
  // A write has started waiting.
  bool Blocked() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    return blocked;
  }
  // A write stopped waiting before Release.
  bool GaveUp() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    return gaveUp;
  }
  // A write waits now, and none has given up waiting.
  bool StillHung() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    return waiting > 0 && !gaveUp;
  }
  void Release() EXCLUDES(mutex) {
    {
      MutexLock lock(mutex);
      open = true;
    }
    released.NotifyAll();
  }

 private:
  Mutex mutex;
  CondVar released;
  bool blocked GUARDED_BY(mutex) = false;
  int waiting GUARDED_BY(mutex) = 0;
  bool open GUARDED_BY(mutex) = false;
  bool gaveUp GUARDED_BY(mutex) = false;
};

#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

// A disk whose writes wait until released (RecordingWriter::
// SetWriteFunction). A write that has waited kLongestHang goes through and
// is marked, so that a window frozen by it fails its test instead of hanging
// the suite; the destructor releases, so that a failing test still ends its
// recording. Any thread.
class HungDisk {
 public:
  static constexpr std::chrono::seconds kLongestHang{10};
  ~HungDisk() { Release(); }

  ssize_t Write(int fd, const void* data, size_t size) {
    {
      std::unique_lock lock(mutex);
      blocked = true;
      ++waiting;
      if (!released.wait_for(lock, kLongestHang, [this] { return open; })) {
        gaveUp = true;
      }
      --waiting;
    }
    return ::write(fd, data, size);
  }
  // A write has waited for the disk.
  bool Blocked() {
    std::lock_guard lock(mutex);
    return blocked;
  }
  // A write waits now, and none has given up waiting.
  bool StillHung() {
    std::lock_guard lock(mutex);
    return waiting > 0 && !gaveUp;
  }
  void Release() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    released.notify_all();
  }

 private:
  std::mutex mutex;
  std::condition_variable released;
  bool blocked = false;  // guarded by mutex
  int waiting = 0;       // guarded by mutex
  bool open = false;     // guarded by mutex
  bool gaveUp = false;   // guarded by mutex
};

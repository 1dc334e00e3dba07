#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

// Owns one POSIX file descriptor (-1: none) and closes it when it goes away.
// The program's only owner of descriptors: whoever needs to know whether a
// close failed (a file being written, whose last write-back may fail only
// then) calls Close; whoever hands a descriptor on moves the UniqueFd.
// Movable, not copyable. Not thread-safe.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd(fd) {}
  ~UniqueFd() { Reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset(std::exchange(other.fd, -1));
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }
  void Reset(int newFd = -1) {
    if (fd >= 0) {
      ::close(fd);
    }
    fd = newFd;
  }
  // Closes now: 0, or the errno of close(). On Linux the descriptor is gone
  // even when close() fails, so it is never retried. 0 when none is held.
  int Close() {
    if (fd < 0) {
      return 0;
    }
    const int result = ::close(std::exchange(fd, -1));
    return result == 0 ? 0 : errno;
  }

 private:
  int fd = -1;
};

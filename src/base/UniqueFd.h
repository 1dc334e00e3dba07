#pragma once

#include <unistd.h>

#include <utility>

// Owns one POSIX file descriptor (-1: none) and closes it when it goes away.
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

 private:
  int fd = -1;
};

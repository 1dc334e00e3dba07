#pragma once

#include <sys/resource.h>

#include <csignal>

// Lowers this process's file size limit while it lives, with SIGXFSZ
// ignored, so that writes past the limit fail with EFBIG — also for root,
// whom permissions do not stop. Not thread-safe: the limit is process-wide.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previousHandler(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit lowered = previous;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
  }

  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  void (*previousHandler)(int);
  rlimit previous{};
};

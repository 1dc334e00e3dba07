#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

#include "base/UniqueFd.h"

// A new file that is to take another file's place: created next to it by
// the caller (who chooses its name), written, then renamed over the other
// file in one step. Until that rename succeeds the file is removed again
// when the object goes away, so that no half-written copy is ever left
// beside the file it was meant to replace.
//
// Owns the new file's descriptor, and its name until the rename. Failures
// come back as the errno they had, for the caller to word. Not thread-safe.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() {
    fd.Reset();
    if (!path.empty() && !committed) {
      ::unlink(path.c_str());
    }
  }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Takes over the file the caller has just created at createdPath.
  void Adopt(UniqueFd created, std::string createdPath) {
    fd = std::move(created);
    path = std::move(createdPath);
  }

  bool IsOpen() const { return fd.Valid(); }
  int Fd() const { return fd.Get(); }
  const std::string& Path() const { return path; }

  // Writes all size bytes: 0, or the errno of the failure (EIO when the
  // system wrote nothing without saying why).
  int Write(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(fd.Get(), data, size);
      if (written < 0 && errno == EINTR) {
        continue;
      }
      if (written <= 0) {
        return written < 0 ? errno : EIO;
      }
      data += written;
      size -= static_cast<size_t>(written);
    }
    return 0;
  }

  // Closes the descriptor: 0, or the errno of a close that failed (it may
  // be the write-back's late error).
  int Close() { return fd.Close(); }

  // Renames the file over target: 0, or the errno. Once renamed, the file
  // is target's and stays.
  int RenameOver(const std::string& target) {
    if (std::rename(path.c_str(), target.c_str()) != 0) {
      return errno;
    }
    committed = true;
    return 0;
  }

 private:
  UniqueFd fd;
  std::string path;
  bool committed = false;
};

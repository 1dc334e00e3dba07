#include "recording/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "recording/NameNumbers.h"
#include "recording/RecordingName.h"

int OutputFile::Create(const std::string& base, const std::string& newExtension, std::string& triedPath) {
  Close();
  RecordingName::Claim claim;
  claim.take = [this](const std::string& candidate) {
    // O_EXCL: never truncate or write through whatever is under the name,
    // also what appeared a moment ago. Read access lets a reconnect compare
    // the file's end with the new audio.
    fd.Reset(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    return fd.Valid() ? 0 : errno;
  };
  const int error = RecordingName::ClaimFreePath(base, "." + newExtension, claim, triedPath, kMaxCreateAttempts,
                                                 NameNumbers::Shared());
  if (error != 0) {
    return error;
  }
  path = triedPath;
  extension = newExtension;
  bytes = 0;
  return 0;
}

std::string OutputFile::Name() const { return std::filesystem::path(path).filename().string(); }

int OutputFile::Write(const uint8_t* data, size_t size) {
  if (gathering && gathered.size() + size <= kGatherBytes) {
    gathered.insert(gathered.end(), data, data + size);
    bytes += static_cast<int64_t>(size);
    return 0;
  }
  if (const int error = Flush(); error != 0) {
    return error;
  }
  return WriteAll(data, size);
}

int OutputFile::Flush() {
  if (gathered.empty()) {
    return 0;
  }
  // Counted when they were gathered, written or not.
  const int64_t counted = bytes;
  const int error = WriteAll(gathered.data(), gathered.size());
  bytes = counted;
  gathered.clear();
  return error;
}

int OutputFile::SetGathering(bool on) {
  gathering = on;
  if (on) {
    gathered.reserve(kGatherBytes);
    return 0;
  }
  return Flush();
}

int OutputFile::WriteAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = writeFunction ? writeFunction(fd.Get(), data, size) : ::write(fd.Get(), data, size);
    if (written <= 0) {
      const int error = written < 0 ? errno : EIO;
      if (error == EINTR) {
        continue;
      }
      return error;
    }
    data += written;
    size -= static_cast<size_t>(written);
    bytes += written;
  }
  return 0;
}

std::string OutputFile::ReadTail(size_t maxBytes) {
  if (Flush() != 0 || !fd.Valid() || bytes <= 0) {
    return {};
  }
  const auto want = static_cast<size_t>(std::min<int64_t>(bytes, static_cast<int64_t>(maxBytes)));
  std::string tail(want, '\0');
  size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(fd.Get(), tail.data() + done, want - done,
                              static_cast<off_t>(bytes - static_cast<int64_t>(want) + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return {};
    }
    done += static_cast<size_t>(n);
  }
  return tail;
}

UniqueFd OutputFile::Release(int* flushError) {
  const int error = Flush();
  if (flushError != nullptr) {
    *flushError = error;
  }
  UniqueFd released = std::move(fd);
  Forget();
  return released;
}

int OutputFile::Close() {
  const int flushError = Flush();
  const int error = fd.Close();
  Forget();
  return flushError != 0 ? flushError : error;
}

void OutputFile::Forget() {
  gathered.clear();
  fd.Reset();
  path.clear();
  bytes = 0;
}

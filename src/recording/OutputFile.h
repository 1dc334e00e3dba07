#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"

// The recording a writer has open: a file created where no name was taken,
// its descriptor (a UniqueFd, which closes it), its path, its extension and
// the bytes written to it so far. The audio goes in exactly as it comes.
// While gathering (SetGathering), Write keeps what it is given, up to
// kGatherBytes, and Flush writes it in one call: the writer gathers the
// blocks of one network read and flushes at the read's end, so a fast
// stream costs one write() per read rather than one per block. Release,
// Close and ReadTail flush first.
//
// Owns the descriptor until Release hands it on (to the FileSyncer, which
// closes it after its sync). Not thread-safe: the RecordingWriter uses it
// under its own lock. Not copyable.
class OutputFile {
 public:
  // Names that looked free but were taken by someone else before us, at
  // most, before Create gives up with EEXIST.
  static constexpr int kMaxCreateAttempts = 100;
  // Gathered bytes at most; a block that would go past it is written at once.
  static constexpr size_t kGatherBytes = size_t{256} * 1024;

  // Replaces ::write (tests: a disk that blocks or fails); null: ::write.
  using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void SetWriteFunction(WriteFunction function) { writeFunction = std::move(function); }

  // Creates base + "." + extension, or the first free "(n)" form of it
  // (RecordingName::ClaimFreePath: two tries per file however many of the
  // title there are), readable and writable, never over anything that
  // exists: not even a name that appeared since we looked.
  // Closes the file held before. 0 on success; otherwise the errno, and
  // triedPath names the file that failed.
  int Create(const std::string& base, const std::string& extension, std::string& triedPath);
  bool IsOpen() const { return fd.Valid(); }
  // The open file's path; "" while none is open.
  const std::string& Path() const { return path; }
  // The file name part of Path.
  std::string Name() const;
  // The open file's extension, without the dot.
  const std::string& Extension() const { return extension; }
  int64_t Bytes() const { return bytes; }
  // The descriptor, for a sync of the open file; stays ours.
  int Fd() const { return fd.Get(); }

  // Writes all size bytes: one write() call, more only where the kernel cut
  // one short; while gathering, keeps them for Flush when they fit. 0, or
  // the errno of the failed write (EIO for one that wrote nothing); Bytes
  // counts what went in either way, gathered bytes included.
  int Write(const uint8_t* data, size_t size);
  // Writes what was gathered: 0, or the errno of the failed write (the
  // bytes are dropped then, as a failed Write's are).
  int Flush();
  // Whether Write gathers; turning it off flushes.
  int SetGathering(bool on);
  // The file's last bytes, at most maxBytes of them, after a Flush; "" when
  // they cannot be read.
  std::string ReadTail(size_t maxBytes);

  // Flushes, hands the descriptor on and forgets the file; a failed flush
  // gives its errno in flushError (may be null).
  UniqueFd Release(int* flushError = nullptr);
  // Flushes and closes the file: 0, or the errno of the flush or of close()
  // (a late write-back error).
  int Close();

 private:
  void Forget();
  int WriteAll(const uint8_t* data, size_t size);

  UniqueFd fd;
  std::string path;
  std::string extension;
  int64_t bytes = 0;
  WriteFunction writeFunction;
  bool gathering = false;
  std::vector<uint8_t> gathered;
};

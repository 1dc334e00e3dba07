#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "stream/StreamBuffer.h"
#include "stream/StreamObserver.h"

// Turns one server entry's audio and title events into MP3 files in the
// entry's download directory. The audio bytes are written exactly as they
// arrive, one write call per block, with no header, tag or buffering of our
// own. Files are named after the stream titles: directory + '/' + title +
// optional "(n)" + ".mp3", "(n)" counting up from 1 past names already taken.
//
// File Splitting on: every new title starts a new file at the next audio
// block, and the empty title a stream announces when it stops closes the file
// at once. Smart Splitting on (with File Splitting on): the first block after a
// title change ends the old file and also begins the new one. File Splitting
// off: the first non-empty title names one file that receives everything,
// including the audio held from before that title; it closes when the writer
// goes away.
//
// Title to file name: titles are bytes and are never re-encoded. '/' and the
// control bytes below 0x20 become '_'; a title longer than kMaxStemBytes is cut
// there (never inside a UTF-8 sequence) so that title, "(n)" and ".mp3" fit in
// the 255 bytes a Linux file name may have. Since ".mp3" always follows, a name
// is never "." or "..", and a title can never leave the download directory. An
// empty title means "no title": it never names a file.
// A missing download directory is created, with its parents, before the first
// file in it. An empty directory means the current working directory.
//
// Existing names are never reused: a file is created only where nothing
// (file, directory, symlink, even a dangling one) exists, so an earlier
// recording is never truncated.
//
// Audio before the first title (pendingAudio) is held only while File
// Splitting is off, since with it on that audio is discarded when the first
// title arrives anyway. At most kMaxPendingAudio bytes are held: when more
// arrive, the oldest go, so that the file starts with the newest audio and
// runs on without a gap. An empty buffer holds no memory.
//
// Failures: a file that cannot be created is not an exception; the writer
// drops audio until the next file switch and keeps the path and the system's
// reason for LastError(). A failed write raises std::system_error out of
// OnAudio/OnText (the stream's worker catches it and reconnects); the failed
// block is lost, the file stays open and writing resumes with the next block.
// The reason is kept for LastError() as well.
//
// Threads: the stream's worker calls OnAudio and OnText (with the stream's
// observer lock held); the user-interface thread constructs and destroys the
// writer and calls the setters and getters. Every member function takes
// `lock`, which guards every field below; it is re-entrant because OnText
// calls OnAudio. Lock order: the stream's locks before `lock`.
class RecordingWriter : public StreamObserver {
 public:
  // Most audio held while no file exists yet: 128 KiB, about 8 seconds at
  // 128 kbit/s. Stations announce a title within their first metadata
  // interval, so this only bounds stations that never do.
  static constexpr int32_t kMaxPendingAudio = 128 * 1024;
  // Longest title part of a file name, in bytes: 255 less ".mp3" and the
  // longest "(n)" suffix, "(2147483647)".
  static constexpr size_t kMaxStemBytes = 255 - 4 - 12;

  // Why the last file could not be created or written.
  struct FileError {
    std::string path;    // the file (or its directory) that failed
    std::string reason;  // the system's text, e.g. "Permission denied"
  };

  // Empty directory, no title, both switches on, no file.
  RecordingWriter();
  // Resets, which closes an open file; held audio is discarded.
  ~RecordingWriter() override;

  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Back to the state after construction, closing an open file and
  // discarding held audio. The title waiting for the next block stays.
  void Reset() override;
  // One audio block: written to the open file, held, or dropped (see above).
  // Throws std::system_error when a write fails.
  void OnAudio(const StreamBuffer& audio) override;
  // Title events choose the file for the next block; all other kinds are
  // ignored. May close a file at once, and throw like OnAudio.
  void OnText(StreamEvent kind, std::string text) override;

  // The download directory; takes effect at the next file. Returns true.
  bool SetDirectory(const std::string& path);
  std::string Directory() const;
  // The switches take effect at the next title event or file switch.
  void SetFileSplitting(bool on);
  bool FileSplitting() const;
  void SetSmartSplitting(bool on);
  bool SmartSplitting() const;

  // The last failure to create or write a file, until the next file is
  // created; nullopt when there is none.
  std::optional<FileError> LastError() const;

  // base + extension if nothing exists under that name, otherwise the first
  // free base + "(n)" + extension for n = 1, 2, ...
  static std::string MakeUniquePath(const std::string& base, const std::string& extension);
  // The file name part for a non-empty title (see the title rules above).
  static std::string FileStem(const std::string& title);

 private:
  // One open POSIX file descriptor, closed when the holder goes.
  class OutputFile {
   public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Takes over fd, closing the one held before.
    void Reset(int fd);
    // Closes the descriptor; returns 0 or the errno of close().
    int Close();
    bool IsOpen() const { return fd >= 0; }
    int Get() const { return fd; }

   private:
    int fd = -1;
  };

  // Closes the file and makes the switch to pendingTitle (file switch).
  void SwitchFile(const StreamBuffer& audio);
  // Creates the file for currentTitle; on failure records the reason.
  bool CreateFile();
  void CloseFile();
  // Writes the whole block; throws std::system_error on failure.
  void Write(const StreamBuffer& audio);
  // Adds a block to pendingAudio, keeping at most kMaxPendingAudio bytes.
  void HoldAudio(const StreamBuffer& audio);
  void RecordError(const std::string& path, int error);

  mutable std::recursive_mutex lock;
  // All guarded by lock.
  std::string directory;
  std::string currentTitle;  // title of the open file, or of the failed one
  std::string pendingTitle;  // title for which the next block opens a file
  bool smartSplitting = true;
  bool fileSplitting = true;
  StreamBuffer pendingAudio;  // empty while a file is open
  OutputFile file;
  std::string filePath;  // path of the open file
  bool openFailed = false;
  std::optional<FileError> lastError;
};

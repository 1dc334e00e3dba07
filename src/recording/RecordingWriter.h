#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "recording/FileSyncer.h"
#include "recording/RecordingOptions.h"
#include "recording/ShowFile.h"
#include "stream/StreamObserver.h"

class ReconnectJoin;
class StreamBuffer;

// Turns one server entry's audio and title events into audio files in the
// entry's download directory. The audio bytes are written exactly as they
// arrive, one write call per block, with no header, tag or buffering of our
// own. Files are named after the stream titles: directory + '/' + title +
// optional "(n)" + "." + the format's extension ("mp3", "aac", "ogg",
// "opus", from the stream's Format event), "(n)" counting up from 1 past
// names already taken.
//
// File Splitting on: every new title starts a new file at the next audio
// block. Audio under no title or an empty title goes into a file named after
// the station (the stream's Station event), its own file between the titled
// ones; an empty title closes a titled file at once. Smart Splitting on (with
// File Splitting on): the first block after a title change ends the old file
// and also begins the new one (not for Ogg, whose songs begin at an exact
// page of their own). File Splitting off: the first title (the
// station's name when it is empty) names one file that receives everything;
// it closes when the writer goes away. When the stream stops (its last event
// is an empty Title while it is no longer connected) the file is closed,
// with File Splitting on.
//
// Gaps: a Gap event (audio the source reports lost, an HLS segment that left
// its playlist) closes the open file at once; the next block starts another,
// "(n)" under the same title.
//
// Reconnects: when a new response begins (Format) while a file is open and
// its audio stays in that file (same title), the audio is compared with the
// file's last bytes, read back from the file (ReconnectJoin): a burst the
// server repeats is skipped, so the file goes on without a doubled or
// spliced byte; audio that does not continue the file (a gap, or another
// format) goes into a new "(n)" file instead. TakeNotes tells which happened.
//
// Title to file name: titles are bytes; bytes that are not valid UTF-8 are
// read as Windows-1252 and written in UTF-8, so every name is valid UTF-8
// (ByteText::ToUtf8; the download directory likewise). '/' and the control
// characters become '_', and so does a leading '.', which would hide the file.
// A title longer than kMaxStemBytes is cut there (never inside a UTF-8
// sequence) so that title, "(n)" and the extension fit in the 255 bytes a
// Linux file name may have. A name is never "." or "..", and a title can never
// leave the download directory. A missing download directory is created, with
// its parents, before the first file in it. An empty directory means the
// current working directory.
//
// Existing names are never reused: a file is created only where nothing
// (file, directory, symlink, even a dangling one) exists, so an earlier
// recording is never truncated.
//
// Durability: with a FileSyncer installed, every file is synced to the disk
// when it is closed, its directory after it was created, and while it is
// open at most every sync interval (default 10 s, the first one at a random
// point of the interval, so that many streams do not sync all at once). The
// syncer's own thread does it: no write, no lock and no worker waits for the
// disk. A failed sync shows in LastError.
//
// Songs: with the tags option, a file is tagged when it is closed
// (AudioTagger: artist and title from the stream title, the station as
// album, the URL as comment, the date). With the option to keep partial songs
// apart (and File Splitting on), a file that does not hold a whole song — the
// first file of a connection, a file closed by a stop or a lost connection,
// and one shorter than the minimum length (when the bit rate is known) — is
// moved into incomplete/ inside the download directory when it is closed.
// Both happen on the syncer's thread, or at once without a syncer.
//
// Shows: from BeginShow to EndShow the files belong to one show (ShowFile).
// With the show's title splitting off, one file "SHOW YYYY-MM-DD HHMM.EXT"
// in the download directory receives everything, whatever the entry's own
// switch says; with it on, files by title as usual, in a folder of that
// name. Tags name the show as album and carry its date. A show's one file
// that misses its beginning (joined late) or its end (EndShow(false)) goes
// into incomplete/, whatever the partial-songs option says.
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
// writer and calls the setters and getters. Two locks: `lock` (re-entrant,
// since OnText calls OnAudio) guards the recording state and is held across
// disk writes and file creation; only the stream's calls and Reset take it.
// `shared` guards the settings and what the writer publishes (its last error,
// its notes, the file it writes) and is never held across a system call: the
// setters and getters take only `shared`, so the window never waits for a
// slow or hung disk. Lock order: the stream's locks, `lock`, `shared`. The
// counters are atomics.
class RecordingWriter : public StreamObserver {
 public:
  // Longest title part of a file name, in bytes: 255 less the longest
  // extension ".opus" and the longest "(n)" suffix, "(2147483647)".
  static constexpr size_t kMaxStemBytes = 255 - 5 - 12;
  // At most this many notes wait for TakeNotes; older ones go.
  static constexpr size_t kMaxNotes = 16;
  static constexpr int32_t kDefaultSyncIntervalSeconds = 10;
  // The extension files get before the stream names a format.
  static constexpr const char* kDefaultExtension = "mp3";

  // Why the last file could not be created or written.
  struct FileError {
    std::string path;    // the file (or its directory) that failed
    std::string reason;  // the system's text, e.g. "Permission denied"
  };

  // Empty directory, no title, both switches on, no file.
  RecordingWriter();
  // Resets, which closes an open file.
  ~RecordingWriter() override;

  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Back to the state after construction, closing an open file (audio held
  // while a reconnect is decided is written first). The title waiting for
  // the next block stays.
  void Reset() override;
  // One audio block: written to the open file, or to a new one, or dropped
  // while no file can be created (see above). Throws std::system_error when
  // a write fails.
  void OnAudio(const StreamBuffer& audio) override;
  // Title, Format, Station and State events steer the files; all other kinds
  // are ignored. May close a file at once, and throw like OnAudio.
  void OnText(StreamEvent kind, std::string text) override;

  // The download directory; takes effect at the next file. Returns true.
  bool SetDirectory(const std::string& path);
  std::string Directory() const;
  // The switches take effect at the next title event or file switch.
  void SetFileSplitting(bool on);
  bool FileSplitting() const;
  void SetSmartSplitting(bool on);
  bool SmartSplitting() const;

  // Cutting, tags and partial songs (RecordingOptions); takes effect at the
  // next file. With cutAtSilence on, the SilenceCutter in front of the writer
  // places the cuts and Smart Splitting's overlap is not applied.
  void SetRecordingOptions(const RecordingOptions& options);
  RecordingOptions Options() const;
  // The entry's URL, for the tags.
  void SetSourceUrl(const std::string& url);

  // Seconds between syncs of the open file; 0 syncs only when it is closed.
  // Takes effect at the next file.
  void SetSyncInterval(int32_t seconds);
  int32_t SyncInterval() const;

  // The last failure to create, write, sync or close a file, until the next
  // file is created; nullopt when there is none.
  std::optional<FileError> LastError() const;
  // What happened at reconnects since the last call, oldest first
  // ("reconnected: 29200 repeated bytes skipped, Song.mp3 goes on").
  std::vector<std::string> TakeNotes();
  // Audio bytes written to files since construction. Any thread.
  int64_t BytesWritten() const { return bytesWritten.load(std::memory_order_relaxed); }
  // Files created since construction. Any thread.
  int64_t FilesWritten() const { return filesWritten.load(std::memory_order_relaxed); }
  // Files that could not be created, writes and syncs that failed, since
  // construction. Any thread.
  int64_t WriteErrors() const { return writeErrors.load(std::memory_order_relaxed); }

  // Replaces ::write for this writer's files (tests: a disk that blocks or
  // fails). Before the stream starts.
  using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;
  void SetWriteFunction(WriteFunction function);
  // The file being written, "" while none is open.
  std::string CurrentPath() const;

  // The next file starts the show; the open one closes now (audio held for
  // a reconnect written first). The controlling thread calls both; they
  // take `lock`, so they wait for a write in progress.
  void BeginShow(const ShowFile& show);
  // The show's file closes now; whole: it ended as planned (else it counts
  // as partial). Files after it are the entry's own again.
  void EndShow(bool whole);

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
    // Gives the descriptor up without closing it; -1 when none is held.
    int Release();
    // Closes the descriptor; returns 0 or the errno of close().
    int Close();
    bool IsOpen() const { return fd >= 0; }
    int Get() const { return fd; }

   private:
    int fd = -1;
  };

  // What the open file's finish needs to know, fixed when it was created.
  struct FileFacts {
    std::string title;    // "" for untitled audio
    std::string station;
    std::string date;     // "YYYY-MM-DD", local time
    bool startsPartial = false;  // the first file of a connection, or after a gap
    bool interrupted = false;    // the connection was lost while it was open
    bool showFile = false;       // the one file of a show
    bool showPartial = false;    // ...which misses its beginning or its end
  };

  // Closes the file and makes the switch to pendingTitle (file switch).
  void SwitchFile(const StreamBuffer& audio);
  // Creates the file for currentTitle; on failure records the reason.
  bool CreateFile();
  void CloseFile();
  // Tags and filing under incomplete/ for the file being closed, as the
  // options ask.
  FileSyncer::Finish MakeFinish() const;
  // Hands the open file to the syncer when its interval has passed.
  void SyncWhenDue();
  // Writes size bytes; throws std::system_error on failure.
  void Write(const uint8_t* data, size_t size);
  void Write(const StreamBuffer& audio);
  // A reconnect's audio while its join is undecided.
  void JoinAudio(const StreamBuffer& audio);
  // Ends a join in progress as the held audio says (final: no more of that
  // connection's audio comes).
  void SettleJoin(bool final);
  // Writes what the join decided: the new part after an overlap, or a new
  // file with all of it after a gap.
  void ApplyJoin(bool overlap);
  // The file's last bytes, for a join; "" when they cannot be read.
  std::string ReadTail() const;
  void RecordError(const std::string& path, int error);
  void Note(std::string text);
  std::string FileName() const;
  // Whether titles start files: the show's choice while one is on, else
  // the entry's File Splitting. Under lock.
  bool SplittingTitles() const;

  template <typename T>
  T Shared(const T& field) const {
    std::lock_guard<std::mutex> guard(shared);
    return field;
  }

  mutable std::recursive_mutex lock;
  mutable std::mutex shared;

  // Settings and what the writer publishes; guarded by shared.
  std::string directory;
  bool smartSplitting = true;
  bool fileSplitting = true;
  RecordingOptions options;
  std::string sourceUrl;
  std::chrono::seconds syncInterval{kDefaultSyncIntervalSeconds};
  std::optional<FileError> lastError;
  std::vector<std::string> notes;
  std::string shownPath;  // the open file, for CurrentPath

  // The recording state; guarded by lock.
  std::string extension = kDefaultExtension;  // of the next file
  std::string stationName;   // names untitled files
  std::string currentTitle;  // title of the open file ("": untitled), or of the failed one
  std::string pendingTitle;  // title for which the next block opens a file
  bool streaming = false;  // between a response's Format and the next state change
  OutputFile file;
  std::string filePath;       // path of the open file
  std::string fileExtension;  // extension of the open file
  int64_t fileBytes = 0;      // bytes in the open file
  bool openFailed = false;
  bool joinPending = false;  // a new response began while the file was open
  std::unique_ptr<ReconnectJoin> join;  // deciding a reconnect; null otherwise
  std::chrono::steady_clock::time_point nextSync;  // of the open file
  std::minstd_rand syncJitter;
  FileFacts facts;              // of the open file
  bool responseFresh = false;   // no audio of the current response has been filed yet
  bool continuing = false;      // connected again without a Format: the open file goes on
  std::string gapNote;          // what a Gap closed, for the note of the file after it
  int32_t bitrateKbps = 0;      // from the Bitrate event; 0: unknown
  WriteFunction writeFunction;  // null: ::write
  std::optional<ShowFile> show;  // the show being recorded; nullopt: none

  // Shared with the syncer's queue, which may outlive the writer.
  const std::shared_ptr<SyncReport> syncReport;

  std::atomic<int64_t> bytesWritten{0};
  std::atomic<int64_t> filesWritten{0};
  std::atomic<int64_t> writeErrors{0};
};

#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "recording/FileSyncer.h"
#include "recording/OutputFile.h"
#include "recording/RecordingName.h"
#include "recording/RecordingOptions.h"
#include "recording/ShowFile.h"
#include "recording/SongFinish.h"
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
// ones; an empty title closes a titled file at once (at the next block when
// Smart Splitting's overlap applies). Smart Splitting on (with File
// Splitting on): the first block after any title change, the empty one
// included, ends the old file and also begins the new one (not for Ogg,
// whose songs begin at an exact page of their own, and never with the first
// block of a new response: that audio comes from after a dropped
// connection, and the file holds what came before it). File Splitting off:
// the first title (the
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
// Title to file name: RecordingName's rule (valid UTF-8, no '/', no control
// character, no leading '.', cut to fit; the download directory is written
// in UTF-8 likewise), so a title can never leave the download directory. A
// missing download directory is created, with its parents, before the first
// file in it. An empty directory means the current working directory.
//
// Existing names are never reused: a file is created only where nothing
// (file, directory, symlink, even a dangling one) exists, so an earlier
// recording is never truncated (OutputFile).
//
// Durability: with a FileSyncer installed, every file is synced to the disk
// when it is closed, its directory after it was created, and while it is
// open at most every sync interval (default 10 s, the first one at a random
// point of the interval, so that many streams do not sync all at once). The
// syncer's own thread does it: no write, no lock and no worker waits for the
// disk. A failed sync shows in LastError.
//
// Songs: with the tags option, a file is tagged when it is closed; with the
// option to keep partial songs apart (and File Splitting on), a file that
// does not hold a whole song is moved into incomplete/ inside the download
// directory (SongFinish). Both happen on the syncer's thread, or at once
// without a syncer.
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
// writer and calls the setters and getters. The counters are atomics. Two
// locks, taken in this order after the stream's own:
//   `lock`: guards the recording state and the open file; held across disk
//     writes and file creation. Taken by the stream's calls (its worker, or
//     the controlling thread for a stop's state), Reset and
//     SetWriteFunction; never by a getter or setter.
//   `shared`: guards the settings and what the writer publishes (its last
//     error, its notes, the file it writes); never held across a system
//     call. Taken by every setter and getter (the user-interface thread) and
//     briefly by the stream's calls, so the window never waits for a slow or
//     hung disk.
class RecordingWriter : public StreamObserver {
 public:
  // Longest title part of a file name, in bytes (RecordingName).
  static constexpr size_t kMaxStemBytes = RecordingName::kMaxStemBytes;
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
  void Reset() override EXCLUDES(lock, shared);
  // One audio block: written to the open file, or to a new one, or dropped
  // while no file can be created (see above). Throws std::system_error when
  // a write fails.
  void OnAudio(const StreamBuffer& audio) override EXCLUDES(lock, shared);
  // Title, Format, Station and State events steer the files; all other kinds
  // are ignored. May close a file at once, and throw like OnAudio.
  void OnText(StreamEvent kind, std::string text) override EXCLUDES(lock, shared);
  // The blocks of one read are all here: writes what was gathered. From the
  // first such call on, the writer gathers each read's blocks into one
  // write (a producer that never calls it gets one write per block). Throws
  // like OnAudio.
  void OnReadEnd() override EXCLUDES(lock, shared);

  // The download directory; takes effect at the next file. Returns true.
  bool SetDirectory(const std::string& path) EXCLUDES(shared);
  std::string Directory() const EXCLUDES(shared);
  // The switches take effect at the next title event or file switch.
  void SetFileSplitting(bool on) EXCLUDES(shared);
  bool FileSplitting() const EXCLUDES(shared);
  void SetSmartSplitting(bool on) EXCLUDES(shared);
  bool SmartSplitting() const EXCLUDES(shared);

  // Cutting, tags and partial songs (RecordingOptions); takes effect at the
  // next file. With cutAtSilence on, the SilenceCutter in front of the writer
  // places the cuts and Smart Splitting's overlap is not applied.
  void SetRecordingOptions(const RecordingOptions& options) EXCLUDES(shared);
  RecordingOptions Options() const EXCLUDES(shared);
  // The entry's URL, for the tags.
  void SetSourceUrl(const std::string& url) EXCLUDES(shared);

  // Seconds between syncs of the open file; 0 syncs only when it is closed.
  // Takes effect at the next file.
  void SetSyncInterval(int32_t seconds) EXCLUDES(shared);
  int32_t SyncInterval() const EXCLUDES(shared);

  // The last failure to create, write, sync or close a file, until the next
  // file is created; nullopt when there is none.
  std::optional<FileError> LastError() const EXCLUDES(shared);
  // What happened at reconnects since the last call, oldest first
  // ("reconnected: 29200 repeated bytes skipped, Song.mp3 goes on").
  std::vector<std::string> TakeNotes() EXCLUDES(shared);
  // Audio bytes written to files since construction. Any thread.
  int64_t BytesWritten() const { return bytesWritten.load(std::memory_order_relaxed); }
  // Files created since construction. Any thread.
  int64_t FilesWritten() const { return filesWritten.load(std::memory_order_relaxed); }
  // Files that could not be created, writes and syncs that failed, since
  // construction. Any thread.
  int64_t WriteErrors() const { return writeErrors.load(std::memory_order_relaxed); }

  // Replaces ::write for this writer's files (tests: a disk that blocks or
  // fails). Before the stream starts.
  using WriteFunction = OutputFile::WriteFunction;
  void SetWriteFunction(WriteFunction function) EXCLUDES(lock);
  // The file being written, "" while none is open.
  std::string CurrentPath() const EXCLUDES(shared);

  // The next file starts the show; the open one closes now (audio held for
  // a reconnect written first). The controlling thread calls both; they
  // take `lock`, so they wait for a write in progress.
  void BeginShow(const ShowFile& show) EXCLUDES(lock, shared);
  // The show's file closes now; whole: it ended as planned (else it counts
  // as partial). Files after it are the entry's own again.
  void EndShow(bool whole) EXCLUDES(lock, shared);
  // EndShow(false) once the stream announces Disconnected, after the last
  // audio of a stop that does not wait for its worker (a stop by hand).
  // Takes no lock, so a write that hangs never holds up the caller; call it
  // before the stop, while a show is on.
  void EndShowAtStop();

  // RecordingName's, kept here for the callers that know the writer only.
  static std::string MakeUniquePath(const std::string& base, const std::string& extension) {
    return RecordingName::MakeUniquePath(base, extension);
  }
  static std::string FileStem(const std::string& title) { return RecordingName::Stem(title); }

 private:
  // Closes the file and makes the switch to pendingTitle (file switch).
  void SwitchFile(const StreamBuffer& audio) REQUIRES(lock) EXCLUDES(shared);
  // Creates the file for currentTitle; on failure records the reason.
  bool CreateFile() REQUIRES(lock) EXCLUDES(shared);
  void CloseFile() REQUIRES(lock) EXCLUDES(shared);
  // Tags and filing under incomplete/ for the file being closed, as the
  // options ask.
  FileSyncer::Finish MakeFinish() const REQUIRES(lock) EXCLUDES(shared);
  // Hands the open file to the syncer when its interval has passed.
  void SyncWhenDue() REQUIRES(lock) EXCLUDES(shared);
  // Writes size bytes; throws std::system_error on failure.
  void Write(const uint8_t* data, size_t size) REQUIRES(lock) EXCLUDES(shared);
  // Writes what the open file gathered; throws like Write when that fails.
  void FlushGathered() REQUIRES(lock) EXCLUDES(shared);
  void Write(const StreamBuffer& audio) REQUIRES(lock) EXCLUDES(shared);
  // Whether Smart Splitting's overlap puts the next block into the open file
  // too, at a title change.
  bool OverlapsNextBlock() const REQUIRES(lock) EXCLUDES(shared);
  // A reconnect's audio while its join is undecided.
  void JoinAudio(const StreamBuffer& audio) REQUIRES(lock) EXCLUDES(shared);
  // Ends a join in progress as the held audio says (final: no more of that
  // connection's audio comes).
  void SettleJoin(bool final) REQUIRES(lock) EXCLUDES(shared);
  // Writes what the join decided: the new part after an overlap, or a new
  // file with all of it after a gap.
  void ApplyJoin(bool overlap) REQUIRES(lock) EXCLUDES(shared);
  // A Title event, with File Splitting as set now.
  void OnTitle(std::string text, bool splitting) REQUIRES(lock) EXCLUDES(shared);
  void RecordError(const std::string& path, int error) EXCLUDES(shared);
  void Note(std::string text) EXCLUDES(shared);
  // Whether titles start files: the show's choice while one is on, else
  // the entry's File Splitting.
  bool SplittingTitles() const REQUIRES(lock) EXCLUDES(shared);
  // EndShow's work, under lock.
  void FinishShow(bool whole) REQUIRES(lock) EXCLUDES(shared);

  mutable Mutex lock;
  mutable Mutex shared ACQUIRED_AFTER(lock);

  // Settings and what the writer publishes.
  std::string directory GUARDED_BY(shared);
  bool smartSplitting GUARDED_BY(shared) = true;
  bool fileSplitting GUARDED_BY(shared) = true;
  RecordingOptions options GUARDED_BY(shared);
  std::string sourceUrl GUARDED_BY(shared);
  std::chrono::seconds syncInterval GUARDED_BY(shared){kDefaultSyncIntervalSeconds};
  std::optional<FileError> lastError GUARDED_BY(shared);
  std::vector<std::string> notes GUARDED_BY(shared);
  std::string shownPath GUARDED_BY(shared);  // the open file, for CurrentPath

  // The recording state.
  std::string extension GUARDED_BY(lock) = kDefaultExtension;  // of the next file
  std::string stationName GUARDED_BY(lock);   // names untitled files
  std::string currentTitle GUARDED_BY(lock);  // title of the open file ("": untitled), or of the failed one
  std::string pendingTitle GUARDED_BY(lock);  // title for which the next block opens a file
  bool streaming GUARDED_BY(lock) = false;  // between a response's Format and the next state change
  OutputFile file GUARDED_BY(lock);
  bool openFailed GUARDED_BY(lock) = false;
  bool gatherReads GUARDED_BY(lock) = false;  // the producer ends its reads (OnReadEnd)
  bool joinPending GUARDED_BY(lock) = false;  // a new response began while the file was open
  std::unique_ptr<ReconnectJoin> join GUARDED_BY(lock);  // deciding a reconnect; null otherwise
  std::chrono::steady_clock::time_point nextSync GUARDED_BY(lock);  // of the open file
  std::minstd_rand syncJitter GUARDED_BY(lock);
  SongFinish::Song facts GUARDED_BY(lock);  // of the open file
  bool responseFresh GUARDED_BY(lock) = false;  // no audio of the current response has been filed yet
  bool continuing GUARDED_BY(lock) = false;     // connected again without a Format: the open file goes on
  std::string gapNote GUARDED_BY(lock);         // what a Gap closed, for the note of the file after it
  int32_t bitrateKbps GUARDED_BY(lock) = 0;     // from the Bitrate event; 0: unknown
  std::optional<ShowFile> show GUARDED_BY(lock);  // the show being recorded; nullopt: none

  // EndShowAtStop: the show ends at the next Disconnected. Set by the
  // controlling thread without a lock; read and cleared under lock.
  std::atomic<bool> showEndsAtStop{false};

  // Shared with the syncer's queue, which may outlive the writer.
  const std::shared_ptr<SyncReport> syncReport;

  std::atomic<int64_t> bytesWritten{0};
  std::atomic<int64_t> filesWritten{0};
  std::atomic<int64_t> writeErrors{0};
};

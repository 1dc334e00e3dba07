#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/Mutex.h"
#include "base/UniqueFd.h"

// What a writer and the syncer share about the writer's files: whether a
// sync of its open file is waiting in the queue (so that a slow disk does not
// pile up syncs of one file), and the last failure to sync, close, tag or
// move one of them, which the writer shows as its last error. Each failure
// is set once, with the file and the reason (the system's error text), and
// counted, so that a reader can tell a new failure from one it has shown.
//
// Threads: the writer's stream worker and the window read and clear it, the
// syncer's thread sets failures. `mutex` guards the failure and is taken by
// all of them, never across a system call.
struct SyncReport {
  std::atomic<bool> queued{false};

  // "" when the last sync and close went well. Reading a failure marks it
  // read.
  std::string Failure() const EXCLUDES(mutex);
  void SetFailure(std::string path, std::string reason) EXCLUDES(mutex);
  // Forgets the last failure once it has been read; the count stays. An
  // unread one stays too: the finish of a closed file (its tag, its move)
  // may fail just before the next file opens, and must still be seen.
  void Clear() EXCLUDES(mutex);
  std::string FailedPath() const EXCLUDES(mutex);
  // Failures set so far.
  uint64_t Failures() const EXCLUDES(mutex);

 private:
  mutable Mutex mutex;
  std::string failedPath GUARDED_BY(mutex);
  std::string failure GUARDED_BY(mutex);
  uint64_t failures GUARDED_BY(mutex) = 0;
  mutable bool unread GUARDED_BY(mutex) = false;
};

// Puts recorded files on the disk in the background. The kernel keeps written
// bytes in its page cache, and ext4's delayed allocation may not even give a
// new file its blocks for a long while: after a power cut, a file written
// minutes ago can be empty or short. A writer hands its file here when it
// closes it (synced, then closed), every sync interval while it is open (a
// duplicate descriptor, synced, then closed), and the directory of a file it
// created (so that the new name survives too). One thread of its own does the
// syncing, so neither a stream's worker (which the window waits for when it
// stops an entry) nor any lock ever waits for the disk.
//
// One syncer serves the program: main() creates it, installs it before any
// recording starts and destroys it after the last writer is gone; the
// destructor syncs and closes whatever is still queued. Writers without an
// installed syncer close their files at once, unsynced.
//
// Threads: every operation may be called from any thread, and none waits for
// the disk (only a short lock around the queue) but WaitUntilIdle and the
// destructor. The sync function and the clock are fixed at construction.
// `mutex` guards the queue and its counts: the callers take it to queue a
// job or wait for the idle queue, the syncer's thread to take a job and
// count it done; nobody holds it across a sync or a close.
class FileSyncer {
 public:
  // fdatasync for files, fsync for directories; 0 or an errno.
  using SyncFunction = std::function<int(int fd, bool directory)>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int32_t kDefaultIntervalSeconds = 10;

  explicit FileSyncer(SyncFunction sync = SyncToDisk, Clock clock = std::chrono::steady_clock::now);
  // Finishes every queued job, then ends the thread.
  ~FileSyncer();

  FileSyncer(const FileSyncer&) = delete;
  FileSyncer& operator=(const FileSyncer&) = delete;

  // The program's syncer, or null. Install before the first writer records
  // and uninstall (null) before destroying it.
  static void Install(FileSyncer* syncer);
  static FileSyncer* Installed();

  // What is done to a closed recording besides the sync, on the syncer's
  // thread: beforeSync with the file still open (tagging it; true when it
  // put a new, already synced file in the path's place, so that the
  // descriptor held reaches only the unlinked old one, which is then closed
  // unsynced), afterClose once it is closed (moving it; returns its new
  // path, whose directory is then synced too). Either may be empty; a
  // failure is theirs to report, once.
  struct Finish {
    std::function<bool(const std::string& path)> beforeSync;
    std::function<std::string(const std::string& path)> afterClose;
  };

  // Takes the file over: finishes, syncs, then closes it. report may be
  // null. Nothing happens for a file that is not open.
  void SyncAndClose(UniqueFd file, std::string path, std::shared_ptr<SyncReport> report, Finish finish = {})
      EXCLUDES(mutex);
  // The same work done now, on the calling thread, without the sync: for a
  // writer that has no syncer. report may be null.
  static void FinishWithoutSync(UniqueFd file, const std::string& path, const Finish& finish,
                                const std::shared_ptr<SyncReport>& report);
  // Syncs the open file fd (through a duplicate; fd stays the caller's)
  // unless a sync for report is still queued. False when it was skipped or
  // no duplicate could be made (a failure, told to report).
  bool SyncOpenFile(int fd, std::string path, const std::shared_ptr<SyncReport>& report) EXCLUDES(mutex);
  // Syncs the directory at path (after a file was created in it). A failure
  // goes to report (may be null), unless the file system merely refuses to
  // sync directories.
  void SyncDirectory(std::string path, std::shared_ptr<SyncReport> report = nullptr) EXCLUDES(mutex);

  // Waits until every job queued before the call is done.
  void WaitUntilIdle() EXCLUDES(mutex);
  // The clock the writers time their periodic syncs with.
  std::chrono::steady_clock::time_point Now() const { return clock(); }

  // fdatasync (fsync for a directory), retried after EINTR.
  static int SyncToDisk(int fd, bool directory);

 private:
  struct Job {
    UniqueFd file;                       // not open for a directory job
    std::string path;                    // the file, or the directory to open
    bool directory = false;
    bool periodic = false;               // clears report->queued when done
    std::shared_ptr<SyncReport> report;  // may be null
    Finish finish;
  };

  void Run() EXCLUDES(mutex);
  void Do(Job& job) EXCLUDES(mutex);
  void SyncDirectoryNow(const std::string& path, SyncReport* report);
  void Push(Job job) EXCLUDES(mutex);

  // Constant after construction.
  const SyncFunction sync;
  const Clock clock;

  Mutex mutex;
  CondVar changed;  // a job was queued or done, or the syncer stops
  std::deque<Job> jobs GUARDED_BY(mutex);
  uint64_t pushed GUARDED_BY(mutex) = 0;    // jobs queued so far
  uint64_t finished GUARDED_BY(mutex) = 0;  // jobs done so far
  bool stopping GUARDED_BY(mutex) = false;

  std::thread worker;  // last: starts once everything above exists
};

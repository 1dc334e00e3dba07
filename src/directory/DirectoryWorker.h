#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Mutex.h"
#include "directory/DirectoryStation.h"
#include "directory/StationDirectory.h"

// Runs a StationDirectory on a thread of its own, for a caller that must
// never wait for the network (the window's Find Station dialog): searches
// as the user types, and the clicks of the stations added.
//
// Searches: the newest wins. Search() drops a search still waiting and
// cancels the one running (its transfer is aborted at once), and only the
// newest search's outcome is reported. Clicks queue behind the search in
// progress and are never cancelled by a search; a failed click is dropped
// without a word (the user added the station either way).
//
// Reports: `done` is called on the worker thread, without any lock held,
// once per search that was not superseded, with either the stations or the
// error's text (DirectoryError's "the station directory could not be
// reached: ..."). It must not call back into the worker; the window posts
// the outcome to its own thread.
//
// Threads: Search and CountClicks from any thread (the window's). The
// destructor cancels what runs, drops what waits (clicks included) and
// joins the thread; it returns promptly since every transfer is aborted.
//
// Lock: `mutex` guards the jobs and the stop flag; taken by the callers and
// by the worker between jobs, never across a network call or `done`. It is
// taken before the directory's fetcher lock (in Cancel and Resume).
class DirectoryWorker {
 public:
  using Done = std::function<void(uint64_t searchId, std::vector<DirectoryStation> stations, std::string error)>;

  DirectoryWorker(StationDirectory::Settings settings, Done done);
  ~DirectoryWorker();

  DirectoryWorker(const DirectoryWorker&) = delete;
  DirectoryWorker& operator=(const DirectoryWorker&) = delete;

  // Queues the search; returns the id its report will carry (1, 2, ...).
  uint64_t Search(DirectoryQuery query) EXCLUDES(mutex);
  // Queues one click per uuid.
  void CountClicks(const std::vector<std::string>& stationUuids) EXCLUDES(mutex);

 private:
  void Run() EXCLUDES(mutex);

  // Constant after construction.
  const Done done;

  // Used by the worker thread alone, apart from Cancel and Resume.
  StationDirectory directory;

  Mutex mutex;
  CondVar wake;
  std::optional<DirectoryQuery> waitingSearch GUARDED_BY(mutex);
  std::deque<std::string> waitingClicks GUARDED_BY(mutex);
  uint64_t newestSearch GUARDED_BY(mutex) = 0;  // the id of the last Search
  bool searchRunning GUARDED_BY(mutex) = false;
  bool stopping GUARDED_BY(mutex) = false;

  std::thread worker;  // last: started once everything above exists
};

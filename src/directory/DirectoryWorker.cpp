#include "directory/DirectoryWorker.h"

#include <utility>

DirectoryWorker::DirectoryWorker(StationDirectory::Settings settings, Done done)
    : done(std::move(done)), directory(std::move(settings)), worker([this] { Run(); }) {}

DirectoryWorker::~DirectoryWorker() {
  {
    MutexLock lock(mutex);
    stopping = true;
    directory.Cancel();
  }
  wake.NotifyAll();
  worker.join();
}

uint64_t DirectoryWorker::Search(DirectoryQuery query) {
  uint64_t id = 0;
  {
    MutexLock lock(mutex);
    waitingSearch = std::move(query);
    id = ++newestSearch;
    if (searchRunning) {
      directory.Cancel();
    }
  }
  wake.NotifyAll();
  return id;
}

void DirectoryWorker::CountClicks(const std::vector<std::string>& stationUuids) {
  {
    MutexLock lock(mutex);
    waitingClicks.insert(waitingClicks.end(), stationUuids.begin(), stationUuids.end());
  }
  wake.NotifyAll();
}

void DirectoryWorker::Run() {
  for (;;) {
    std::optional<DirectoryQuery> search;
    std::string click;
    uint64_t id = 0;
    {
      MutexLock lock(mutex);
      while (!stopping && !waitingSearch && waitingClicks.empty()) {
        wake.Wait(mutex);
      }
      if (stopping) {
        return;
      }
      if (waitingSearch) {
        search = std::exchange(waitingSearch, std::nullopt);
        id = newestSearch;
        searchRunning = true;
      } else {
        click = std::move(waitingClicks.front());
        waitingClicks.pop_front();
      }
      // Under the lock, so that a Search's Cancel cannot fall between this
      // and the job it means.
      directory.Resume();
    }
    if (!search) {
      try {
        directory.CountClick(click);
      } catch (const DirectoryError&) {
      }
      continue;
    }
    std::vector<DirectoryStation> stations;
    std::string error;
    try {
      stations = directory.Search(*search);
    } catch (const DirectoryError& failure) {
      error = failure.what();
    }
    bool newest = false;
    {
      MutexLock lock(mutex);
      searchRunning = false;
      newest = id == newestSearch && !stopping;
    }
    if (newest) {
      done(id, std::move(stations), std::move(error));
    }
  }
}

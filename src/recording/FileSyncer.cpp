#include "recording/FileSyncer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

std::atomic<FileSyncer*> installed{nullptr};

std::string ErrorText(int error) { return std::generic_category().message(error); }

}  // namespace

std::string SyncReport::Failure() const {
  std::lock_guard<std::mutex> lock(mutex);
  return failure;
}

std::string SyncReport::FailedPath() const {
  std::lock_guard<std::mutex> lock(mutex);
  return failedPath;
}

void SyncReport::SetFailure(std::string path, std::string reason) {
  std::lock_guard<std::mutex> lock(mutex);
  failedPath = std::move(path);
  failure = std::move(reason);
}

void SyncReport::Clear() {
  std::lock_guard<std::mutex> lock(mutex);
  failedPath.clear();
  failure.clear();
}

FileSyncer::FileSyncer(SyncFunction syncFunction, Clock clockFunction)
    : sync(std::move(syncFunction)), clock(std::move(clockFunction)), worker([this] { Run(); }) {}

FileSyncer::~FileSyncer() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  worker.join();
}

void FileSyncer::Install(FileSyncer* syncer) { installed.store(syncer, std::memory_order_release); }

FileSyncer* FileSyncer::Installed() { return installed.load(std::memory_order_acquire); }

void FileSyncer::SyncAndClose(int fd, std::string path, std::shared_ptr<SyncReport> report, Finish finish) {
  if (fd < 0) {
    return;
  }
  Push(Job{fd, std::move(path), false, false, std::move(report), std::move(finish)});
}

void FileSyncer::FinishWithoutSync(int fd, const std::string& path, const Finish& finish,
                                   const std::shared_ptr<SyncReport>& report) {
  if (finish.beforeSync) {
    finish.beforeSync(path);
  }
  // On Linux the descriptor is gone even when close() fails: never retry.
  if (::close(fd) != 0 && report) {
    report->SetFailure(path, ErrorText(errno));
  }
  if (finish.afterClose) {
    (void)finish.afterClose(path);
  }
}

bool FileSyncer::SyncOpenFile(int fd, std::string path, const std::shared_ptr<SyncReport>& report) {
  if (report && report->queued.exchange(true)) {
    return false;  // the last one has not been done yet
  }
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    if (report) {
      report->queued.store(false);
    }
    return false;
  }
  Push(Job{copy, std::move(path), false, true, report, {}});
  return true;
}

void FileSyncer::SyncDirectory(std::string path) { Push(Job{-1, std::move(path), true, false, nullptr, {}}); }

void FileSyncer::Push(Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    jobs.push_back(std::move(job));
    ++pushed;
  }
  changed.notify_all();
}

void FileSyncer::WaitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex);
  const uint64_t target = pushed;
  changed.wait(lock, [&] { return finished >= target; });
}

void FileSyncer::Run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [this] { return stopping || !jobs.empty(); });
    if (jobs.empty()) {
      return;  // stopping, and nothing is left
    }
    Job job = std::move(jobs.front());
    jobs.pop_front();
    lock.unlock();
    Do(job);
    lock.lock();
    ++finished;
    changed.notify_all();
  }
}

void FileSyncer::Do(Job& job) {
  int error = 0;
  if (job.directory) {
    const int fd = ::open(job.path.empty() ? "." : job.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      return;  // the directory is gone or closed to us: nothing to keep safe
    }
    // A directory that cannot be synced (some file systems refuse) costs
    // only the name's safety, and says nothing about the recording.
    (void)sync(fd, true);
    ::close(fd);
    return;
  }
  if (job.finish.beforeSync) {
    job.finish.beforeSync(job.path);
    // Tagging puts a tagged copy in the file's place: its name must be on
    // the disk as well.
    Job directory{-1, std::filesystem::path(job.path).parent_path().string(), true, false, nullptr, {}};
    Do(directory);
  }
  error = sync(job.fd, false);
  // On Linux the descriptor is gone even when close() fails: never retry.
  if (::close(job.fd) != 0 && error == 0 && !job.periodic) {
    error = errno;
  }
  if (job.report) {
    if (error != 0) {
      job.report->SetFailure(job.path, ErrorText(error));
    }
    if (job.periodic) {
      job.report->queued.store(false);
    }
  }
  if (job.finish.afterClose) {
    const std::string moved = job.finish.afterClose(job.path);
    if (!moved.empty() && moved != job.path) {
      // The new name must survive a crash as well as the old one's removal.
      Job directory{-1, std::filesystem::path(moved).parent_path().string(), true, false, nullptr, {}};
      Do(directory);
      Job old{-1, std::filesystem::path(job.path).parent_path().string(), true, false, nullptr, {}};
      Do(old);
    }
  }
}

int FileSyncer::SyncToDisk(int fd, bool directory) {
  int result = 0;
  do {
    result = directory ? ::fsync(fd) : ::fdatasync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

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
  MutexLock lock(mutex);
  unread = false;
  return failure;
}

std::string SyncReport::FailedPath() const {
  MutexLock lock(mutex);
  return failedPath;
}

void SyncReport::SetFailure(std::string path, std::string reason) {
  MutexLock lock(mutex);
  failedPath = std::move(path);
  failure = std::move(reason);
  ++failures;
  unread = true;
}

uint64_t SyncReport::Failures() const {
  MutexLock lock(mutex);
  return failures;
}

void SyncReport::Clear() {
  MutexLock lock(mutex);
  if (unread) {
    return;
  }
  failedPath.clear();
  failure.clear();
}

FileSyncer::FileSyncer(SyncFunction syncFunction, Clock clockFunction)
    : sync(std::move(syncFunction)), clock(std::move(clockFunction)), worker([this] { Run(); }) {}

FileSyncer::~FileSyncer() {
  {
    MutexLock lock(mutex);
    stopping = true;
  }
  changed.NotifyAll();
  worker.join();
}

void FileSyncer::Install(FileSyncer* syncer) { installed.store(syncer, std::memory_order_release); }

FileSyncer* FileSyncer::Installed() { return installed.load(std::memory_order_acquire); }

void FileSyncer::SyncAndClose(UniqueFd file, std::string path, std::shared_ptr<SyncReport> report, Finish finish) {
  if (!file.Valid()) {
    return;
  }
  Push(Job{std::move(file), std::move(path), false, false, std::move(report), std::move(finish)});
}

void FileSyncer::FinishWithoutSync(UniqueFd file, const std::string& path, const Finish& finish,
                                   const std::shared_ptr<SyncReport>& report) {
  if (finish.beforeSync) {
    (void)finish.beforeSync(path);
  }
  if (const int error = file.Close(); error != 0 && report) {
    report->SetFailure(path, ErrorText(error));
  }
  if (finish.afterClose) {
    (void)finish.afterClose(path);
  }
}

bool FileSyncer::SyncOpenFile(int fd, std::string path, const std::shared_ptr<SyncReport>& report) {
  if (report && report->queued.exchange(true)) {
    return false;  // the last one has not been done yet
  }
  UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.Valid()) {
    const int error = errno;
    if (report) {
      report->SetFailure(std::move(path), "cannot sync: " + ErrorText(error));
      report->queued.store(false);
    }
    return false;
  }
  Push(Job{std::move(copy), std::move(path), false, true, report, {}});
  return true;
}

void FileSyncer::SyncDirectory(std::string path, std::shared_ptr<SyncReport> report) {
  Push(Job{UniqueFd(), std::move(path), true, false, std::move(report), {}});
}

void FileSyncer::Push(Job job) {
  {
    MutexLock lock(mutex);
    jobs.push_back(std::move(job));
    ++pushed;
  }
  changed.NotifyAll();
}

void FileSyncer::WaitUntilIdle() {
  MutexLock lock(mutex);
  const uint64_t target = pushed;
  while (finished < target) {
    changed.Wait(mutex);
  }
}

void FileSyncer::Run() {
  mutex.Lock();
  for (;;) {
    while (!stopping && jobs.empty()) {
      changed.Wait(mutex);
    }
    if (jobs.empty()) {
      mutex.Unlock();
      return;  // stopping, and nothing is left
    }
    Job job = std::move(jobs.front());
    jobs.pop_front();
    mutex.Unlock();
    Do(job);
    mutex.Lock();
    ++finished;
    changed.NotifyAll();
  }
}

void FileSyncer::SyncDirectoryNow(const std::string& path, SyncReport* report) {
  const UniqueFd directory(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.Valid()) {
    return;  // the directory is gone or closed to us: nothing to keep safe
  }
  const int error = sync(directory.Get(), true);
  // Some file systems refuse to sync a directory at all: that is how they
  // are, not a failure worth a word each time.
  if (error != 0 && error != EINVAL && error != EROFS && error != ENOTSUP && report != nullptr) {
    report->SetFailure(path.empty() ? "." : path, "cannot sync the directory: " + ErrorText(error));
  }
}

void FileSyncer::Do(Job& job) {
  if (job.directory) {
    SyncDirectoryNow(job.path, job.report.get());
    return;
  }
  bool replaced = false;
  if (job.finish.beforeSync) {
    replaced = job.finish.beforeSync(job.path);
  }
  if (replaced) {
    // Tagging put a synced copy in the file's place: its name must be on
    // the disk as well.
    SyncDirectoryNow(std::filesystem::path(job.path).parent_path().string(), job.report.get());
  }
  // The descriptor of a replaced file reaches only the unlinked old copy:
  // syncing it would write what nobody will read.
  int error = replaced ? 0 : sync(job.file.Get(), false);
  if (const int closeError = job.file.Close(); closeError != 0 && error == 0 && !job.periodic && !replaced) {
    error = closeError;
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
      SyncDirectoryNow(std::filesystem::path(moved).parent_path().string(), job.report.get());
      SyncDirectoryNow(std::filesystem::path(job.path).parent_path().string(), job.report.get());
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

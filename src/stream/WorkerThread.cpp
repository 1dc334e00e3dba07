#include "stream/WorkerThread.h"

#include <sched.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>

#include "stream/ThreadTask.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kSanitizerFactor = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kSanitizerFactor = 4;
#else
constexpr size_t kSanitizerFactor = 1;
#endif
#else
constexpr size_t kSanitizerFactor = 1;
#endif

// WorkerThread::Scheduling, read by every new thread.
std::atomic<int64_t> timerSlackNs{0};
std::atomic<bool> batchScheduling{false};

// pthread_attr_t as a scoped object: destroyed on every path out of Start.
class ThreadAttributes {
 public:
  ThreadAttributes() : valid(pthread_attr_init(&attributes) == 0) {}
  ~ThreadAttributes() {
    if (valid) {
      pthread_attr_destroy(&attributes);
    }
  }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;

  bool SetStackSize(size_t bytes) { return valid && pthread_attr_setstacksize(&attributes, bytes) == 0; }
  const pthread_attr_t* Get() const { return &attributes; }

 private:
  pthread_attr_t attributes{};
  const bool valid;
};

}  // namespace

WorkerThread::~WorkerThread() { Stop(kDefaultTimeoutMs); }

size_t WorkerThread::StackBytes() { return kStackBytes * kSanitizerFactor; }

void WorkerThread::SetScheduling(const Scheduling& scheduling) {
  timerSlackNs.store(scheduling.timerSlack.count(), std::memory_order_relaxed);
  batchScheduling.store(scheduling.batch, std::memory_order_relaxed);
}

WorkerThread::Scheduling WorkerThread::CurrentScheduling() {
  return {std::chrono::nanoseconds(timerSlackNs.load(std::memory_order_relaxed)),
          batchScheduling.load(std::memory_order_relaxed)};
}

bool WorkerThread::Start() {
  if (hasThread) {
    return false;
  }
  ThreadAttributes attributes;
  if (!attributes.SetStackSize(StackBytes())) {
    return false;
  }
  if (task != nullptr) {
    task->SetStopRequested(false);
  }
  {
    MutexLock lock(mutex);
    running = true;
  }
  if (pthread_create(&thread, attributes.Get(), &WorkerThread::Entry, this) != 0) {
    MutexLock lock(mutex);
    running = false;
    return false;
  }
  hasThread = true;
  return true;
}

void* WorkerThread::Entry(void* self) noexcept {
  static_cast<WorkerThread*>(self)->Body();
  return nullptr;
}

void WorkerThread::Body() {
  // On the new thread itself: both settings are per thread, and the thread
  // that starts workers (the window's, the recorder's main loop) keeps its
  // own.
  const Scheduling scheduling = CurrentScheduling();
  if (scheduling.timerSlack.count() > 0) {
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(scheduling.timerSlack.count()), 0UL, 0UL, 0UL);
  }
  if (scheduling.batch) {
    const sched_param priority{};
    sched_setscheduler(0, SCHED_BATCH, &priority);
  }
  if (task != nullptr) {
    task->Run();
  }
  MutexLock lock(mutex);
  running = false;
  ended.NotifyAll();
}

bool WorkerThread::Stop(int32_t timeoutMs) {
  if (!hasThread) {
    return false;
  }
  if (task != nullptr) {
    task->SetStopRequested(true);
  }
  {
    MutexLock lock(mutex);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (running && ended.WaitUntil(mutex, deadline)) {
    }
    timedOut = running;
  }
  // Past the timeout this waits for the task to honour its stop request;
  // there is no safe way to end it sooner.
  pthread_join(thread, nullptr);
  hasThread = false;
  return true;
}

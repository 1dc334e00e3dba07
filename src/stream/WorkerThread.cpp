#include "stream/WorkerThread.h"

#include <chrono>
#include <system_error>

#include "stream/ThreadTask.h"

WorkerThread::~WorkerThread() { Stop(kDefaultTimeoutMs); }

bool WorkerThread::Start() {
  if (thread.joinable()) {
    return false;
  }
  if (task != nullptr) {
    task->SetStopRequested(false);
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    running = true;
  }
  try {
    thread = std::thread(&WorkerThread::Body, this);
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(mutex);
    running = false;
    return false;
  }
  return true;
}

void WorkerThread::Body() {
  if (task != nullptr) {
    task->Run();
  }
  std::lock_guard<std::mutex> lock(mutex);
  running = false;
  ended.notify_all();
}

bool WorkerThread::Stop(int32_t timeoutMs) {
  if (!thread.joinable()) {
    return false;
  }
  if (task != nullptr) {
    task->SetStopRequested(true);
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    const auto timeout = std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    timedOut = !ended.wait_for(lock, timeout, [this] { return !running; });
  }
  // Past the timeout this waits for the task to honour its stop request;
  // there is no safe way to end it sooner.
  thread.join();
  return true;
}

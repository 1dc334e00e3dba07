#include "stream/StreamReaper.h"

#include <utility>

StreamReaper::~StreamReaper() {
  {
    MutexLock lock(mutex);
    ending = true;
    changed.NotifyAll();
  }
  if (thread.joinable()) {
    thread.join();
  }
}

void StreamReaper::Retire(std::function<void()> teardown) {
  {
    MutexLock lock(mutex);
    waiting.push_back(std::move(teardown));
    changed.NotifyAll();
  }
  if (!thread.joinable()) {
    thread = std::thread([this] { Loop(); });
  }
}

void StreamReaper::WaitIdle() {
  MutexLock lock(mutex);
  while (busy || !waiting.empty()) {
    changed.Wait(mutex);
  }
}

void StreamReaper::Loop() {
  for (;;) {
    std::function<void()> teardown;
    {
      MutexLock lock(mutex);
      busy = false;
      changed.NotifyAll();
      while (waiting.empty() && !ending) {
        changed.Wait(mutex);
      }
      if (waiting.empty()) {
        return;  // ending, and nothing left
      }
      teardown = std::move(waiting.front());
      waiting.pop_front();
      busy = true;
    }
    try {
      teardown();
    } catch (...) {
      // Nothing to tell: the teardown's parts are gone either way.
    }
    // Destroyed here, before the lock: what it owned goes first.
    teardown = nullptr;
  }
}

#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <thread>

// Polls until condition holds; false when the bound passes first. The bound
// is generous: it catches a hang, it does not time anything.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Runs action on another thread; false when it has not returned within the
// bound (the thread is then left to finish, and the caller's test fails).
// A bound only a hung stop misses; no timing figure is checked.
inline bool ReturnsWithin(const std::function<void()>& action,
                          std::chrono::seconds bound = std::chrono::seconds(10)) {
  auto done = std::async(std::launch::async, action);
  return done.wait_for(bound) == std::future_status::ready;
}

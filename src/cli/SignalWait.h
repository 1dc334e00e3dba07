#pragma once

#include <signal.h>

#include <chrono>
#include <optional>

#include "base/UniqueFd.h"

// The recorder's one place to sleep: until one of its signals arrives, a
// descriptor becomes readable (the schedule's wall-clock timer) or a
// timeout passes, whichever comes first; without a timeout it sleeps as
// long as nothing happens, which is what an idle recorder costs: nothing.
// The signals come through a signalfd, so they must be blocked in every
// thread (the main function blocks them before any thread starts).
//
// Owns the signalfd. One thread (the main loop) calls Wait.
class SignalWait {
 public:
  // Throws std::system_error when the system gives no signalfd.
  explicit SignalWait(const sigset_t& signals);

  SignalWait(const SignalWait&) = delete;
  SignalWait& operator=(const SignalWait&) = delete;

  struct Result {
    int signal = 0;      // the signal that arrived, 0: none
    bool ready = false;  // the descriptor is readable
  };
  // fd -1: only signals and the timeout. A timeout of nullopt: none.
  Result Wait(int fd, std::optional<std::chrono::milliseconds> timeout);

 private:
  UniqueFd signals;
};

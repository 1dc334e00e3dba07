#pragma once

#include <chrono>
#include <optional>

#include "base/UniqueFd.h"

// A descriptor that becomes readable at a wall-clock instant, or at once
// when the wall clock is set (by hand, by NTP stepping it, after a resume
// from suspend): a timerfd on CLOCK_REALTIME, armed absolute with
// TFD_TIMER_CANCEL_ON_SET. The owner polls Fd() in its own loop (poll(2),
// a QSocketNotifier) and calls Consume when it is readable. Nothing runs
// between the instants: the kernel holds the timer.
//
// Owns the descriptor. One thread (the owner's loop) calls everything.
class WallClockTimer {
 public:
  using Instant = std::chrono::system_clock::time_point;

  // Throws std::system_error when the kernel gives no timer.
  WallClockTimer();

  WallClockTimer(const WallClockTimer&) = delete;
  WallClockTimer& operator=(const WallClockTimer&) = delete;

  // Readable at when (at once when it has passed) or at a change of the
  // clock; nullopt disarms it: then nothing makes it readable.
  void Arm(std::optional<Instant> when);

  enum class Wake {
    None,          // nothing happened (a spurious wake-up)
    Due,           // the instant came
    ClockChanged,  // the wall clock was set: every instant needs a new look
  };
  // Reads what made the descriptor readable; the timer is then disarmed
  // until the next Arm.
  Wake Consume();

  int Fd() const { return fd.Get(); }

 private:
  UniqueFd fd;
};

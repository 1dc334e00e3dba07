#pragma once

#include <chrono>

// Where the scheduler reads the wall-clock time. The program uses the
// system's clock; tests set the time by hand, so that no test waits for a
// show to come round.
//
// Now may be called from any thread the owner of the clock allows; the
// system's clock is safe everywhere.
class ShowClock {
 public:
  using Instant = std::chrono::system_clock::time_point;

  virtual ~ShowClock() = default;
  virtual Instant Now() const = 0;

  // The system's real-time clock; lives as long as the program.
  static const ShowClock& System();
};

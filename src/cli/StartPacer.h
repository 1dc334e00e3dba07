#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// How many entries may start now, so that a recorder with thousands of
// entries does not open thousands of connections in the same millisecond
// (overflowing the servers' listen queues, each lost SYN costing a second)
// nor create thousands of threads at once. A token bucket: perSecond starts
// a second on average, at most a twentieth of a second's worth at once; a
// list of up to that many entries starts at once, as it always did.
//
// A value type for one thread (the recorder's main thread).
class StartPacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int32_t kDefaultPerSecond = 1000;

  // perSecond 0 or less: no pacing, every entry may start at once.
  StartPacer(int32_t perSecond, Clock::time_point now);

  // How many may start at now, taken from the bucket: the caller starts at
  // most that many.
  size_t Take(Clock::time_point now);
  // How long until Take gives at least one again.
  Clock::duration UntilNext() const;

 private:
  const int32_t perSecond;
  const double burst;
  double tokens;
  Clock::time_point last;
};

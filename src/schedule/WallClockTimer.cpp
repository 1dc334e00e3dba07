#include "schedule/WallClockTimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

WallClockTimer::WallClockTimer() : fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC)) {
  if (!fd.Valid()) {
    throw std::system_error(errno, std::generic_category(), "timerfd_create");
  }
}

void WallClockTimer::Arm(std::optional<Instant> when) {
  itimerspec spec{};
  int flags = 0;
  if (when) {
    const auto since = when->time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    spec.it_value.tv_sec = static_cast<time_t>(seconds.count());
    spec.it_value.tv_nsec = static_cast<long>(nanoseconds.count());
    if (spec.it_value.tv_sec <= 0 && spec.it_value.tv_nsec <= 0) {
      spec.it_value.tv_nsec = 1;  // zero would disarm; any instant past fires at once
    }
    flags = TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET;
  }
  ::timerfd_settime(fd.Get(), flags, &spec, nullptr);
}

WallClockTimer::Wake WallClockTimer::Consume() {
  uint64_t expirations = 0;
  for (;;) {
    const ssize_t n = ::read(fd.Get(), &expirations, sizeof expirations);
    if (n == static_cast<ssize_t>(sizeof expirations)) {
      return Wake::Due;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno == ECANCELED) {
      return Wake::ClockChanged;
    }
    return Wake::None;
  }
}

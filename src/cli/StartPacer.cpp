#include "cli/StartPacer.h"

#include <algorithm>
#include <limits>

StartPacer::StartPacer(int32_t perSecond, Clock::time_point now)
    : perSecond(perSecond), burst(std::max(1.0, perSecond / 20.0)), tokens(burst), last(now) {}

size_t StartPacer::Take(Clock::time_point now) {
  if (perSecond <= 0) {
    return std::numeric_limits<size_t>::max();
  }
  if (now > last) {
    tokens = std::min(burst, tokens + std::chrono::duration<double>(now - last).count() * perSecond);
    last = now;
  }
  // The epsilon keeps a rate's exact multiple from rounding down to one
  // start fewer.
  const auto whole = static_cast<size_t>(tokens + 1e-9);
  tokens = std::max(0.0, tokens - static_cast<double>(whole));
  return whole;
}

StartPacer::Clock::duration StartPacer::UntilNext() const {
  if (perSecond <= 0 || tokens >= 1) {
    return Clock::duration::zero();
  }
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>((1 - tokens) / perSecond));
}

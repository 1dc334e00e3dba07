#include "schedule/ShowClock.h"

namespace {

class SystemShowClock : public ShowClock {
 public:
  Instant Now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace

const ShowClock& ShowClock::System() {
  static const SystemShowClock clock;
  return clock;
}

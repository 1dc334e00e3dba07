// Start-up pacing of many entries.
#include "cli/StartPacer.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace std::chrono_literals;

TEST(StartPacerTest, AShortListStartsAtOnceALongOneAtTheRate) {
  const auto t0 = StartPacer::Clock::now();
  StartPacer pacer(1000, t0);
  struct Step {
    std::chrono::milliseconds at;
    size_t starts;
  };
  // 50 at once (a twentieth of a second's worth), then one a millisecond;
  // an idle second fills the bucket only to the burst again.
  for (const Step& step : {Step{0ms, 50}, Step{0ms, 0}, Step{10ms, 10}, Step{15ms, 5}, Step{2015ms, 50}}) {
    EXPECT_EQ(pacer.Take(t0 + step.at), step.starts) << step.at.count() << " ms";
  }
  EXPECT_GT(pacer.UntilNext(), StartPacer::Clock::duration::zero());
  EXPECT_LE(pacer.UntilNext(), std::chrono::duration_cast<StartPacer::Clock::duration>(1ms));

  StartPacer unpaced(0, t0);
  EXPECT_EQ(unpaced.Take(t0), std::numeric_limits<size_t>::max());
  EXPECT_EQ(unpaced.UntilNext(), StartPacer::Clock::duration::zero());
}

}  // namespace

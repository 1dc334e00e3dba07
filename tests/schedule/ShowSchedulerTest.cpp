#include "schedule/ShowScheduler.h"

#include <date/date.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "schedule/WallClockTimer.h"

#include "schedule/Instants.h"

namespace {

using std::chrono::minutes;
using std::chrono::seconds;

Schedule Parse(const std::string& option) {
  Schedule schedule;
  std::string error;
  EXPECT_TRUE(ParseScheduleOption(option, schedule, error)) << error;
  return schedule;
}

class HandClock : public ShowClock {
 public:
  Instant Now() const override { return now; }
  Instant now;
};

// Notes every switch as "start NAME", "late NAME" or "end NAME".
class NotingTarget : public ShowTarget {
 public:
  void ShowStarts(const ShowWindow& window, bool late) override {
    events.push_back((late ? "late " : "start ") + window.show.name);
  }
  void ShowEnds(const ShowWindow& window) override { events.push_back("end " + window.show.name); }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
  std::vector<std::string> events;
};

using Events = std::vector<std::string>;

// One daily show 07:00-08:00 UTC with a minute of pre-roll and two of
// post-roll: its stretch is 06:59 to 08:02.
class ShowSchedulerTest : public ::testing::Test {
 protected:
  void SetNow(const std::string& text) { clock.now = At(text); }
  // Moves the clock to the scheduler's next change and lets it act.
  void RunToNextChange() {
    const auto next = scheduler.NextChange();
    ASSERT_TRUE(next.has_value());
    clock.now = *next;
    scheduler.Update();
  }

  HandClock clock;
  ShowScheduler scheduler{clock, Rolls{seconds{60}, seconds{120}}};
  NotingTarget target;
  const std::vector<Schedule> daily{Parse("Daily=daily 07:00+1h@UTC")};
};

TEST_F(ShowSchedulerTest, WakesOnlyAtTheStretchesEdges) {
  SetNow("2027-01-01 03:00:00");
  scheduler.Set(&target, daily);
  EXPECT_EQ(target.Take(), Events{});
  EXPECT_EQ(scheduler.NextChange(), At("2027-01-01 06:59:00"));

  RunToNextChange();
  EXPECT_EQ(target.Take(), Events{"start Daily"});
  EXPECT_EQ(scheduler.NextChange(), At("2027-01-01 08:02:00"));
  // Nothing happens between the edges, however often it is asked.
  clock.now += minutes{30};
  scheduler.Update();
  EXPECT_EQ(target.Take(), Events{});

  RunToNextChange();
  EXPECT_EQ(target.Take(), Events{"end Daily"});
  EXPECT_EQ(scheduler.NextChange(), At("2027-01-02 06:59:00"));
}

TEST_F(ShowSchedulerTest, AStartInTheMiddleOfAShowRecordsAtOnceAsLate) {
  SetNow("2027-01-01 07:20:00");
  scheduler.Set(&target, daily);
  EXPECT_EQ(target.Take(), Events{"late Daily"});
  // Within the pre-roll the show has not begun: not late.
  NotingTarget early;
  SetNow("2027-01-01 06:59:30");
  scheduler.Set(&early, daily);
  EXPECT_EQ(early.Take(), Events{"start Daily"});
}

TEST_F(ShowSchedulerTest, AManualStopEndsTheShowAndTheNextOneStartsAsPlanned) {
  SetNow("2027-01-01 07:00:00");
  scheduler.Set(&target, daily);
  EXPECT_EQ(target.Take(), Events{"start Daily"});
  SetNow("2027-01-01 07:10:00");
  EXPECT_TRUE(scheduler.Dismiss(&target));
  scheduler.Update(true);  // a clock change must not bring it back either
  RunToNextChange();       // the stretch's end: no end for a dismissed show
  EXPECT_EQ(target.Take(), Events{});
  RunToNextChange();
  EXPECT_EQ(target.Take(), Events{"start Daily"});
}

TEST_F(ShowSchedulerTest, ChangedSchedulesKeepARunningShowThatIsStillPlanned) {
  SetNow("2027-01-01 07:30:00");
  scheduler.Set(&target, daily);
  EXPECT_EQ(target.Take(), Events{"late Daily"});

  // Longer: the same show goes on, to the new end.
  scheduler.Set(&target, {Parse("Daily=daily 07:00+2h@UTC"), Parse("Other=Mon 12:00+1h@UTC")});
  EXPECT_EQ(target.Take(), Events{});
  EXPECT_EQ(scheduler.NextChange(), At("2027-01-01 09:02:00"));

  // Moved: the running show is not planned any more and ends; the moved one
  // is on already, so it starts at once.
  scheduler.Set(&target, {Parse("Daily=daily 07:15+1h@UTC")});
  EXPECT_EQ(target.Take(), (Events{"end Daily", "late Daily"}));

  scheduler.Set(&target, {});
  EXPECT_EQ(target.Take(), Events{"end Daily"});
  EXPECT_EQ(scheduler.TargetCount(), 0u);
}

TEST_F(ShowSchedulerTest, AWallClockJumpIsFollowedBothWays) {
  SetNow("2027-01-01 03:00:00");
  scheduler.Set(&target, daily);
  // Forward into the show (a resume from suspend): it starts, late.
  SetNow("2027-01-01 07:45:00");
  scheduler.Update(true);
  EXPECT_EQ(target.Take(), Events{"late Daily"});
  // Back to before it: it ends, and waits for its start again.
  SetNow("2027-01-01 05:00:00");
  scheduler.Update(true);
  EXPECT_EQ(target.Take(), Events{"end Daily"});
  EXPECT_EQ(scheduler.NextChange(), At("2027-01-01 06:59:00"));
  // Past its end: nothing is left to record of it.
  SetNow("2027-01-01 09:00:00");
  scheduler.Update(true);
  EXPECT_EQ(target.Take(), Events{});
}

TEST_F(ShowSchedulerTest, TheSoonestShowOfAllTargetsIsKnown) {
  NotingTarget other;
  SetNow("2027-01-01 03:00:00");
  scheduler.Set(&target, daily);
  scheduler.Set(&other, {Parse("Early=daily 05:00+1h@UTC")});
  const auto soonest = scheduler.Soonest();
  ASSERT_TRUE(soonest.has_value());
  EXPECT_EQ(soonest->first, &other);
  EXPECT_EQ(soonest->second.show.name, "Early");
  scheduler.Remove(&other, true);
  EXPECT_EQ(scheduler.Soonest()->first, &target);
}

// The timer the loops sleep on: readable when its instant has come, silent
// when disarmed.
TEST(WallClockTimerTest, BecomesReadableAtItsInstantOnly) {
  WallClockTimer timer;
  const auto readable = [&timer](int waitMs) {
    pollfd fd{timer.Fd(), POLLIN, 0};
    return ::poll(&fd, 1, waitMs) == 1;
  };
  timer.Arm(std::chrono::system_clock::now() + std::chrono::hours(1));
  EXPECT_FALSE(readable(0));
  timer.Arm(std::chrono::system_clock::now() - seconds{1});
  EXPECT_TRUE(readable(2000));
  EXPECT_EQ(timer.Consume(), WallClockTimer::Wake::Due);
  EXPECT_EQ(timer.Consume(), WallClockTimer::Wake::None);
  timer.Arm(std::nullopt);
  EXPECT_FALSE(readable(0));
}

}  // namespace

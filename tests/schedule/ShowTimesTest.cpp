#include "schedule/ShowWindow.h"

#include <date/date.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "schedule/Instants.h"

namespace {

using std::chrono::seconds;

std::vector<Schedule> Schedules(const std::vector<std::string>& options) {
  std::vector<Schedule> schedules;
  for (const std::string& option : options) {
    Schedule schedule;
    std::string error;
    EXPECT_TRUE(ParseScheduleOption(option, schedule, error)) << option << ": " << error;
    schedules.push_back(schedule);
  }
  return schedules;
}

// Which stretch an entry records next, asked at `now`: its first show, its
// local start (the file name's), and the instants it records from and until
// (UTC). An empty show: none.
struct WindowCase {
  const char* name;
  std::vector<std::string> schedules;
  int pre;
  int post;
  const char* now;
  const char* show;
  const char* localStart;
  const char* from;
  const char* until;
};

void PrintTo(const WindowCase& row, std::ostream* out) { *out << row.name; }

class ShowWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ShowWindowTest, RecordsAtTheRightInstants) {
  const WindowCase& row = GetParam();
  const auto window =
      ShowWindow::FirstEndingAfter(Schedules(row.schedules), Rolls{seconds{row.pre}, seconds{row.post}}, At(row.now));
  if (std::string(row.show).empty()) {
    EXPECT_FALSE(window.has_value());
    return;
  }
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->show.name, row.show);
  EXPECT_EQ(date::format("%F %H:%M", window->show.localStart), row.localStart);
  EXPECT_EQ(window->from, At(row.from));
  EXPECT_EQ(window->until, At(row.until));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShowWindowTest,
    ::testing::Values(
        // 2027-01-01 is a Friday; Berlin is UTC+1 in winter, +2 in summer.
        WindowCase{"WeekdayRangeSkipsTheWeekend", {"M=Mon-Fri 07:00+2h@Europe/Berlin"}, 0, 0, "2027-01-02 12:00",
                   "M", "2027-01-04 07:00", "2027-01-04 06:00", "2027-01-04 08:00"},
        WindowCase{"WeekdayRangeOnNow", {"M=Mon-Fri 07:00+2h@Europe/Berlin"}, 0, 0, "2027-01-05 07:30", "M",
                   "2027-01-05 07:00", "2027-01-05 06:00", "2027-01-05 08:00"},
        WindowCase{"RangeWrapsOverTheWeekEnd", {"W=Sat-Mon 10:00+1h@UTC"}, 0, 0, "2027-01-05 00:00", "W",
                   "2027-01-09 10:00", "2027-01-09 10:00", "2027-01-09 11:00"},
        WindowCase{"ShowAcrossMidnightIsOnAfterIt", {"N=Sat 23:00+3h@Europe/Berlin"}, 0, 0, "2027-01-03 00:30", "N",
                   "2027-01-02 23:00", "2027-01-02 22:00", "2027-01-03 01:00"},
        WindowCase{"SpringForwardStartsWhenTheClocksLand", {"S=daily 02:30+1h@Europe/Berlin"}, 0, 0,
                   "2027-03-28 00:00", "S", "2027-03-28 03:00", "2027-03-28 01:00", "2027-03-28 02:00"},
        WindowCase{"SummerTimeMovesTheInstant", {"S=daily 02:30+1h@Europe/Berlin"}, 0, 0, "2027-03-28 02:00", "S",
                   "2027-03-29 02:30", "2027-03-29 00:30", "2027-03-29 01:30"},
        WindowCase{"FallBackStartsAtTheFirstOccurrence", {"F=daily 02:30+1h@Europe/Berlin"}, 0, 0,
                   "2027-10-30 12:00", "F", "2027-10-31 02:30", "2027-10-31 00:30", "2027-10-31 01:30"},
        WindowCase{"FallBackNightLastsItsRealDuration", {"F=2027-10-31 01:30+3h@Europe/Berlin"}, 0, 0,
                   "2027-10-30 12:00", "F", "2027-10-31 01:30", "2027-10-30 23:30", "2027-10-31 02:30"},
        WindowCase{"ZoneFarFromTheMachines", {"J=Sat 23:00+3h@America/New_York"}, 0, 0, "2026-12-10 00:00", "J",
                   "2026-12-12 23:00", "2026-12-13 04:00", "2026-12-13 07:00"},
        WindowCase{"ZoneAheadOfUtcByMoreThanADay", {"K=Mon 08:00+1h@Pacific/Kiritimati"}, 0, 0, "2027-01-03 12:00",
                   "K", "2027-01-04 08:00", "2027-01-03 18:00", "2027-01-03 19:00"},
        WindowCase{"OneOffInThePastNeverRuns", {"O=2020-01-01 10:00+1h@UTC"}, 60, 120, "2027-01-01 00:00", "", "",
                   "", ""},
        WindowCase{"OneOffAhead", {"O=2027-05-01 10:00+1h@UTC"}, 0, 0, "2027-01-01 00:00", "O", "2027-05-01 10:00",
                   "2027-05-01 10:00", "2027-05-01 11:00"},
        WindowCase{"PreRollAndPostRollWidenTheStretch", {"R=daily 07:00+1h@UTC"}, 60, 120, "2027-01-01 00:00", "R",
                   "2027-01-01 07:00", "2027-01-01 06:59", "2027-01-01 08:02"},
        WindowCase{"PostRollKeepsAnEndedShowOn", {"R=daily 07:00+1h@UTC"}, 60, 120, "2027-01-01 08:01", "R",
                   "2027-01-01 07:00", "2027-01-01 06:59", "2027-01-01 08:02"},
        WindowCase{"OverlappingSchedulesMakeOneStretch",
                   {"B=daily 08:30+1h@UTC", "A=daily 08:00+1h@UTC", "C=daily 09:31+1h@UTC"}, 0, 60,
                   "2027-01-01 00:00", "A", "2027-01-01 08:00", "2027-01-01 08:00", "2027-01-01 10:32"},
        WindowCase{"SeparateShowsStayApart", {"A=daily 08:00+1h@UTC", "B=daily 10:00+1h@UTC"}, 60, 120,
                   "2027-01-01 00:00", "A", "2027-01-01 08:00", "2027-01-01 07:59", "2027-01-01 09:02"}),
    [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.name); });

TEST(ShowWindowScheduledTest, AShowIsKnownByItsNameAndStart) {
  const auto schedules = Schedules({"M=Mon-Fri 07:00+2h@Europe/Berlin"});
  const auto window = ShowWindow::FirstEndingAfter(schedules, Rolls{}, At("2027-01-05 06:30"));
  ASSERT_TRUE(window.has_value());
  EXPECT_TRUE(ShowWindow::Scheduled(schedules, window->show));
  EXPECT_TRUE(ShowWindow::Scheduled(Schedules({"M=Tue 07:00+3h@Europe/Berlin"}), window->show));
  EXPECT_FALSE(ShowWindow::Scheduled(Schedules({"M=Mon-Fri 07:30+2h@Europe/Berlin"}), window->show));
  EXPECT_FALSE(ShowWindow::Scheduled(Schedules({"Other=Mon-Fri 07:00+2h@Europe/Berlin"}), window->show));
}

}  // namespace

#include "schedule/Schedule.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// An option as the recorder takes it, the settings value the program
// writes for it, and the option it writes back.
struct TextCase {
  const char* option;
  const char* value;
  const char* canonicalOption;
};

void PrintTo(const TextCase& row, std::ostream* out) { *out << row.option; }

class ScheduleTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ScheduleTextTest, BothFormsReadBackWhatTheyWrite) {
  const TextCase& row = GetParam();
  Schedule fromOption;
  std::string error;
  ASSERT_TRUE(ParseScheduleOption(row.option, fromOption, error)) << error;
  EXPECT_EQ(ScheduleValue(fromOption), row.value);
  EXPECT_EQ(ScheduleOption(fromOption), row.canonicalOption);
  Schedule fromValue;
  ASSERT_TRUE(ParseScheduleValue(row.value, fromValue, error)) << error;
  EXPECT_EQ(fromValue, fromOption);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ScheduleTextTest,
    ::testing::Values(
        TextCase{"Night Jazz=Sat 23:00+3h@America/New_York", "Night Jazz|Sat|23:00|3h|America/New_York",
                 "Night Jazz=Sat 23:00+3h@America/New_York"},
        TextCase{"Morning Show=mon-FRI 7:00+2h", "Morning Show|Mon-Fri|07:00|2h|", "Morning Show=Mon-Fri 07:00+2h"},
        TextCase{"W=Sat,Sun 10:00:30+1h30m@UTC", "W|Sat,Sun|10:00:30|1h30m|UTC", "W=Sat,Sun 10:00:30+1h30m@UTC"},
        TextCase{"Wrap=Fri-Mon 06:00+45s", "Wrap|Mon,Fri-Sun|06:00|45s|", "Wrap=Mon,Fri-Sun 06:00+45s"},
        TextCase{"a=b=Tuesday,thu 00:00+90m", "a=b|Tue,Thu|00:00|1h30m|", "a=b=Tue,Thu 00:00+1h30m"},
        TextCase{"D=DAILY 23:59+24h", "D|daily|23:59|24h|", "D=daily 23:59+24h"},
        TextCase{"Once=2027-10-31 02:30+1h@Europe/Berlin", "Once|2027-10-31|02:30|1h|Europe/Berlin",
                 "Once=2027-10-31 02:30+1h@Europe/Berlin"}));

TEST(ScheduleValueTest, SplitFlagAndEmptyZoneAreKept) {
  Schedule schedule;
  std::string error;
  ASSERT_TRUE(ParseScheduleValue(" Talk | Mon | 18:00 | 1h |  | split ", schedule, error)) << error;
  EXPECT_TRUE(schedule.splitTitles);
  EXPECT_TRUE(schedule.zone.empty());
  EXPECT_EQ(ScheduleValue(schedule), "Talk|Mon|18:00|1h||split");
  ASSERT_TRUE(ParseScheduleValue("Talk|Mon|18:00|1h", schedule, error)) << error;
  EXPECT_FALSE(schedule.splitTitles);
}

// Bad text is refused with a reason naming the part at fault, and the
// schedule is left as it was.
TEST(ScheduleTextErrorTest, BadPartsAreNamed) {
  const struct {
    const char* text;
    bool option;
    const char* reason;
  } rows[] = {
      {"X=Mox 07:00+1h", true, "days 'Mox'"},
      {"X=Mon-Fri-Sat 07:00+1h", true, "days"},
      {"X=2027-02-30 07:00+1h", true, "days '2027-02-30'"},
      {"X=Mon 24:00+1h", true, "start '24:00'"},
      {"X=Mon 7:5+1h", true, "start '7:5'"},
      {"X=Mon 07:00+0h", true, "duration '0h'"},
      {"X=Mon 07:00+25h", true, "duration '25h'"},
      {"X=Mon 07:00+30m1h", true, "duration '30m1h'"},
      {"X=Mon 07:00+1h@Europe/Nowhere", true, "unknown time zone 'Europe/Nowhere'"},
      {"=Mon 07:00+1h", true, "show name"},
      {"X Mon 07:00+1h", true, "SHOW=DAYS"},
      {"X=Mon 07:00", true, "SHOW=DAYS"},
      {"X|Mon|07:00", false, "SHOW|DAYS"},
      {"|Mon|07:00|1h|", false, "no show name"},
      {"X|Mon|07:00|1h|UTC|splat", false, "'splat'"},
      {"X|Mon|07:00|1h|Mars/Olympus", false, "unknown time zone"},
  };
  for (const auto& row : rows) {
    Schedule schedule;
    schedule.show = "untouched";
    std::string error;
    const bool parsed =
        row.option ? ParseScheduleOption(row.text, schedule, error) : ParseScheduleValue(row.text, schedule, error);
    EXPECT_FALSE(parsed) << row.text;
    EXPECT_NE(error.find(row.reason), std::string::npos) << row.text << " gave: " << error;
    EXPECT_EQ(schedule.show, "untouched") << row.text;
  }
}

}  // namespace

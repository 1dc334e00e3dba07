#pragma once

#include <date/date.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// When an entry records a show: every day, on some weekdays, or once on a
// date, from a local start time in a time zone for a duration. A plain value;
// its text forms are read and written by the free functions below, and the
// instants it stands for are worked out by ShowTimes.
//
// Two text forms:
//   - the settings file's, one schedule per key, fields split by '|':
//       "Morning Show|Mon-Fri|07:00|2h|Europe/Berlin"
//     an empty zone field means the system's zone; a sixth field "split"
//     asks for title splitting inside the show.
//   - the recorder's --schedule option:
//       "Night Jazz=Sat 23:00+3h@America/New_York"
//     SHOW=DAYS HH:MM[:SS]+DURATION[@ZONE].
// DAYS is "daily", weekdays and ranges of them ("Mon-Fri", "Sat,Sun",
// "Fri-Mon" wraps over the week end), or a date "YYYY-MM-DD". DURATION is
// hours, minutes and seconds as "2h", "90m", "45s", "1h30m". Weekday names
// and the word daily are read without regard to case; full names
// ("Monday") are read too. The writers give the canonical form, so a value
// the program wrote reads back equal.
//
// Stateless; any thread. Zone names are checked against the system's time
// zone database (Howard Hinnant's date/tz on /usr/share/zoneinfo).
struct Schedule {
  enum class Kind : uint8_t { Daily, Weekly, Once };

  // A show never runs longer than a day.
  static constexpr std::chrono::seconds kMaxDuration{24 * 3600};

  std::string show;  // never empty; no '|' in the settings form
  Kind kind = Kind::Daily;
  // Weekly: bit n for the weekday with C encoding n (0 Sunday ... 6 Saturday).
  uint8_t weekdays = 0;
  date::year_month_day date{};         // Once
  std::chrono::seconds start{0};       // local time of day, 00:00:00 to 23:59:59
  std::chrono::seconds duration{3600};  // 1 s to kMaxDuration
  std::string zone;                    // IANA name; "" is the system's zone
  bool splitTitles = false;            // one file per title, in a folder for the show

  bool operator==(const Schedule&) const = default;
};

// The settings form. False with a reason ("unknown weekday 'Mox'") when
// text is not one; schedule is then unchanged.
bool ParseScheduleValue(std::string_view text, Schedule& schedule, std::string& error);
std::string ScheduleValue(const Schedule& schedule);

// The --schedule form, likewise.
bool ParseScheduleOption(std::string_view text, Schedule& schedule, std::string& error);
std::string ScheduleOption(const Schedule& schedule);

// The parts, each as both forms write it.
bool ParseScheduleDays(std::string_view text, Schedule& schedule, std::string& error);
std::string ScheduleDaysText(const Schedule& schedule);
bool ParseTimeOfDay(std::string_view text, std::chrono::seconds& time);
std::string TimeOfDayText(std::chrono::seconds time);  // "07:00", "07:00:30"
bool ParseShowDuration(std::string_view text, std::chrono::seconds& duration);
std::string ShowDurationText(std::chrono::seconds duration);  // "1h30m"
// Whether the time zone database knows name ("" counts as the system zone).
bool KnownZone(const std::string& name);

// For lists and tooltips: "Mon-Fri 07:00 for 2h (Europe/Berlin)".
std::string DescribeSchedule(const Schedule& schedule);

#pragma once

#include <date/date.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "schedule/Schedule.h"

namespace zones {
class Zone;
}

// One show of a schedule: the instants it starts and ends, and its start as
// the clocks of its zone show it, which names its file.
struct Show {
  std::string name;
  date::sys_seconds start{};
  date::sys_seconds end{};
  date::local_seconds localStart{};  // in zone
  std::string zone;                  // the zone's name, the system's resolved
  bool splitTitles = false;

  bool operator==(const Show&) const = default;
};

// The instants a Schedule stands for, in its time zone, from the system's
// time zone database (date/tz, through TimeZones): a local start that the spring-forward hour
// skips starts at the first instant after the gap (the moment the clocks
// jump); one that the fall-back hour repeats starts at its first
// occurrence. A show lasts its duration in real time, also across midnight
// and across a change of the clocks. A one-off date that has passed gives no
// show. A schedule whose zone the database does not know gives none either.
//
// Stateless; any thread (the database loads each zone once, thread-safely).
class ShowTimes {
 public:
  // The zone of name ("" or unknown: the system's); never null.
  static const zones::Zone* Zone(const std::string& name);
  // The system's zone name: TZ when it names a known zone, else
  // /etc/localtime's, else "UTC".
  static const std::string& SystemZoneName();

  // The first show of schedule that ends after `after` (so one that is on
  // at that instant, or else the next); nullopt when there is none.
  static std::optional<Show> FirstEndingAfter(const Schedule& schedule, date::sys_seconds after);
  // The shows of schedule that start in [from, to), in order; at most a
  // week and a half apart is looked at.
  static std::vector<Show> StartingBetween(const Schedule& schedule, date::sys_seconds from, date::sys_seconds to);

  // The instant a local time names in zone, by the rules above.
  static date::sys_seconds Instant(const zones::Zone& zone, date::local_seconds local);

  // "Sat 2026-12-12 23:00 America/New_York = Sun 05:00 Europe/Berlin": the
  // show's start in its zone and, when that differs, in the system's (with
  // its weekday when the day differs).
  static std::string DescribeStart(const Show& show);
  // instant as the system's clocks show it: "23:00", with the weekday first
  // when it is not on the day of reference ("Sun 01:00").
  static std::string LocalClock(date::sys_seconds instant, date::sys_seconds reference);
  // The show's local start: "YYYY-MM-DD" and "HHMM", for its file.
  static std::string LocalDate(const Show& show);
  static std::string LocalHourMinute(const Show& show);
};

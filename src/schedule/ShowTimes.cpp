#include "schedule/ShowTimes.h"

#include <cstdlib>

#include "schedule/TimeZones.h"

namespace {

using date::days;
using date::local_days;
using date::local_seconds;
using date::sys_seconds;

// A week and a half: every weekly show has a start in any such stretch.
constexpr int kDaysLookedAt = 11;

bool OnDay(const Schedule& schedule, local_days day) {
  switch (schedule.kind) {
    case Schedule::Kind::Daily:
      return true;
    case Schedule::Kind::Weekly:
      return (schedule.weekdays & (1u << date::weekday{day}.c_encoding())) != 0;
    case Schedule::Kind::Once:
      return day == local_days{schedule.date};
  }
  return false;
}

Show MakeShow(const Schedule& schedule, const zones::Zone& zone, local_days day) {
  Show show;
  show.name = schedule.show;
  show.start = ShowTimes::Instant(zone, day + schedule.start);
  show.end = show.start + schedule.duration;
  show.localStart = zone.ToLocal(show.start);
  show.zone = zone.Name();
  show.splitTitles = schedule.splitTitles;
  return show;
}

local_days LocalDay(const zones::Zone& zone, sys_seconds instant) { return date::floor<days>(zone.ToLocal(instant)); }

const zones::Zone* FindZone(const std::string& name) { return TimeZones::Locate(name); }

std::string FindSystemZoneName() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, before any schedule is evaluated
  if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
    const std::string name(tz[0] == ':' ? tz + 1 : tz);
    if (const zones::Zone* zone = FindZone(name)) {
      return zone->Name();
    }
  }
  const std::string current = TimeZones::CurrentName();
  return current.empty() ? "UTC" : current;
}

}  // namespace

const std::string& ShowTimes::SystemZoneName() {
  static const std::string name = FindSystemZoneName();
  return name;
}

const zones::Zone* ShowTimes::Zone(const std::string& name) {
  if (!name.empty()) {
    if (const zones::Zone* zone = FindZone(name)) {
      return zone;
    }
  }
  static const zones::Zone* const system = [] {
    const zones::Zone* zone = FindZone(SystemZoneName());
    return zone != nullptr ? zone : &TimeZones::Utc();
  }();
  return system;
}

sys_seconds ShowTimes::Instant(const zones::Zone& zone, local_seconds local) { return zone.Instant(local); }

std::optional<Show> ShowTimes::FirstEndingAfter(const Schedule& schedule, sys_seconds after) {
  if (!schedule.zone.empty() && FindZone(schedule.zone) == nullptr) {
    return std::nullopt;
  }
  const zones::Zone& zone = *Zone(schedule.zone);
  if (schedule.kind == Schedule::Kind::Once) {
    Show show = MakeShow(schedule, zone, local_days{schedule.date});
    return show.end > after ? std::optional<Show>(std::move(show)) : std::nullopt;
  }
  // Two days back covers a show up to a day long begun the day before,
  // whatever the offsets do.
  const local_days first = LocalDay(zone, after - schedule.duration) - days{2};
  for (int i = 0; i < kDaysLookedAt; ++i) {
    const local_days day = first + days{i};
    if (OnDay(schedule, day)) {
      Show show = MakeShow(schedule, zone, day);
      if (show.end > after) {
        return show;
      }
    }
  }
  return std::nullopt;
}

std::vector<Show> ShowTimes::StartingBetween(const Schedule& schedule, sys_seconds from, sys_seconds to) {
  std::vector<Show> shows;
  if (to <= from || (!schedule.zone.empty() && FindZone(schedule.zone) == nullptr)) {
    return shows;
  }
  const zones::Zone& zone = *Zone(schedule.zone);
  const local_days first = LocalDay(zone, from) - days{1};
  const local_days last = std::min(LocalDay(zone, to), first + days{kDaysLookedAt}) + days{1};
  for (local_days day = first; day <= last; day += days{1}) {
    if (OnDay(schedule, day)) {
      Show show = MakeShow(schedule, zone, day);
      if (show.start >= from && show.start < to) {
        shows.push_back(std::move(show));
      }
    }
  }
  return shows;
}

std::string ShowTimes::DescribeStart(const Show& show) {
  std::string text = date::format("%a %F %H:%M ", show.localStart) + show.zone;
  const zones::Zone& system = *Zone("");
  if (system.Name() != show.zone) {
    const local_seconds here = system.ToLocal(show.start);
    const bool otherDay = date::floor<days>(here) != date::floor<days>(show.localStart);
    text += " = " + date::format(otherDay ? "%a %H:%M " : "%H:%M ", here) + system.Name();
  }
  return text;
}

std::string ShowTimes::LocalClock(sys_seconds instant, sys_seconds reference) {
  const zones::Zone& system = *Zone("");
  const local_seconds here = system.ToLocal(instant);
  const bool otherDay = date::floor<days>(here) != LocalDay(system, reference);
  return date::format(otherDay ? "%a %H:%M" : "%H:%M", here);
}

std::string ShowTimes::LocalDate(const Show& show) { return date::format("%F", show.localStart); }

std::string ShowTimes::LocalHourMinute(const Show& show) { return date::format("%H%M", show.localStart); }

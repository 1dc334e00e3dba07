#include "schedule/Schedule.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "schedule/TimeZones.h"
#include "text/ByteText.h"

namespace {

// Monday first, as the week is read in the forms; index = C encoding.
constexpr std::array<const char*, 7> kShortNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                   "thursday", "friday", "saturday"};
constexpr std::array<unsigned, 7> kWeekOrder = {1, 2, 3, 4, 5, 6, 0};
constexpr std::string_view kDaily = "daily";
constexpr std::string_view kSplit = "split";

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A run of decimal digits as a number; false for anything else or more
// than nine digits.
bool Digits(std::string_view text, unsigned& value) {
  if (text.empty() || text.size() > 9) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

bool Weekday(std::string_view name, unsigned& day) {
  for (unsigned i = 0; i < 7; ++i) {
    if (ByteText::EqualsNoCase(name, kShortNames[i]) || ByteText::EqualsNoCase(name, kLongNames[i])) {
      day = i;
      return true;
    }
  }
  return false;
}

bool IsoDate(std::string_view text, date::year_month_day& day) {
  unsigned y = 0;
  unsigned m = 0;
  unsigned d = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !Digits(text.substr(0, 4), y) ||
      !Digits(text.substr(5, 2), m) || !Digits(text.substr(8, 2), d)) {
    return false;
  }
  day = date::year{static_cast<int>(y)} / date::month{m} / date::day{d};
  return day.ok();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) {
      return parts;
    }
    from = at + 1;
  }
}

bool ParseZone(std::string_view text, std::string& zone, std::string& error) {
  const std::string name(ByteText::Trim(text));
  if (!KnownZone(name)) {
    const std::string failure = TimeZones::Failure();
    error = "unknown time zone " + Quoted(name) + (failure.empty() ? "" : " (" + failure + ")");
    return false;
  }
  zone = name;
  return true;
}

bool ParseStart(std::string_view text, Schedule& schedule, std::string& error) {
  if (!ParseTimeOfDay(ByteText::Trim(text), schedule.start)) {
    error = "start " + Quoted(ByteText::Trim(text)) + " is not HH:MM or HH:MM:SS";
    return false;
  }
  return true;
}

bool ParseLength(std::string_view text, Schedule& schedule, std::string& error) {
  if (!ParseShowDuration(ByteText::Trim(text), schedule.duration)) {
    error = "duration " + Quoted(ByteText::Trim(text)) + " is not like 2h, 90m, 45s or 1h30m (at most 24h)";
    return false;
  }
  return true;
}

}  // namespace

bool KnownZone(const std::string& name) {
  if (name.empty()) {
    return true;
  }
  return TimeZones::Locate(name) != nullptr;
}

bool ParseTimeOfDay(std::string_view text, std::chrono::seconds& time) {
  const std::vector<std::string_view> parts = Split(text, ':');
  unsigned h = 0;
  unsigned m = 0;
  unsigned s = 0;
  if (parts.size() < 2 || parts.size() > 3 || parts[0].size() > 2 || parts[1].size() != 2 || !Digits(parts[0], h) ||
      !Digits(parts[1], m) || (parts.size() == 3 && (parts[2].size() != 2 || !Digits(parts[2], s)))) {
    return false;
  }
  if (h > 23 || m > 59 || s > 59) {
    return false;
  }
  time = std::chrono::hours(h) + std::chrono::minutes(m) + std::chrono::seconds(s);
  return true;
}

std::string TimeOfDayText(std::chrono::seconds time) {
  const auto total = static_cast<unsigned>(std::clamp<int64_t>(time.count(), 0, 24 * 3600 - 1));
  char text[16];
  if (total % 60 == 0) {
    std::snprintf(text, sizeof text, "%02u:%02u", total / 3600, total / 60 % 60);
  } else {
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", total / 3600, total / 60 % 60, total % 60);
  }
  return text;
}

bool ParseShowDuration(std::string_view text, std::chrono::seconds& duration) {
  // Hours, minutes, seconds, each at most once and in that order.
  constexpr std::string_view kUnits = "hms";
  constexpr std::array<int64_t, 3> kSeconds = {3600, 60, 1};
  int64_t total = 0;
  size_t nextUnit = 0;
  size_t at = 0;
  if (text.empty()) {
    return false;
  }
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
      ++end;
    }
    unsigned value = 0;
    if (end == text.size() || !Digits(text.substr(at, end - at), value)) {
      return false;
    }
    const size_t unit = kUnits.find(ByteText::LowerAscii(text[end]));
    if (unit == std::string_view::npos || unit < nextUnit) {
      return false;
    }
    total += int64_t{value} * kSeconds[unit];
    if (total > Schedule::kMaxDuration.count()) {
      return false;
    }
    nextUnit = unit + 1;
    at = end + 1;
  }
  if (total <= 0) {
    return false;
  }
  duration = std::chrono::seconds(total);
  return true;
}

std::string ShowDurationText(std::chrono::seconds duration) {
  const int64_t total = duration.count();
  std::string text;
  if (total >= 3600) {
    text += std::to_string(total / 3600) + "h";
  }
  if (total % 3600 >= 60) {
    text += std::to_string(total % 3600 / 60) + "m";
  }
  if (total % 60 != 0 || text.empty()) {
    text += std::to_string(total % 60) + "s";
  }
  return text;
}

bool ParseScheduleDays(std::string_view text, Schedule& schedule, std::string& error) {
  text = ByteText::Trim(text);
  if (ByteText::EqualsNoCase(text, kDaily)) {
    schedule.kind = Schedule::Kind::Daily;
    schedule.weekdays = 0;
    return true;
  }
  date::year_month_day day{};
  if (IsoDate(text, day)) {
    schedule.kind = Schedule::Kind::Once;
    schedule.date = day;
    schedule.weekdays = 0;
    return true;
  }
  uint8_t mask = 0;
  for (const std::string_view item : Split(text, ',')) {
    const std::vector<std::string_view> ends = Split(ByteText::Trim(item), '-');
    unsigned first = 0;
    unsigned last = 0;
    if (ends.size() > 2 || !Weekday(ByteText::Trim(ends.front()), first) ||
        !Weekday(ByteText::Trim(ends.back()), last)) {
      error = "days " + Quoted(text) + " are not daily, weekdays (Mon-Fri, Sat,Sun) or a date YYYY-MM-DD";
      return false;
    }
    for (unsigned d = first;; d = (d + 1) % 7) {
      mask = static_cast<uint8_t>(mask | (1u << d));
      if (d == last) {
        break;
      }
    }
  }
  schedule.kind = Schedule::Kind::Weekly;
  schedule.weekdays = mask;
  return true;
}

std::string ScheduleDaysText(const Schedule& schedule) {
  switch (schedule.kind) {
    case Schedule::Kind::Daily:
      return std::string(kDaily);
    case Schedule::Kind::Once:
      return date::format("%F", date::sys_days{schedule.date});
    case Schedule::Kind::Weekly:
      break;
  }
  // Runs of three or more days in Monday-first order become ranges.
  std::string text;
  size_t i = 0;
  while (i < kWeekOrder.size()) {
    if ((schedule.weekdays & (1u << kWeekOrder[i])) == 0) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end + 1 < kWeekOrder.size() && (schedule.weekdays & (1u << kWeekOrder[end + 1])) != 0) {
      ++end;
    }
    const auto append = [&text](unsigned day) {
      if (!text.empty()) {
        text += ',';
      }
      text += kShortNames[day];
    };
    if (end - i >= 2) {
      append(kWeekOrder[i]);
      text += '-';
      text += kShortNames[kWeekOrder[end]];
    } else {
      for (size_t k = i; k <= end; ++k) {
        append(kWeekOrder[k]);
      }
    }
    i = end + 1;
  }
  return text;
}

bool ParseScheduleValue(std::string_view text, Schedule& schedule, std::string& error) {
  const std::vector<std::string_view> fields = Split(text, '|');
  if (fields.size() < 4 || fields.size() > 6) {
    error = Quoted(text) + " is not SHOW|DAYS|HH:MM|DURATION|ZONE";
    return false;
  }
  Schedule read;
  read.show = std::string(ByteText::Trim(fields[0]));
  if (read.show.empty()) {
    error = "no show name in " + Quoted(text);
    return false;
  }
  if (!ParseScheduleDays(fields[1], read, error) || !ParseStart(fields[2], read, error) ||
      !ParseLength(fields[3], read, error) || (fields.size() > 4 && !ParseZone(fields[4], read.zone, error))) {
    return false;
  }
  if (fields.size() == 6) {
    const std::string_view flag = ByteText::Trim(fields[5]);
    if (!flag.empty() && !ByteText::EqualsNoCase(flag, kSplit)) {
      error = "the last field " + Quoted(flag) + " is not 'split'";
      return false;
    }
    read.splitTitles = !flag.empty();
  }
  schedule = std::move(read);
  return true;
}

std::string ScheduleValue(const Schedule& schedule) {
  std::string text = schedule.show + "|" + ScheduleDaysText(schedule) + "|" + TimeOfDayText(schedule.start) + "|" +
                     ShowDurationText(schedule.duration) + "|" + schedule.zone;
  if (schedule.splitTitles) {
    text += "|";
    text += kSplit;
  }
  return text;
}

bool ParseScheduleOption(std::string_view text, Schedule& schedule, std::string& error) {
  const std::string usage = Quoted(text) + " is not SHOW=DAYS HH:MM[:SS]+DURATION[@ZONE]";
  const size_t equals = text.rfind('=');
  if (equals == std::string_view::npos) {
    error = usage;
    return false;
  }
  Schedule read;
  read.show = std::string(ByteText::Trim(text.substr(0, equals)));
  if (read.show.empty() || read.show.find('|') != std::string::npos) {
    error = "the show name in " + Quoted(text) + " is empty or holds a '|'";
    return false;
  }
  std::string_view when = ByteText::Trim(text.substr(equals + 1));
  if (const size_t at = when.find('@'); at != std::string_view::npos) {
    if (!ParseZone(when.substr(at + 1), read.zone, error)) {
      return false;
    }
    when = ByteText::TrimEnd(when.substr(0, at));
  }
  const size_t plus = when.find('+');
  const size_t space = when.rfind(' ', plus);
  if (plus == std::string_view::npos || space == std::string_view::npos) {
    error = usage;
    return false;
  }
  if (!ParseScheduleDays(when.substr(0, space), read, error) ||
      !ParseStart(when.substr(space + 1, plus - space - 1), read, error) ||
      !ParseLength(when.substr(plus + 1), read, error)) {
    return false;
  }
  schedule = std::move(read);
  return true;
}

std::string ScheduleOption(const Schedule& schedule) {
  std::string text = schedule.show + "=" + ScheduleDaysText(schedule) + " " + TimeOfDayText(schedule.start) + "+" +
                     ShowDurationText(schedule.duration);
  if (!schedule.zone.empty()) {
    text += "@" + schedule.zone;
  }
  return text;
}

std::string DescribeSchedule(const Schedule& schedule) {
  return ScheduleDaysText(schedule) + " " + TimeOfDayText(schedule.start) + " for " +
         ShowDurationText(schedule.duration) + " (" + (schedule.zone.empty() ? "local time" : schedule.zone) + ")";
}

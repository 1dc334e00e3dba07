#pragma once

#include <date/date.h>

#include <chrono>
#include <optional>
#include <vector>

#include "schedule/Schedule.h"
#include "schedule/ShowTimes.h"

// How long before a show an entry starts recording and how long after its
// end it stops: stations rarely start a show on the second.
struct Rolls {
  static constexpr std::chrono::seconds kDefaultPre{60};
  static constexpr std::chrono::seconds kDefaultPost{120};

  std::chrono::seconds pre = kDefaultPre;
  std::chrono::seconds post = kDefaultPost;

  bool operator==(const Rolls&) const = default;
};

// The stretch of time one entry records for its shows: from the pre-roll
// before a show to the post-roll after its end, and on to the end (and
// post-roll) of every show of the entry's schedules whose stretch overlaps
// or touches it, so that overlapping schedules make one recording. The
// first show names the recording.
//
// A value type; the functions are pure and may be called from any thread.
struct ShowWindow {
  Show show;                    // the first show of the stretch
  date::sys_seconds from{};     // show.start - pre-roll
  date::sys_seconds until{};    // the last merged show's end + post-roll

  bool operator==(const ShowWindow&) const = default;

  // The first stretch of schedules that ends after now: the one on now, or
  // else the next; nullopt when no schedule has a show left.
  static std::optional<ShowWindow> FirstEndingAfter(const std::vector<Schedule>& schedules, Rolls rolls,
                                                    date::sys_seconds now);
  // The end of the stretch that first opens, as above.
  static date::sys_seconds MergedUntil(const std::vector<Schedule>& schedules, Rolls rolls, const Show& first);
  // Whether one of schedules still has show (same name, same start).
  static bool Scheduled(const std::vector<Schedule>& schedules, const Show& show);
};

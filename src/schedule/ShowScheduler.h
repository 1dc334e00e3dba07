#pragma once

#include <date/date.h>

#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "schedule/Schedule.h"
#include "schedule/ShowClock.h"
#include "schedule/ShowWindow.h"

// What the scheduler switches: one entry's recording.
class ShowTarget {
 public:
  virtual ~ShowTarget() = default;
  // The entry's stretch of shows opened (or was found open): record now.
  // late: the show itself had begun already (a start in the middle of it,
  // a wake-up from suspend), so the recording misses its beginning.
  virtual void ShowStarts(const ShowWindow& window, bool late) = 0;
  // The stretch closed, or its show left the entry's schedules.
  virtual void ShowEnds(const ShowWindow& window) = 0;
};

// Decides when each entry with schedules records: a target per entry, with
// its schedules; the pre-roll and post-roll for all. Update looks only at
// the targets whose next change has come (every target after SetRolls or
// when told that the clock was set), calls ShowStarts and ShowEnds, and
// NextChange tells the owner when to call it again, so that the owner
// sleeps from one edge of a show to the next (WallClockTimer) and costs
// nothing in between.
//
// Rules: a stretch that is open when it is first looked at starts at once
// (late when its show had begun). A target whose schedules change keeps its
// recording as long as its show (same name, same start) is still in them;
// the stretch's end follows the new schedules. A dismissed stretch (the
// user stopped the recording) ends without ShowEnds and nothing restarts it
// before its end; the next one starts as planned.
//
// Targets are borrowed and must stay until Remove. One thread (the owner's
// loop) calls everything; ShowStarts and ShowEnds are called on it and must
// not call back into the scheduler. The clock is borrowed and must outlive
// the scheduler.
class ShowScheduler {
 public:
  explicit ShowScheduler(const ShowClock& clock, Rolls rolls = {});

  ShowScheduler(const ShowScheduler&) = delete;
  ShowScheduler& operator=(const ShowScheduler&) = delete;

  // Adds target or replaces its schedules, and looks at it at once. An
  // empty list removes it as Remove(target, true) does.
  void Set(ShowTarget* target, std::vector<Schedule> schedules);
  // Forgets target; a stretch it records ends first (ShowEnds) when
  // endShow is set.
  void Remove(ShowTarget* target, bool endShow);
  // The user stopped target's recording: its open stretch, if any, ends
  // without ShowEnds. True when a stretch was open.
  bool Dismiss(ShowTarget* target);

  void SetRolls(Rolls newRolls);
  Rolls CurrentRolls() const { return rolls; }

  // Looks at every target whose change is due (every target when
  // everything is set) and switches them.
  void Update(bool everything = false);
  // The earliest instant a target changes next; nullopt when none will.
  std::optional<date::sys_seconds> NextChange() const;

  // target's open stretch (dismissed or not), or nullopt.
  std::optional<ShowWindow> Current(const ShowTarget* target) const;
  bool Dismissed(const ShowTarget* target) const;
  // target's next stretch to open (after the open one); nullopt when none.
  std::optional<ShowWindow> Next(const ShowTarget* target) const;
  // The stretch that opens soonest among every target's next one, and
  // whose it is.
  std::optional<std::pair<const ShowTarget*, ShowWindow>> Soonest() const;
  size_t TargetCount() const { return tracks.size(); }

 private:
  struct Track {
    ShowTarget* target = nullptr;  // not owned
    std::vector<Schedule> schedules;
    std::optional<ShowWindow> current;
    bool dismissed = false;
    std::optional<ShowWindow> next;
    date::sys_seconds due = date::sys_seconds::max();  // look again then
  };

  void Evaluate(Track& track, ShowClock::Instant now);
  void End(Track& track);
  void SetDue(Track& track, date::sys_seconds due);
  Track* Find(const ShowTarget* target);
  const Track* Find(const ShowTarget* target) const;

  const ShowClock& clock;
  Rolls rolls;
  // Thousands of targets: found by a map, the next change kept sorted, so
  // that neither adding them nor a wake-up looks at all of them.
  std::vector<Track> tracks;
  std::unordered_map<const ShowTarget*, size_t> trackIndex;  // into tracks
  std::multiset<date::sys_seconds> dues;                      // every track's due but max()
};

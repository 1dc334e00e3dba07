#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "schedule/Schedule.h"
#include "schedule/ShowClock.h"
#include "schedule/ShowScheduler.h"
#include "schedule/ShowSwitch.h"
#include "schedule/WallClockTimer.h"

class RecordingWriter;
class ServerStream;

// Records the shows of a list of entries, for the window and the recorder
// alike: one ShowScheduler for all, a ShowSwitch per entry (found by its
// stream), and the wall-clock timer the owner's loop waits on. The owner
// watches WakeFd (poll(2), a QSocketNotifier) and calls OnWake when it is
// readable; between two edges of a show nothing runs.
//
// Lines: each switch's lines ("show Jazz starts ...") and, whenever an
// entry is between shows and its next show changed, "next: Jazz, Sat
// 2026-12-12 23:00 America/New_York = 05:00 Europe/Berlin", each begun
// with the entry's label.
//
// Ownership: owns the scheduler, the timer and the switches. Writers and
// streams are borrowed from Attach until Detach. The clock is borrowed and
// must outlive the runner.
//
// Threads: one thread (the window's user-interface thread, the recorder's
// main thread) calls everything. The switches' counters may be read from
// any thread while their entry is attached.
class ScheduleRunner {
 public:
  // Lines as the switches give them.
  using Line = ShowSwitch::Line;

  // Throws std::system_error when the system gives no timer.
  explicit ScheduleRunner(const ShowClock& clock = ShowClock::System());

  ScheduleRunner(const ScheduleRunner&) = delete;
  ScheduleRunner& operator=(const ScheduleRunner&) = delete;

  void SetRolls(Rolls rolls);
  Rolls CurrentRolls() const { return scheduler.CurrentRolls(); }

  // Makes an entry known, without schedules; its switch lives until
  // Detach. Returns the switch (for the metrics). Attaching again only
  // changes the label.
  const ShowSwitch* Attach(ServerStream* stream, RecordingWriter* writer, std::string label);
  // The entry's schedules from now on (see ShowScheduler::Set): a show on
  // now starts at once, a running one goes on while it is still planned.
  void SetSchedules(const ServerStream* stream, std::vector<Schedule> schedules);
  // The entry goes: a show it records is cut short (its file counts as
  // partial). The stream must be stopped before, so that no audio follows;
  // or, closeFile false, the caller ends the show in the writer itself
  // (RecordingWriter::EndShow(false)) once the stream's worker has ended.
  // True when a show was on.
  bool Detach(const ServerStream* stream, bool closeFile = true);
  // The user stopped the entry's stream: a show it recorded ends as
  // partial, and the next one starts as planned. True when a show was on.
  // closeFile false: the caller ends the show in the writer itself
  // (RecordingWriter::EndShowAtStop, for a stop that does not wait).
  bool UserStopped(const ServerStream* stream, bool closeFile = true);

  int WakeFd() const { return timer.Fd(); }
  // The timer's descriptor was readable: switches what is due (everything
  // after a change of the wall clock) and sets the timer anew.
  void OnWake();
  // Looks at every entry again, as after a change of the clock (tests).
  void Recheck();

  std::vector<Line> TakeLines();
  // Whether the entry has schedules; its stretch on now and the next one.
  bool Scheduled(const ServerStream* stream) const;
  std::optional<ShowWindow> Current(const ServerStream* stream) const;
  std::optional<ShowWindow> Next(const ServerStream* stream) const;
  // The next stretch of all entries and whose stream it is.
  std::optional<std::pair<const ServerStream*, ShowWindow>> Soonest() const;
  std::optional<date::sys_seconds> NextChange() const { return scheduler.NextChange(); }
  // Whether any entry records a show now.
  bool AnyOnShow() const;

 private:
  struct Entry {
    const ServerStream* stream = nullptr;
    std::unique_ptr<ShowSwitch> showSwitch;
    bool scheduled = false;
    std::optional<ShowWindow> announced;  // the next stretch last told
  };

  Entry* Find(const ServerStream* stream);
  const Entry* Find(const ServerStream* stream) const;
  // Tells the switch its next stretch, and says it when it changed while
  // no show is on.
  void Announce(Entry& entry);
  void Rearm();

  WallClockTimer timer;
  ShowScheduler scheduler;
  std::vector<Entry> entries;
  std::unordered_map<const ServerStream*, size_t> entryIndex;  // into entries
  std::vector<Line> announcements;
};

#include "schedule/ShowWindow.h"

namespace {

// A stretch grows by at most this many merges; schedules that chain
// without end (a daily 24-hour show) stop growing there, and the next
// stretch goes on seamlessly from its end.
constexpr int kMaxMerges = 32;

}  // namespace

std::optional<ShowWindow> ShowWindow::FirstEndingAfter(const std::vector<Schedule>& schedules, Rolls rolls,
                                                       date::sys_seconds now) {
  std::optional<Show> first;
  for (const Schedule& schedule : schedules) {
    std::optional<Show> show = ShowTimes::FirstEndingAfter(schedule, now - rolls.post);
    if (show && (!first || show->start < first->start)) {
      first = std::move(show);
    }
  }
  if (!first) {
    return std::nullopt;
  }
  ShowWindow window;
  window.from = first->start - rolls.pre;
  window.until = MergedUntil(schedules, rolls, *first);
  window.show = std::move(*first);
  return window;
}

date::sys_seconds ShowWindow::MergedUntil(const std::vector<Schedule>& schedules, Rolls rolls, const Show& first) {
  date::sys_seconds until = first.end + rolls.post;
  for (int merge = 0; merge < kMaxMerges; ++merge) {
    bool grew = false;
    for (const Schedule& schedule : schedules) {
      // Shows whose pre-roll begins at or before the end so far.
      for (const Show& show :
           ShowTimes::StartingBetween(schedule, first.start, until + rolls.pre + std::chrono::seconds{1})) {
        if (show.end + rolls.post > until) {
          until = show.end + rolls.post;
          grew = true;
        }
      }
    }
    if (!grew) {
      break;
    }
  }
  return until;
}

bool ShowWindow::Scheduled(const std::vector<Schedule>& schedules, const Show& show) {
  for (const Schedule& schedule : schedules) {
    for (const Show& found : ShowTimes::StartingBetween(schedule, show.start, show.start + std::chrono::seconds{1})) {
      if (found.name == show.name) {
        return true;
      }
    }
  }
  return false;
}

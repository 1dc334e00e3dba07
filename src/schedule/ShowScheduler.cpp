#include "schedule/ShowScheduler.h"


namespace {

// A show joined this long after its start still counts as whole: the timer
// fires a moment after the second it was set for.
constexpr std::chrono::seconds kLateAfter{1};

}  // namespace

ShowScheduler::ShowScheduler(const ShowClock& showClock, Rolls initialRolls) : clock(showClock), rolls(initialRolls) {}

ShowScheduler::Track* ShowScheduler::Find(const ShowTarget* target) {
  const auto it = trackIndex.find(target);
  return it == trackIndex.end() ? nullptr : &tracks[it->second];
}

const ShowScheduler::Track* ShowScheduler::Find(const ShowTarget* target) const {
  const auto it = trackIndex.find(target);
  return it == trackIndex.end() ? nullptr : &tracks[it->second];
}

void ShowScheduler::SetDue(Track& track, date::sys_seconds due) {
  if (track.due == due) {
    return;
  }
  if (track.due != date::sys_seconds::max()) {
    dues.erase(dues.find(track.due));
  }
  track.due = due;
  if (due != date::sys_seconds::max()) {
    dues.insert(due);
  }
}

void ShowScheduler::Set(ShowTarget* target, std::vector<Schedule> schedules) {
  if (target == nullptr) {
    return;
  }
  if (schedules.empty()) {
    Remove(target, true);
    return;
  }
  Track* track = Find(target);
  if (track == nullptr) {
    trackIndex.emplace(target, tracks.size());
    tracks.push_back(Track{});
    track = &tracks.back();
    track->target = target;
  }
  track->schedules = std::move(schedules);
  Evaluate(*track, clock.Now());
}

void ShowScheduler::Remove(ShowTarget* target, bool endShow) {
  const auto found = trackIndex.find(target);
  if (found == trackIndex.end()) {
    return;
  }
  const size_t index = found->second;
  Track& track = tracks[index];
  if (endShow && track.current) {
    End(track);
  }
  SetDue(track, date::sys_seconds::max());
  trackIndex.erase(found);
  // The last track takes the removed one's place.
  if (index + 1 != tracks.size()) {
    tracks[index] = std::move(tracks.back());
    trackIndex[tracks[index].target] = index;
  }
  tracks.pop_back();
}

bool ShowScheduler::Dismiss(ShowTarget* target) {
  Track* track = Find(target);
  if (track == nullptr || !track->current || track->dismissed) {
    return false;
  }
  track->dismissed = true;
  return true;
}

void ShowScheduler::SetRolls(Rolls newRolls) {
  rolls = newRolls;
  Update(true);
}

void ShowScheduler::Update(bool everything) {
  const ShowClock::Instant now = clock.Now();
  if (!everything && (dues.empty() || *dues.begin() > now)) {
    return;
  }
  for (Track& track : tracks) {
    if (everything || track.due <= now) {
      Evaluate(track, now);
    }
  }
}

void ShowScheduler::End(Track& track) {
  const ShowWindow ended = std::move(*track.current);
  const bool dismissed = track.dismissed;
  track.current.reset();
  track.dismissed = false;
  if (!dismissed) {
    track.target->ShowEnds(ended);
  }
}

void ShowScheduler::Evaluate(Track& track, ShowClock::Instant now) {
  const auto second = date::floor<std::chrono::seconds>(now);
  if (track.current) {
    if (ShowWindow::Scheduled(track.schedules, track.current->show)) {
      // Still planned; its end follows the schedules as they are now.
      track.current->until = ShowWindow::MergedUntil(track.schedules, rolls, track.current->show);
    }
    // Also when the clock was set back to before the stretch.
    if (!ShowWindow::Scheduled(track.schedules, track.current->show) || now >= track.current->until ||
        now < track.current->from) {
      End(track);
    }
  }
  if (!track.current) {
    std::optional<ShowWindow> window = ShowWindow::FirstEndingAfter(track.schedules, rolls, second);
    if (window && window->from <= now) {
      track.current = std::move(window);
      track.dismissed = false;
      track.target->ShowStarts(*track.current, now >= track.current->show.start + kLateAfter);
    }
  }
  if (track.current) {
    track.next = ShowWindow::FirstEndingAfter(track.schedules, rolls, track.current->until);
    SetDue(track, track.current->until);
  } else {
    track.next = ShowWindow::FirstEndingAfter(track.schedules, rolls, second);
    SetDue(track, track.next ? track.next->from : date::sys_seconds::max());
  }
}

std::optional<date::sys_seconds> ShowScheduler::NextChange() const {
  if (dues.empty()) {
    return std::nullopt;
  }
  return *dues.begin();
}

std::optional<ShowWindow> ShowScheduler::Current(const ShowTarget* target) const {
  const Track* track = Find(target);
  return track == nullptr ? std::nullopt : track->current;
}

bool ShowScheduler::Dismissed(const ShowTarget* target) const {
  const Track* track = Find(target);
  return track != nullptr && track->dismissed;
}

std::optional<ShowWindow> ShowScheduler::Next(const ShowTarget* target) const {
  const Track* track = Find(target);
  return track == nullptr ? std::nullopt : track->next;
}

std::optional<std::pair<const ShowTarget*, ShowWindow>> ShowScheduler::Soonest() const {
  std::optional<std::pair<const ShowTarget*, ShowWindow>> soonest;
  for (const Track& track : tracks) {
    if (track.next && (!soonest || track.next->from < soonest->second.from)) {
      soonest.emplace(track.target, *track.next);
    }
  }
  return soonest;
}

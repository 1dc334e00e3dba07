#include "app/ScheduleRunner.h"

#include <algorithm>
#include <iterator>

ScheduleRunner::ScheduleRunner(const ShowClock& clock) : scheduler(clock) {}

ScheduleRunner::Entry* ScheduleRunner::Find(const ServerStream* stream) {
  const auto it = entryIndex.find(stream);
  return it == entryIndex.end() ? nullptr : &entries[it->second];
}

const ScheduleRunner::Entry* ScheduleRunner::Find(const ServerStream* stream) const {
  const auto it = entryIndex.find(stream);
  return it == entryIndex.end() ? nullptr : &entries[it->second];
}

void ScheduleRunner::SetRolls(Rolls rolls) {
  if (rolls == scheduler.CurrentRolls()) {
    return;
  }
  scheduler.SetRolls(rolls);
  for (Entry& entry : entries) {
    Announce(entry);
  }
  Rearm();
}

const ShowSwitch* ScheduleRunner::Attach(ServerStream* stream, RecordingWriter* writer, std::string label) {
  if (Entry* known = Find(stream)) {
    known->showSwitch->SetLabel(std::move(label));
    return known->showSwitch.get();
  }
  Entry entry;
  entry.stream = stream;
  entry.showSwitch = std::make_unique<ShowSwitch>(*writer, *stream, std::move(label));
  entryIndex.emplace(stream, entries.size());
  entries.push_back(std::move(entry));
  return entries.back().showSwitch.get();
}

void ScheduleRunner::SetSchedules(const ServerStream* stream, std::vector<Schedule> schedules) {
  Entry* entry = Find(stream);
  if (entry == nullptr || (!entry->scheduled && schedules.empty())) {
    return;
  }
  entry->scheduled = !schedules.empty();
  scheduler.Set(entry->showSwitch.get(), std::move(schedules));
  Announce(*entry);
  Rearm();
}

bool ScheduleRunner::Detach(const ServerStream* stream, bool closeFile) {
  const auto found = entryIndex.find(stream);
  if (found == entryIndex.end()) {
    return false;
  }
  const size_t index = found->second;
  Entry& entry = entries[index];
  scheduler.Remove(entry.showSwitch.get(), false);
  const bool onShow = entry.showSwitch->OnShow();
  entry.showSwitch->CutShort("the entry was removed", closeFile);
  auto lines = entry.showSwitch->TakeLines();
  announcements.insert(announcements.end(), std::make_move_iterator(lines.begin()),
                       std::make_move_iterator(lines.end()));
  entryIndex.erase(found);
  // The last entry takes the removed one's place.
  if (index + 1 != entries.size()) {
    entries[index] = std::move(entries.back());
    entryIndex[entries[index].stream] = index;
  }
  entries.pop_back();
  Rearm();
  return onShow;
}

bool ScheduleRunner::UserStopped(const ServerStream* stream, bool closeFile) {
  Entry* entry = Find(stream);
  if (entry == nullptr || !scheduler.Dismiss(entry->showSwitch.get())) {
    return false;
  }
  entry->showSwitch->CutShort("stopped by hand; the next show starts as planned", closeFile);
  return true;
}

void ScheduleRunner::OnWake() {
  const WallClockTimer::Wake wake = timer.Consume();
  scheduler.Update(wake == WallClockTimer::Wake::ClockChanged);
  for (Entry& entry : entries) {
    if (entry.scheduled) {
      Announce(entry);
    }
  }
  Rearm();
}

void ScheduleRunner::Recheck() {
  scheduler.Update(true);
  for (Entry& entry : entries) {
    if (entry.scheduled) {
      Announce(entry);
    }
  }
  Rearm();
}

void ScheduleRunner::Announce(Entry& entry) {
  const std::optional<ShowWindow> next = scheduler.Next(entry.showSwitch.get());
  entry.showSwitch->SetNext(next);
  if (entry.showSwitch->OnShow() || next == entry.announced) {
    return;
  }
  entry.announced = next;
  if (next) {
    entry.showSwitch->Note("next: " + next->show.name + ", " + ShowTimes::DescribeStart(next->show));
  }
}

void ScheduleRunner::Rearm() {
  const std::optional<date::sys_seconds> next = scheduler.NextChange();
  timer.Arm(next ? std::optional<WallClockTimer::Instant>(*next) : std::nullopt);
}

std::vector<ScheduleRunner::Line> ScheduleRunner::TakeLines() {
  std::vector<Line> lines = std::move(announcements);
  announcements.clear();
  for (Entry& entry : entries) {
    auto taken = entry.showSwitch->TakeLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  }
  return lines;
}

bool ScheduleRunner::Scheduled(const ServerStream* stream) const {
  const Entry* entry = Find(stream);
  return entry != nullptr && entry->scheduled;
}

std::optional<ShowWindow> ScheduleRunner::Current(const ServerStream* stream) const {
  const Entry* entry = Find(stream);
  return entry == nullptr ? std::nullopt : entry->showSwitch->Current();
}

std::optional<ShowWindow> ScheduleRunner::Next(const ServerStream* stream) const {
  const Entry* entry = Find(stream);
  return entry == nullptr ? std::nullopt : scheduler.Next(entry->showSwitch.get());
}

std::optional<std::pair<const ServerStream*, ShowWindow>> ScheduleRunner::Soonest() const {
  const auto soonest = scheduler.Soonest();
  if (!soonest) {
    return std::nullopt;
  }
  for (const Entry& entry : entries) {
    if (entry.showSwitch.get() == soonest->first) {
      return std::make_pair(entry.stream, soonest->second);
    }
  }
  return std::nullopt;
}

bool ScheduleRunner::AnyOnShow() const {
  return std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.showSwitch->OnShow(); });
}

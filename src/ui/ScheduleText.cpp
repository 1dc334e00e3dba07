#include "ui/ScheduleText.h"

#include <chrono>

#include "app/ScheduleRunner.h"
#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "schedule/ShowTimes.h"
#include "ui/DisplayText.h"

namespace {

date::sys_seconds Now() { return date::floor<std::chrono::seconds>(std::chrono::system_clock::now()); }

QString Clock(date::sys_seconds instant) { return QString::fromStdString(ShowTimes::LocalClock(instant, Now())); }

QString Name(const ShowWindow& window) { return DisplayText::FromBytes(window.show.name); }

}  // namespace

QString ScheduleText::EntryLine(const SettingsStore& store, int row) {
  const ScheduleRunner* runner = store.Runner();
  const ServerStream* stream = store.StreamAt(row);
  if (runner == nullptr || stream == nullptr || !runner->Scheduled(stream)) {
    return {};
  }
  if (const auto current = runner->Current(stream)) {
    return QStringLiteral("Recording the show %1 until %2").arg(Name(*current), Clock(current->until));
  }
  if (const auto next = runner->Next(stream)) {
    return QStringLiteral("Next show: %1, %2").arg(Name(*next), Clock(next->show.start));
  }
  return QStringLiteral("No show ahead");
}

QString ScheduleText::StateNote(const SettingsStore& store, const ServerStream* stream) {
  const ScheduleRunner* runner = store.Runner();
  if (runner == nullptr || stream == nullptr) {
    return {};
  }
  const auto current = runner->Current(stream);
  if (!current) {
    return {};
  }
  return QStringLiteral("Recording because of the show %1 (%2), until %3")
      .arg(Name(*current), QString::fromStdString(ShowTimes::DescribeStart(current->show)), Clock(current->until));
}

QString ScheduleText::Soonest(const SettingsStore& store) {
  const ScheduleRunner* runner = store.Runner();
  if (runner == nullptr) {
    return {};
  }
  const auto soonest = runner->Soonest();
  if (!soonest) {
    return {};
  }
  QString url;
  for (int row = 0; row < store.EntryCount(); ++row) {
    if (store.StreamAt(row) == soonest->first) {
      url = DisplayText::FromBytes(store.RowAt(row)->Url());
    }
  }
  return QStringLiteral("Next show: %1 (%2), %3").arg(Name(soonest->second), url, Clock(soonest->second.show.start));
}

QString ScheduleText::Describe(const Schedule& schedule) {
  return DisplayText::FromBytes(schedule.show) + QStringLiteral(": ") +
         QString::fromStdString(DescribeSchedule(schedule));
}

#include "ui/ScheduleController.h"

#include <QSocketNotifier>

#include "app/ScheduleKeys.h"
#include "app/SettingsStore.h"
#include "ui/DisplayText.h"

ScheduleController::ScheduleController(SettingsStore& store, QObject* parent) : QObject(parent) {
  store.SetScheduleRunner(&runner);
  notifier = new QSocketNotifier(runner.WakeFd(), QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, &ScheduleController::OnWake);
}

ScheduleController::~ScheduleController() = default;

void ScheduleController::OnWake() {
  runner.OnWake();
  Flush();
  emit changed();
}

void ScheduleController::Flush() {
  for (const ScheduleRunner::Line& line : runner.TakeLines()) {
    emit lineReady(DisplayText::FromBytes(line.text));
  }
}

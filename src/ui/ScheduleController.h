#pragma once

#include <QObject>
#include <QString>

#include "app/ScheduleRunner.h"

class QSocketNotifier;
class SettingsStore;

// Records the window's shows: owns the ScheduleRunner that the settings
// store hands its entries to, and wakes it from the Qt event loop when its
// wall-clock timer's descriptor becomes readable (a QSocketNotifier), so
// that nothing runs between shows. After every wake it announces changed
// (a show started or ended, a next show moved) and passes the runner's
// lines on as lineReady ("show Night Jazz starts ...").
//
// Construct before the store loads its settings, and destroy after the
// store (a child of the main window created after the view): the store
// detaches its entries from the runner as it goes. User-interface thread
// only.
class ScheduleController : public QObject {
  Q_OBJECT

 public:
  ScheduleController(SettingsStore& store, QObject* parent);
  ~ScheduleController() override;

  ScheduleRunner& Runner() { return runner; }
  // Takes the runner's lines and announces them (after a change the user
  // made, too).
  void Flush();

 signals:
  void changed();
  void lineReady(const QString& line);

 private:
  void OnWake();

  ScheduleRunner runner;
  QSocketNotifier* notifier = nullptr;  // owned through Qt
};

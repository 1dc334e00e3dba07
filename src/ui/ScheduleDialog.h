#pragma once

#include <QDialog>

#include <vector>

#include "schedule/Schedule.h"

class SettingsStore;
class QListWidget;
class QPushButton;

// The Schedule... command's dialog: the selected entry's shows, one line
// each, with Add, Edit and Remove (ShowEditDialog for one show); Enter or a
// double-click edits, Delete removes. OK hands the list to the entry
// (SettingsStore::SetEntrySchedules, which tells the schedule runner); a
// show that is on and still planned keeps recording.
//
// User-interface thread only; the widgets are owned through Qt.
class ScheduleDialog : public QDialog {
  Q_OBJECT

 public:
  ScheduleDialog(std::vector<Schedule> schedules, const QString& entry, QWidget* parent = nullptr);
  ~ScheduleDialog() override;

  const std::vector<Schedule>& Schedules() const { return schedules; }

  // Runs the dialog (over parent) for the entry in row and applies what it
  // gives; false when it was cancelled, changed nothing or there is no such
  // entry.
  static bool EditEntry(SettingsStore& store, int row, QWidget* parent);

  // The commands, for tests and keys.
  void OnAdd();
  void OnEdit();
  void OnRemove();
  QListWidget* List() const { return list; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refill(int current);

  std::vector<Schedule> schedules;
  QListWidget* list = nullptr;
  QPushButton* editButton = nullptr;
  QPushButton* removeButton = nullptr;
};

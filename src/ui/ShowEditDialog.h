#pragma once

#include <QDialog>

#include <array>

#include "schedule/Schedule.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

// Edits one schedule: the show's name, how it repeats (weekly on the
// weekdays checked, daily, or once on a date), its start, its duration
// ("2h", "1h30m", as the settings file writes it), its time zone and
// whether its titles get files of their own. The zone chooser lists every
// zone of the system's database, searchable by any part of its name, and
// starts at the system's own zone ("System time zone" keeps a schedule
// following the machine's). OK is enabled only while the fields make a
// schedule; the label above the buttons says what is missing.
//
// Every field has a mnemonic or is reached with Tab. User-interface thread
// only; the widgets are owned through Qt.
class ShowEditDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ShowEditDialog(const Schedule& schedule, QWidget* parent = nullptr);
  ~ShowEditDialog() override;

  // The schedule the fields make (valid once the dialog is accepted).
  Schedule Result() const;

  // For tests.
  QLineEdit* NameField() const { return nameField; }
  QComboBox* RepeatChooser() const { return repeatChooser; }
  QCheckBox* DayBox(int isoDay) const { return dayBoxes.at(static_cast<size_t>(isoDay - 1)); }
  QLineEdit* DurationField() const { return durationField; }
  QComboBox* ZoneChooser() const { return zoneChooser; }
  QTimeEdit* StartField() const { return startField; }
  QDateEdit* DateField() const { return dateField; }
  QPushButton* OkButton() const { return okButton; }

 private:
  // What keeps the fields from making a schedule; empty when they make one.
  QString Problem() const;
  void Check();

  QLineEdit* nameField = nullptr;
  QComboBox* repeatChooser = nullptr;
  std::array<QCheckBox*, 7> dayBoxes{};  // Monday first
  QDateEdit* dateField = nullptr;
  QTimeEdit* startField = nullptr;
  QLineEdit* durationField = nullptr;
  QComboBox* zoneChooser = nullptr;
  QCheckBox* splitBox = nullptr;
  QLabel* problemLabel = nullptr;
  QPushButton* okButton = nullptr;
};

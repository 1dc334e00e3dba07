#include "ui/ShowEditDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDate>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "schedule/ShowTimes.h"
#include "schedule/TimeZones.h"
#include "ui/DisplayText.h"

namespace {

enum Repeat { kWeekly, kDaily, kOnce };

// Monday first, as the dialog shows the week; C encoding of each.
constexpr std::array<unsigned, 7> kCEncoding = {1, 2, 3, 4, 5, 6, 0};
constexpr std::array<const char*, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

QString SystemZoneItem() {
  return QStringLiteral("System time zone (%1)").arg(QString::fromStdString(ShowTimes::SystemZoneName()));
}

QStringList ZoneNames() {
  // Without the database only the system's zone is offered.
  QStringList names;
  for (const std::string& name : TimeZones::Names()) {
    names.append(QString::fromStdString(name));
  }
  return names;
}

}  // namespace

ShowEditDialog::ShowEditDialog(const Schedule& schedule, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Show"));
  auto* form = new QFormLayout;

  nameField = new QLineEdit(DisplayText::FromBytes(schedule.show), this);
  form->addRow(QStringLiteral("&Show:"), nameField);

  repeatChooser = new QComboBox(this);
  repeatChooser->addItems({QStringLiteral("Weekly"), QStringLiteral("Daily"), QStringLiteral("Once")});
  form->addRow(QStringLiteral("&Repeat:"), repeatChooser);

  auto* days = new QHBoxLayout;
  for (size_t i = 0; i < dayBoxes.size(); ++i) {
    dayBoxes[i] = new QCheckBox(QString::fromLatin1(kDayNames[i]), this);
    dayBoxes[i]->setChecked(schedule.kind == Schedule::Kind::Weekly &&
                            (schedule.weekdays & (1u << kCEncoding[i])) != 0);
    days->addWidget(dayBoxes[i]);
    connect(dayBoxes[i], &QCheckBox::toggled, this, &ShowEditDialog::Check);
  }
  form->addRow(QStringLiteral("Days:"), days);

  dateField = new QDateEdit(this);
  dateField->setCalendarPopup(true);
  dateField->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  if (schedule.kind == Schedule::Kind::Once) {
    dateField->setDate(QDate(static_cast<int>(schedule.date.year()), static_cast<int>(unsigned(schedule.date.month())),
                             static_cast<int>(unsigned(schedule.date.day()))));
  } else {
    dateField->setDate(QDate::currentDate());
  }
  form->addRow(QStringLiteral("Da&te:"), dateField);

  startField = new QTimeEdit(this);
  startField->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  startField->setTime(QTime(0, 0).addSecs(static_cast<int>(schedule.start.count())));
  form->addRow(QStringLiteral("St&art:"), startField);

  durationField = new QLineEdit(QString::fromStdString(ShowDurationText(schedule.duration)), this);
  durationField->setPlaceholderText(QStringLiteral("2h, 90m, 1h30m"));
  form->addRow(QStringLiteral("&Duration:"), durationField);

  zoneChooser = new QComboBox(this);
  zoneChooser->setEditable(true);
  zoneChooser->setInsertPolicy(QComboBox::NoInsert);
  zoneChooser->addItem(SystemZoneItem());
  zoneChooser->addItems(ZoneNames());
  // Search by any part of the name ("york", "Berlin").
  zoneChooser->completer()->setFilterMode(Qt::MatchContains);
  zoneChooser->completer()->setCaseSensitivity(Qt::CaseInsensitive);
  zoneChooser->completer()->setCompletionMode(QCompleter::PopupCompletion);
  if (!schedule.zone.empty()) {
    zoneChooser->setCurrentText(QString::fromStdString(schedule.zone));
  }
  form->addRow(QStringLiteral("Time &zone:"), zoneChooser);

  splitBox = new QCheckBox(QStringLiteral("One file per t&itle, in a folder for the show"), this);
  splitBox->setChecked(schedule.splitTitles);
  form->addRow(QString(), splitBox);

  problemLabel = new QLabel(this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  okButton = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(problemLabel);
  layout->addWidget(buttons);

  repeatChooser->setCurrentIndex(schedule.kind == Schedule::Kind::Weekly ? kWeekly
                                 : schedule.kind == Schedule::Kind::Daily ? kDaily
                                                                          : kOnce);
  connect(nameField, &QLineEdit::textChanged, this, &ShowEditDialog::Check);
  connect(durationField, &QLineEdit::textChanged, this, &ShowEditDialog::Check);
  connect(zoneChooser, &QComboBox::currentTextChanged, this, &ShowEditDialog::Check);
  connect(repeatChooser, &QComboBox::currentIndexChanged, this, &ShowEditDialog::Check);
  Check();
  nameField->setFocus();
}

ShowEditDialog::~ShowEditDialog() = default;

QString ShowEditDialog::Problem() const {
  const QString name = nameField->text().trimmed();
  if (name.isEmpty() || name.contains(QLatin1Char('|'))) {
    return QStringLiteral("Give the show a name (without '|').");
  }
  if (repeatChooser->currentIndex() == kWeekly &&
      std::none_of(dayBoxes.begin(), dayBoxes.end(), [](const QCheckBox* box) { return box->isChecked(); })) {
    return QStringLiteral("Check the weekdays of the show.");
  }
  std::chrono::seconds duration{0};
  if (!ParseShowDuration(durationField->text().trimmed().toStdString(), duration)) {
    return QStringLiteral("Give the duration like 2h, 90m or 1h30m (at most 24h).");
  }
  const QString zone = zoneChooser->currentText().trimmed();
  if (zone != SystemZoneItem() && !KnownZone(zone.toStdString())) {
    return QStringLiteral("Choose a time zone from the list.");
  }
  return {};
}

void ShowEditDialog::Check() {
  const int repeat = repeatChooser->currentIndex();
  for (QCheckBox* box : dayBoxes) {
    box->setEnabled(repeat == kWeekly);
  }
  dateField->setEnabled(repeat == kOnce);
  const QString problem = Problem();
  problemLabel->setText(problem);
  okButton->setEnabled(problem.isEmpty());
}

Schedule ShowEditDialog::Result() const {
  Schedule schedule;
  schedule.show = DisplayText::ToBytes(nameField->text().trimmed());
  switch (repeatChooser->currentIndex()) {
    case kWeekly:
      schedule.kind = Schedule::Kind::Weekly;
      for (size_t i = 0; i < dayBoxes.size(); ++i) {
        if (dayBoxes[i]->isChecked()) {
          schedule.weekdays = static_cast<uint8_t>(schedule.weekdays | (1u << kCEncoding[i]));
        }
      }
      break;
    case kDaily:
      schedule.kind = Schedule::Kind::Daily;
      break;
    default: {
      schedule.kind = Schedule::Kind::Once;
      const QDate day = dateField->date();
      schedule.date = date::year{day.year()} / date::month{static_cast<unsigned>(day.month())} /
                      date::day{static_cast<unsigned>(day.day())};
      break;
    }
  }
  schedule.start = std::chrono::seconds{QTime(0, 0).secsTo(startField->time())};
  ParseShowDuration(durationField->text().trimmed().toStdString(), schedule.duration);
  const QString zone = zoneChooser->currentText().trimmed();
  schedule.zone = zone == SystemZoneItem() ? std::string() : zone.toStdString();
  schedule.splitTitles = splitBox->isChecked();
  return schedule;
}

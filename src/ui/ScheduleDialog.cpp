#include "ui/ScheduleDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "ui/DisplayText.h"
#include "ui/ScheduleText.h"
#include "ui/ShowEditDialog.h"

ScheduleDialog::ScheduleDialog(std::vector<Schedule> entrySchedules, const QString& entry, QWidget* parent)
    : QDialog(parent), schedules(std::move(entrySchedules)) {
  setWindowTitle(QStringLiteral("Schedule"));
  auto* title = new QLabel(QStringLiteral("&Shows recorded from %1:").arg(entry), this);
  list = new QListWidget(this);
  title->setBuddy(list);
  list->installEventFilter(this);
  auto* add = new QPushButton(QStringLiteral("&Add..."), this);
  editButton = new QPushButton(QStringLiteral("&Edit..."), this);
  removeButton = new QPushButton(QStringLiteral("&Remove"), this);
  for (QPushButton* button : {add, editButton, removeButton}) {
    button->setAutoDefault(false);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* side = new QVBoxLayout;
  side->addWidget(add);
  side->addWidget(editButton);
  side->addWidget(removeButton);
  side->addStretch();
  auto* middle = new QHBoxLayout;
  middle->addWidget(list, 1);
  middle->addLayout(side);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addLayout(middle);
  layout->addWidget(buttons);
  resize(560, 260);

  connect(add, &QPushButton::clicked, this, &ScheduleDialog::OnAdd);
  connect(editButton, &QPushButton::clicked, this, &ScheduleDialog::OnEdit);
  connect(removeButton, &QPushButton::clicked, this, &ScheduleDialog::OnRemove);
  connect(list, &QListWidget::itemActivated, this, &ScheduleDialog::OnEdit);
  connect(list, &QListWidget::currentRowChanged, this, [this](int row) {
    editButton->setEnabled(row >= 0);
    removeButton->setEnabled(row >= 0);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  Refill(0);
  list->setFocus();
}

ScheduleDialog::~ScheduleDialog() = default;

void ScheduleDialog::Refill(int current) {
  list->clear();
  for (const Schedule& schedule : schedules) {
    list->addItem(ScheduleText::Describe(schedule));
  }
  list->setCurrentRow(schedules.empty() ? -1 : std::clamp(current, 0, static_cast<int>(schedules.size()) - 1));
  editButton->setEnabled(list->currentRow() >= 0);
  removeButton->setEnabled(list->currentRow() >= 0);
}

void ScheduleDialog::OnAdd() {
  Schedule fresh;
  fresh.kind = Schedule::Kind::Weekly;
  fresh.duration = std::chrono::hours{1};
  ShowEditDialog editor(fresh, this);
  if (editor.exec() == QDialog::Accepted) {
    schedules.push_back(editor.Result());
    Refill(static_cast<int>(schedules.size()) - 1);
  }
}

void ScheduleDialog::OnEdit() {
  const int row = list->currentRow();
  if (row < 0 || row >= static_cast<int>(schedules.size())) {
    return;
  }
  ShowEditDialog editor(schedules[static_cast<size_t>(row)], this);
  if (editor.exec() == QDialog::Accepted) {
    schedules[static_cast<size_t>(row)] = editor.Result();
    Refill(row);
  }
}

void ScheduleDialog::OnRemove() {
  const int row = list->currentRow();
  if (row < 0 || row >= static_cast<int>(schedules.size())) {
    return;
  }
  schedules.erase(schedules.begin() + row);
  Refill(row);
}

bool ScheduleDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
      OnRemove();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool ScheduleDialog::EditEntry(SettingsStore& store, int row, QWidget* parent) {
  const std::vector<Schedule>* current = store.EntrySchedules(row);
  const ServerRowPresenter* presenter = store.RowAt(row);
  if (current == nullptr || presenter == nullptr) {
    return false;
  }
  ScheduleDialog dialog(*current, DisplayText::FromBytes(presenter->Url()), parent);
  if (dialog.exec() != QDialog::Accepted || dialog.Schedules() == *current) {
    return false;
  }
  store.SetEntrySchedules(row, dialog.Schedules());
  return true;
}

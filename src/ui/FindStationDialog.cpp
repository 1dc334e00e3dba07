#include "ui/FindStationDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "directory/DirectoryWorker.h"
#include "stream/ServerStream.h"
#include "stream/StreamEvent.h"
#include "ui/CDriftharbourView.h"
#include "ui/DisplayText.h"
#include "ui/QtListControl.h"

namespace {

// The codecs the program records, as the directory names them.
const char* const kCodecs[] = {"MP3", "AAC", "AAC+", "OGG", "OPUS"};

// The row's place in the dialog's list of stations, kept through sorting.
constexpr int kStationRole = Qt::UserRole;

QTableWidgetItem* TextItem(const std::string& bytes) {
  auto* item = new QTableWidgetItem(DisplayText::FromBytes(bytes));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

// A number that sorts as a number.
QTableWidgetItem* NumberItem(qlonglong value) {
  auto* item = new QTableWidgetItem;
  item->setData(Qt::DisplayRole, value);
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

QString Tooltip(const DirectoryStation& station) {
  QStringList lines;
  if (!station.homepage.empty()) {
    lines << DisplayText::FromBytes(station.homepage);
  }
  if (!station.tags.empty()) {
    lines << QStringLiteral("Tags: %1").arg(DisplayText::FromBytes(station.tags));
  }
  lines << QStringLiteral("Stream: %1").arg(DisplayText::FromBytes(station.url));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

FindStationDialog::FindStationDialog(StationDirectory::Settings settings, AddStation add, QWidget* parent)
    : QDialog(parent), add(std::move(add)) {
  setWindowTitle(QStringLiteral("Find Station"));

  // Created in tab order.
  nameField = new QLineEdit(this);
  nameField->setPlaceholderText(QStringLiteral("Station name"));
  nameField->setClearButtonEnabled(true);
  tagField = new QLineEdit(this);
  tagField->setPlaceholderText(QStringLiteral("any genre"));
  countryField = new QLineEdit(this);
  countryField->setPlaceholderText(QStringLiteral("any (DE, FR, US, ...)"));
  countryField->setMaxLength(2);
  codecBox = new QComboBox(this);
  codecBox->addItem(QStringLiteral("any codec"), QString());
  for (const char* codec : kCodecs) {
    codecBox->addItem(QString::fromLatin1(codec), QString::fromLatin1(codec));
  }
  results = new QTableWidget(0, kColumnCount, this);
  results->setHorizontalHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Codec"), QStringLiteral("kbit/s"), QStringLiteral("Country"),
       QStringLiteral("Votes")});
  results->setSelectionBehavior(QAbstractItemView::SelectRows);
  results->setSelectionMode(QAbstractItemView::ExtendedSelection);
  results->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results->setTabKeyNavigation(false);
  results->setSortingEnabled(true);
  results->verticalHeader()->hide();
  results->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  statusLine = new QLabel(this);
  auto* buttons = new QDialogButtonBox(this);
  addButton = buttons->addButton(QStringLiteral("&Add"), QDialogButtonBox::AcceptRole);
  addButton->setDefault(true);
  QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  close->setAutoDefault(false);

  auto* filters = new QFormLayout;
  auto* nameLabel = new QLabel(QStringLiteral("&Name:"), this);
  nameLabel->setBuddy(nameField);
  filters->addRow(nameLabel, nameField);
  auto* narrow = new QHBoxLayout;
  for (const auto& [text, field] : {std::pair{"&Genre:", static_cast<QWidget*>(tagField)},
                                    {"C&ountry:", static_cast<QWidget*>(countryField)},
                                    {"Co&dec:", static_cast<QWidget*>(codecBox)}}) {
    auto* label = new QLabel(QString::fromLatin1(text), this);
    label->setBuddy(field);
    narrow->addWidget(label);
    narrow->addWidget(field, 1);
  }
  filters->addRow(narrow);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(results, 1);
  layout->addWidget(statusLine);
  layout->addWidget(buttons);
  resize(640, 420);

  debounce = new QTimer(this);
  debounce->setSingleShot(true);
  debounce->setInterval(kDebounceMs);
  connect(debounce, &QTimer::timeout, this, &FindStationDialog::StartSearch);
  for (QLineEdit* field : {nameField, tagField, countryField}) {
    connect(field, &QLineEdit::textEdited, this, &FindStationDialog::ScheduleSearch);
    field->installEventFilter(this);
  }
  connect(codecBox, &QComboBox::currentIndexChanged, this, &FindStationDialog::ScheduleSearch);
  connect(results, &QTableWidget::itemSelectionChanged, this, &FindStationDialog::UpdateAddButton);
  connect(results, &QTableWidget::itemDoubleClicked, this, &FindStationDialog::AddSelected);
  connect(addButton, &QPushButton::clicked, this, &FindStationDialog::AddSelected);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  UpdateAddButton();

  // The report comes on the worker's thread: it is posted to this dialog,
  // and dropped by Qt once the dialog is gone.
  QPointer<FindStationDialog> self(this);
  worker = std::make_unique<DirectoryWorker>(
      std::move(settings), [self](uint64_t id, std::vector<DirectoryStation> found, std::string error) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, id, found = std::move(found), error = std::move(error)]() mutable {
              if (self) {
                self->ShowResults(id, std::move(found), error);
              }
            },
            Qt::QueuedConnection);
      });
}

FindStationDialog::~FindStationDialog() { worker.reset(); }

bool FindStationDialog::AddToView(CDriftharbourView& view, const DirectoryStation& station) {
  SettingsStore& store = view.Store();
  const int before = store.EntryCount();
  if (view.AddUrls({DisplayText::FromBytes(station.url)}) != 1 || store.EntryCount() != before + 1) {
    return false;
  }
  const int row = store.EntryCount() - 1;
  if (!station.name.empty()) {
    if (ServerStream* stream = store.StreamAt(row)) {
      stream->SetKnownStation(station.name);
    }
    if (ServerRowPresenter* presenter = store.RowAt(row)) {
      // What the server's icy-name would show, until it sends one.
      presenter->OnText(StreamEvent::Name, station.name);
    }
    view.List().ApplyPending();
  }
  return true;
}

void FindStationDialog::ScheduleSearch() { debounce->start(); }

void FindStationDialog::StartSearch() {
  DirectoryQuery query;
  query.name = DisplayText::ToBytes(nameField->text().trimmed());
  query.tag = DisplayText::ToBytes(tagField->text().trimmed());
  query.countryCode = DisplayText::ToBytes(countryField->text().trimmed().toUpper());
  query.codec = DisplayText::ToBytes(codecBox->currentData().toString());
  if (query.name.empty() && query.tag.empty() && query.countryCode.empty()) {
    statusLine->setText(QStringLiteral("Type a station's name, or choose a genre or country."));
    return;
  }
  query.limit = kResultLimit;
  statusLine->setText(QStringLiteral("Searching\u2026"));
  shownSearch = worker->Search(std::move(query));
}

void FindStationDialog::ShowResults(uint64_t searchId, std::vector<DirectoryStation> found,
                                    const std::string& error) {
  if (searchId != shownSearch) {
    return;  // a newer search is under way
  }
  if (!error.empty()) {
    // The results of the last search that worked stay usable.
    statusLine->setText(DisplayText::FromBytes(error));
    emit resultsShown(-1);
    return;
  }
  stations = std::move(found);
  results->setSortingEnabled(false);
  results->clearContents();
  results->setRowCount(static_cast<int>(stations.size()));
  for (size_t i = 0; i < stations.size(); ++i) {
    const DirectoryStation& station = stations[i];
    const int row = static_cast<int>(i);
    QTableWidgetItem* items[kColumnCount] = {
        TextItem(station.name.empty() ? station.url : station.name), TextItem(station.codec),
        NumberItem(station.bitrate), TextItem(station.countryCode), NumberItem(station.votes)};
    const QString tooltip = Tooltip(station);
    for (int column = 0; column < kColumnCount; ++column) {
      items[column]->setData(kStationRole, row);
      items[column]->setToolTip(tooltip);
      results->setItem(row, column, items[column]);
    }
  }
  results->setSortingEnabled(true);
  if (!stations.empty()) {
    results->selectRow(0);
  }
  statusLine->setText(stations.empty() ? QStringLiteral("No station found.")
                      : stations.size() == 1
                          ? QStringLiteral("1 station found.")
                          : QStringLiteral("%1 stations found, most listened to first.").arg(stations.size()));
  UpdateAddButton();
  emit resultsShown(static_cast<int>(stations.size()));
}

void FindStationDialog::AddSelected() {
  std::vector<std::string> clicks;
  QStringList added;
  for (const QModelIndex& index : results->selectionModel()->selectedRows(kName)) {
    const size_t which = static_cast<size_t>(index.data(kStationRole).toInt());
    if (which >= stations.size()) {
      continue;
    }
    const DirectoryStation& station = stations[which];
    if (add && add(station)) {
      clicks.push_back(station.uuid);
      added << DisplayText::FromBytes(station.name.empty() ? station.url : station.name);
    }
  }
  if (!clicks.empty()) {
    worker->CountClicks(clicks);
    statusLine->setText(QStringLiteral("Added: %1").arg(added.join(QStringLiteral(", "))));
  }
}

void FindStationDialog::UpdateAddButton() { addButton->setEnabled(results->selectionModel()->hasSelection()); }

bool FindStationDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down &&
      results->rowCount() > 0) {
    results->setFocus();
    if (!results->selectionModel()->hasSelection()) {
      results->selectRow(0);
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

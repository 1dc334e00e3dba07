#include "ui/CDriftharbourView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <utility>

#include "app/ServerRowPresenter.h"
#include "app/SettingsLocation.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamState.h"
#include "ui/CAddServerDlg.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/ScheduleText.h"
#include "ui/EntryCommands.h"
#include "ui/FolderBrowser.h"
#include "ui/RowStatus.h"
#include "ui/ServerUrl.h"

namespace {

// Where a row whose file could not be written keeps the title the presenter
// wrote and the text shown instead.
constexpr int kPlainTitleRole = Qt::UserRole;
constexpr int kShownTitleRole = Qt::UserRole + 1;
// When the window last saw the entry of a row fail to connect (on its State
// cell): each failed try writes the row once more.
constexpr int kLastTryRole = Qt::UserRole + 2;

QFont FormFont() { return QFont(QStringLiteral("Arial"), 8); }

// An entry's settings may change only while its stream is idle: shown as
// Disconnected and not started. A stream that has just been started still
// shows Disconnected until its worker runs, so the state alone would let a
// click through in that moment.
bool IsIdle(const ServerStream& stream) {
  return stream.IsStopped() && stream.GetState() == StreamState::Disconnected;
}

std::string DefaultSettingsPath() {
  std::string path = SettingsLocation::PathFor(DisplayText::ToBytes(QCoreApplication::applicationFilePath()),
                                                     SettingsLocation::FromProcess());
  // A configuration directory of our own may not exist yet; a save needs it.
  SettingsLocation::PrepareDirectory(path);
  return path;
}

}  // namespace

CDriftharbourView::CDriftharbourView(std::string settingsFile, QWidget* parent)
    : QWidget(parent),
      serverList(new QTreeWidget(this)),
      settingsPath(settingsFile.empty() ? DefaultSettingsPath() : std::move(settingsFile)),
      folderBrowserFactory([] { return std::make_unique<FolderBrowser>(); }),
      listControl(serverList, ServerRowPresenter::kColumnCount) {
  setFont(FormFont());
  const DialogUnits units(font());

  browseButton = new QPushButton(QStringLiteral("Browse"), this);
  browseButton->setGeometry(units.Rect(310, 90, 50, 14));
  directoryField = new QLineEdit(this);
  directoryField->setReadOnly(true);
  directoryField->setGeometry(units.Rect(65, 90, 230, 14));
  directoryLabel = new QLabel(QStringLiteral("Save Directory:"), this);
  directoryLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  directoryLabel->setGeometry(units.Rect(5, 90, 55, 14));
  serverList->setGeometry(units.Rect(0, 0, 370, 75));
  smartSplittingSwitch = new QCheckBox(QStringLiteral("Enable Smart Splitting"), this);
  smartSplittingSwitch->setGeometry(units.Rect(125, 108, 115, 10));
  fileSplittingSwitch = new QCheckBox(QStringLiteral("Enable File Splitting"), this);
  fileSplittingSwitch->setGeometry(units.Rect(5, 108, 115, 10));
  cutAtSilenceSwitch = new QCheckBox(QStringLiteral("Cut at silence"), this);
  cutAtSilenceSwitch->setToolTip(QStringLiteral("Cut each song at the quietest moment near the title change"));
  cutAtSilenceSwitch->setGeometry(units.Rect(245, 108, 115, 10));
  tagsSwitch = new QCheckBox(QStringLiteral("Write tags"), this);
  tagsSwitch->setToolTip(QStringLiteral("Tag each file with artist, title, station and URL when it is closed"));
  tagsSwitch->setGeometry(units.Rect(5, 120, 115, 10));
  keepPartialApartSwitch = new QCheckBox(QStringLiteral("Keep partial songs apart"), this);
  keepPartialApartSwitch->setToolTip(QStringLiteral("File songs that are not whole under incomplete/"));
  keepPartialApartSwitch->setGeometry(units.Rect(125, 120, 115, 10));
  backdrop = new QLabel(this);
  backdrop->setGeometry(units.Rect(0, 85, 370, 62));
  // The anchor raises every control it places; the empty backdrop must not
  // take the clicks meant for the controls in front of it.
  backdrop->setAttribute(Qt::WA_TransparentForMouseEvents);
  hint = new QLabel(
      QStringLiteral(" Connect to server / Disconnect from server: just double click on a server!"), this);
  hint->setGeometry(units.Rect(0, 75, 365, 8));
  // Why the selected entry does not record, under its switches.
  statusLine = new QLabel(this);
  statusLine->setGeometry(units.Rect(5, 133, 360, 10));
  statusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  {
    QPalette statusPalette = statusLine->palette();
    statusPalette.setColor(QPalette::WindowText, Qt::red);
    statusLine->setPalette(statusPalette);
  }
  // From the list down the panel, as the eye reads it.
  setTabOrder(serverList, directoryField);
  setTabOrder(directoryField, browseButton);
  setTabOrder(browseButton, fileSplittingSwitch);
  setTabOrder(fileSplittingSwitch, smartSplittingSwitch);
  setTabOrder(smartSplittingSwitch, cutAtSilenceSwitch);
  setTabOrder(cutAtSilenceSwitch, tagsSwitch);
  setTabOrder(tagsSwitch, keepPartialApartSwitch);
  backdrop->lower();

  // Report style: full-row selection of one row, no sorting, no editing,
  // headers that do nothing when clicked; the entry commands on a right
  // click.
  serverList->setRootIsDecorated(false);
  serverList->setItemsExpandable(false);
  serverList->setExpandsOnDoubleClick(false);
  serverList->setUniformRowHeights(true);
  serverList->setAllColumnsShowFocus(true);
  serverList->setSelectionMode(QAbstractItemView::SingleSelection);
  serverList->setSelectionBehavior(QAbstractItemView::SelectRows);
  serverList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  serverList->setSortingEnabled(false);
  serverList->setContextMenuPolicy(Qt::CustomContextMenu);
  serverList->header()->setSectionsClickable(false);
  serverList->header()->setSectionsMovable(false);
  // Widths stay where they were set or dragged; the last column takes the
  // rest, and long texts end in "...".
  serverList->header()->setStretchLastSection(true);
  serverList->setTextElideMode(Qt::ElideRight);
  // Drops are ours (URLs to add); the list has no items to drag around.
  serverList->setDragDropMode(QAbstractItemView::DropOnly);
  serverList->setDropIndicatorShown(false);
  serverList->setAcceptDrops(true);
  serverList->viewport()->setAcceptDrops(true);
  // The selection stays visible while another control has the focus.
  QPalette palette = serverList->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  serverList->setPalette(palette);
  serverList->installEventFilter(this);
  serverList->viewport()->installEventFilter(this);

  commands = new EntryCommands(this);
  contextMenu = new QMenu(this);
  const QList<QAction*> actions = commands->Actions();
  for (QAction* action : actions) {
    contextMenu->addAction(action);
    // Remove stands apart from the harmless commands around it.
    if (action == commands->StopAction() || action == commands->RemoveAction()) {
      contextMenu->addSeparator();
    }
  }

  connect(browseButton, &QPushButton::clicked, this, &CDriftharbourView::OnBrowse);
  connect(fileSplittingSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnFileSplitting);
  connect(smartSplittingSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnSmartSplitting);
  connect(cutAtSilenceSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnCutAtSilence);
  connect(tagsSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnTags);
  connect(keepPartialApartSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnKeepPartialApart);
  connect(&listControl, &QtListControl::rowsWritten, this, &CDriftharbourView::DecorateRows);
  clickTimer = new QTimer(this);
  clickTimer->setSingleShot(true);
  clickTimer->setInterval(0);
  connect(clickTimer, &QTimer::timeout, this, &CDriftharbourView::OnClickServerList);
  dropTimer = new QTimer(this);
  dropTimer->setSingleShot(true);
  dropTimer->setInterval(0);
  connect(dropTimer, &QTimer::timeout, this, [this] { AddUrls(std::exchange(droppedTexts, {})); });
  // However the current row changed: a click, the arrow keys, a removal.
  connect(serverList, &QTreeWidget::itemSelectionChanged, this, &CDriftharbourView::UpdateDetailPanel);
  connect(serverList, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    if (QTreeWidgetItem* item = serverList->itemAt(position)) {
      serverList->setCurrentItem(item);
    }
    commands->Update();
    contextMenu->popup(serverList->viewport()->mapToGlobal(position));
  });
}

CDriftharbourView::~CDriftharbourView() {
  // The store stops every stream first (member order); nothing to add here.
}

QSize CDriftharbourView::FormSize() const { return DialogUnits(font()).Size(370, 147); }

QSize CDriftharbourView::sizeHint() const { return FormSize(); }

void CDriftharbourView::OnInitialUpdate(QWidget* frame) {
  if (initialized) {
    return;
  }
  initialized = true;

  resize(FormSize());
  serverList->setColumnCount(ServerRowPresenter::kColumnCount);
  serverList->setHeaderLabels({QStringLiteral("Server / URL"), QStringLiteral("State"), QStringLiteral("Bitrate"),
                               QStringLiteral("Received"), QStringLiteral("Current Title"),
                               QStringLiteral("Received Complete"), QStringLiteral("Stream Title")});
  SetInitialColumnWidths();

  store.LoadSettings(&listControl, settingsPath);
  listControl.ApplyPending();
  savedSettings = CurrentSettings();

  const QSize frameSize = frame != nullptr ? frame->size() : size();
  anchor.Init(this, AnchorSize{frameSize.width(), frameSize.height()});
  if (frame != nullptr) {
    frame->setMinimumSize(frameSize);
  }
  anchor.AddControl(this, kServerList, AnchorMode::StretchBoth);
  anchor.AddControl(this, kHint, AnchorMode::BottomStretchWidth);
  anchor.AddControl(this, kSmartSplitting, AnchorMode::BottomLeft);
  anchor.AddControl(this, kFileSplitting, AnchorMode::BottomLeft);
  anchor.AddControl(this, kBrowse, AnchorMode::BottomRight);
  anchor.AddControl(this, kDirectoryField, AnchorMode::BottomStretchWidth);
  anchor.AddControl(this, kBackdrop, AnchorMode::BottomStretchWidth);
  anchor.AddControl(this, kDirectoryLabel, AnchorMode::BottomLeft);
  anchor.AddControl(this, kStatusLine, AnchorMode::BottomStretchWidth);
  anchor.AddControl(this, kCutAtSilence, AnchorMode::BottomLeft);
  anchor.AddControl(this, kTags, AnchorMode::BottomLeft);
  anchor.AddControl(this, kKeepPartialApart, AnchorMode::BottomLeft);

  UpdateDetailPanel();
}

void CDriftharbourView::SetInitialColumnWidths() {
  const QFontMetrics metrics = serverList->fontMetrics();
  // The cell's own margins, a little more than the style's so no text
  // touches the next column.
  const int padding = 3 * metrics.averageCharWidth();
  const auto widest = [&](std::initializer_list<QString> texts) {
    int width = 0;
    for (const QString& text : texts) {
      width = std::max(width, metrics.horizontalAdvance(text) + padding);
    }
    return width;
  };
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    serverList->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    listControl.FitColumn(column);
  }
  // The state and the counters take known texts: their widths are settled
  // at once, so that no later text makes them jump.
  QStringList states;
  for (int state = static_cast<int>(StreamState::Disconnected); state <= static_cast<int>(StreamState::ErrorPreparingBuffer);
       ++state) {
    states.append(QString::fromLatin1(StreamStateText(static_cast<StreamState>(state))));
  }
  int stateWidth = widest({QString::fromLatin1(RowStatus::kWriteErrorState)});
  for (const QString& state : states) {
    stateWidth = std::max(stateWidth, widest({state}));
  }
  const int countWidth = widest({QStringLiteral("999,999 MBytes")});
  const auto settle = [this](int column, int width) {
    listControl.SettleColumn(column, std::max(width, serverList->columnWidth(column)));
  };
  settle(ServerRowPresenter::kStateColumn, stateWidth);
  settle(ServerRowPresenter::kBitrateColumn, widest({QStringLiteral("9999")}));
  settle(ServerRowPresenter::kReceivedColumn, countWidth);
  settle(ServerRowPresenter::kReceivedCompleteColumn, countWidth);
}

std::vector<int> CDriftharbourView::ColumnWidths() const {
  std::vector<int> widths;
  widths.reserve(ServerRowPresenter::kColumnCount);
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    widths.push_back(serverList->columnWidth(column));
  }
  return widths;
}

void CDriftharbourView::RestoreColumnWidths(const std::vector<int>& widths) {
  const int count = std::min(static_cast<int>(widths.size()), ServerRowPresenter::kColumnCount);
  for (int column = 0; column < count; ++column) {
    if (widths[static_cast<size_t>(column)] > 0) {
      listControl.SettleColumn(column, widths[static_cast<size_t>(column)]);
    }
  }
}

int CDriftharbourView::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = serverList->selectedItems();
  if (selected.isEmpty()) {
    return -1;
  }
  return serverList->indexOfTopLevelItem(selected.front());
}

QList<int> CDriftharbourView::SelectedRows() const {
  QList<int> rows;
  for (QTreeWidgetItem* item : serverList->selectedItems()) {
    rows.append(serverList->indexOfTopLevelItem(item));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CDriftharbourView::UpdateDetailPanel() {
  const int row = SelectedRow();
  const bool selected = row != -1;
  for (QWidget* control :
       {static_cast<QWidget*>(smartSplittingSwitch), static_cast<QWidget*>(fileSplittingSwitch),
        static_cast<QWidget*>(cutAtSilenceSwitch), static_cast<QWidget*>(tagsSwitch),
        static_cast<QWidget*>(keepPartialApartSwitch), static_cast<QWidget*>(browseButton),
        static_cast<QWidget*>(directoryField), static_cast<QWidget*>(directoryLabel)}) {
    control->setEnabled(selected);
  }
  UpdateStatusLine();
  NotifyEntriesChanged();
  if (!selected) {
    return;
  }
  if (ServerRowPresenter* presenter = store.RowAt(row)) {
    directoryField->setText(DisplayText::FromBytes(presenter->DownloadDirectory()));
    directoryField->setCursorPosition(0);
    fileSplittingSwitch->setChecked(presenter->FileSplitting());
    smartSplittingSwitch->setChecked(presenter->SmartSplitting());
    const RecordingOptions options = presenter->Options();
    cutAtSilenceSwitch->setChecked(options.cutAtSilence);
    tagsSwitch->setChecked(options.tags);
    keepPartialApartSwitch->setChecked(options.keepPartialApart);
  }
  if (ServerStream* stream = store.StreamAt(row)) {
    const bool idle = IsIdle(*stream);
    for (QWidget* control :
         {static_cast<QWidget*>(browseButton), static_cast<QWidget*>(smartSplittingSwitch),
          static_cast<QWidget*>(fileSplittingSwitch), static_cast<QWidget*>(cutAtSilenceSwitch),
          static_cast<QWidget*>(tagsSwitch), static_cast<QWidget*>(keepPartialApartSwitch)}) {
      control->setEnabled(idle);
    }
  }
}

void CDriftharbourView::NotifyEntriesChanged() {
  commands->Update();
  emit entriesChanged();
}

void CDriftharbourView::OnDblclkServerList() {
  const int row = SelectedRow();
  if (row != -1) {
    store.ToggleRow(row);
  }
  UpdateDetailPanel();
}

void CDriftharbourView::ToggleSelected() {
  for (const int row : SelectedRows()) {
    store.ToggleRow(row);
  }
  UpdateDetailPanel();
}

void CDriftharbourView::OnClickServerList() { UpdateDetailPanel(); }

QString CDriftharbourView::QuestionForDeletion(int count) const {
  return count == 1 ? QStringLiteral("Do you want to delete %1 item from your picture list?").arg(count)
                    : QStringLiteral("Do you want to delete %1 items from your picture list?").arg(count);
}

void CDriftharbourView::OnKeydownServerList(int key) {
  if (key != Qt::Key_Delete && key != Qt::Key_Backspace) {
    return;
  }
  const int count = static_cast<int>(serverList->selectedItems().size());
  if (count == 0) {
    return;
  }
  QMessageBox question(QMessageBox::NoIcon, QStringLiteral("Warning!"), QuestionForDeletion(count),
                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  if (question.exec() != QMessageBox::Yes) {
    return;
  }
  // The rows selected when the question was asked, from the bottom up so
  // that the numbers of the rows still to go stay valid. The list would
  // otherwise move the selection on to the next row, which must not go too.
  QList<int> rows = SelectedRows();
  std::sort(rows.begin(), rows.end(), std::greater<>());
  for (const int row : rows) {
    // The store silences the entry's presenter and stops its stream while
    // the row is still there, so nothing it writes lands on the row that
    // moves up; then the row goes.
    store.RemoveRow(row);
    listControl.RemoveRow(row);
    // A presenter below may have written with its old number while the
    // rows were renumbered: let every one of them write its row again.
    RefreshRowsFrom(row);
  }
  serverList->clearSelection();
  serverList->setCurrentItem(nullptr);
  UpdateDetailPanel();
}

void CDriftharbourView::RefreshRowsFrom(int row) {
  for (int index = row; index < listControl.RowCount(); ++index) {
    if (ServerRowPresenter* presenter = store.RowAt(index)) {
      presenter->Refresh();
    }
  }
}

bool CDriftharbourView::IsListed(const std::string& url) const {
  for (int row = 0; row < store.EntryCount(); ++row) {
    const ServerRowPresenter* presenter = store.RowAt(row);
    if (presenter != nullptr && presenter->Url() == url) {
      return true;
    }
  }
  return false;
}

void CDriftharbourView::OnAddServer() {
  CAddServerDlg dialog(window(), [this](const QString& url) { return IsListed(DisplayText::ToBytes(url)); });
  if (dialog.exec() != QDialog::Accepted) {
    return;
  }
  for (const QString& url : dialog.Urls()) {
    store.AddServer(DisplayText::ToBytes(url), std::string(), true, true);
  }
  listControl.ApplyPending();
  NotifyEntriesChanged();
}

int CDriftharbourView::AddUrls(const QStringList& texts) {
  int added = 0;
  QStringList refused;
  QStringList expanded;
  for (const QString& text : texts) {
    bool local = false;
    QString problem;
    const QStringList fromFile = ServerUrl::FromLocalPlaylist(text, local, &problem);
    if (!local) {
      expanded.append(text);
    } else if (fromFile.isEmpty()) {
      refused.append(text.trimmed());
    } else {
      expanded.append(fromFile);
    }
  }
  for (const QString& text : expanded) {
    if (text.trimmed().isEmpty()) {
      continue;
    }
    const QString url = ServerUrl::Normalize(text);
    if (url.isNull()) {
      refused.append(text.trimmed());
      continue;
    }
    if (IsListed(DisplayText::ToBytes(url))) {
      QMessageBox question(QMessageBox::Question, QStringLiteral("Add Server"),
                           QStringLiteral("%1 is already in the server list. Add it a second time?").arg(url),
                           QMessageBox::Yes | QMessageBox::No, this);
      question.setDefaultButton(QMessageBox::No);
      if (question.exec() != QMessageBox::Yes) {
        continue;
      }
    }
    if (store.AddServer(DisplayText::ToBytes(url), std::string(), true, true)) {
      ++added;
    }
  }
  listControl.ApplyPending();
  NotifyEntriesChanged();
  if (!refused.isEmpty()) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Add Server"),
                    QStringLiteral("Only http and https URLs can be added. Not added:\n%1")
                        .arg(refused.join(QLatin1Char('\n'))),
                    QMessageBox::Ok, this);
    box.exec();
  }
  return added;
}

void CDriftharbourView::RecordUrls(const std::vector<std::string>& urls) {
  for (const std::string& url : urls) {
    if (url.empty()) {
      continue;
    }
    int row = -1;
    for (int candidate = 0; candidate < store.EntryCount(); ++candidate) {
      const ServerRowPresenter* presenter = store.RowAt(candidate);
      if (presenter != nullptr && presenter->Url() == url) {
        row = candidate;
        break;
      }
    }
    if (row == -1) {
      if (!store.AddServer(url, std::string(), true, true)) {
        continue;
      }
      row = store.EntryCount() - 1;
    }
    ServerStream* stream = store.StreamAt(row);
    if (stream != nullptr && stream->IsStopped()) {
      store.ToggleRow(row);
    }
  }
  listControl.ApplyPending();
  UpdateDetailPanel();
}

void CDriftharbourView::OnSaveServerList() {
  const bool saved = SaveServerListQuietly();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                  saved ? QStringLiteral("Serverlist saved!") : QStringLiteral("Serverlist couldn\u00b4t be saved!"),
                  QMessageBox::Ok, this);
  box.exec();
}

bool CDriftharbourView::SaveServerListQuietly() {
  if (!store.SaveServerList()) {
    return false;
  }
  savedSettings = CurrentSettings();
  emit serverListSaved();
  return true;
}

std::vector<CDriftharbourView::EntrySettings> CDriftharbourView::CurrentSettings() const {
  std::vector<EntrySettings> entries;
  entries.reserve(static_cast<size_t>(store.EntryCount()));
  for (int row = 0; row < store.EntryCount(); ++row) {
    if (const ServerRowPresenter* presenter = store.RowAt(row)) {
      entries.push_back(EntrySettings{presenter->Url(), presenter->DownloadDirectory(), presenter->FileSplitting(),
                                      presenter->SmartSplitting(), presenter->Options(), *store.EntrySchedules(row)});
    }
  }
  return entries;
}

bool CDriftharbourView::ServerListChanged() const { return CurrentSettings() != savedSettings; }

CDriftharbourView::EntryCounts CDriftharbourView::CountEntries() const {
  EntryCounts counts;
  for (int row = 0; row < store.EntryCount(); ++row) {
    const ServerStream* stream = store.StreamAt(row);
    if (stream == nullptr) {
      continue;
    }
    if (stream->IsStopped()) {
      ++counts.stopped;
    } else if (stream->GetState() == StreamState::Connected) {
      ++counts.recording;
    } else {
      ++counts.retrying;
    }
  }
  return counts;
}

int CDriftharbourView::RunningCount() const {
  const EntryCounts counts = CountEntries();
  return counts.recording + counts.retrying;
}

void CDriftharbourView::OnBrowse() {
  if (SelectedRow() == -1) {
    return;
  }
  ServerStream* stream = store.StreamAt(SelectedRow());
  if (stream == nullptr) {
    return;
  }
  const bool idle = IsIdle(*stream);
  UpdateDetailPanel();
  if (!idle) {
    return;
  }
  const std::unique_ptr<FolderBrowser> browser = folderBrowserFactory();
  const QString chosen = browser->Browse(this, QStringLiteral("Please select your download directory!"));
  if (chosen.isEmpty()) {
    return;
  }
  const int row = SelectedRow();
  if (row == -1) {
    return;
  }
  if (store.RowAt(row) != nullptr) {
    // The store hands the directory to the entry's writer too: recording goes
    // there from the next file on, not only after a restart.
    store.SetEntryDirectory(row, DisplayText::ToBytes(chosen));
    UpdateDetailPanel();
  }
}

void CDriftharbourView::OnFileSplitting() {
  ApplySwitch(fileSplittingSwitch->isChecked(), &SettingsStore::SetEntryFileSplitting);
}

void CDriftharbourView::OnSmartSplitting() {
  ApplySwitch(smartSplittingSwitch->isChecked(), &SettingsStore::SetEntrySmartSplitting);
}

void CDriftharbourView::OnCutAtSilence() { ApplyOption(cutAtSilenceSwitch->isChecked(), &RecordingOptions::cutAtSilence); }

void CDriftharbourView::OnTags() { ApplyOption(tagsSwitch->isChecked(), &RecordingOptions::tags); }

void CDriftharbourView::OnKeepPartialApart() {
  ApplyOption(keepPartialApartSwitch->isChecked(), &RecordingOptions::keepPartialApart);
}

void CDriftharbourView::ApplySwitch(bool on, bool (SettingsStore::*set)(int, bool)) {
  const int row = SelectedRow();
  if (row == -1) {
    return;
  }
  ServerStream* stream = store.StreamAt(row);
  if (store.RowAt(row) == nullptr || stream == nullptr) {
    return;
  }
  // A running entry keeps its switches: the panel shows them back as they are.
  if (IsIdle(*stream)) {
    (store.*set)(row, on);
  }
  UpdateDetailPanel();
}

void CDriftharbourView::ApplyOption(bool on, bool RecordingOptions::*option) {
  const int row = SelectedRow();
  const ServerRowPresenter* presenter = row == -1 ? nullptr : store.RowAt(row);
  ServerStream* stream = row == -1 ? nullptr : store.StreamAt(row);
  if (presenter == nullptr || stream == nullptr) {
    return;
  }
  if (IsIdle(*stream)) {
    RecordingOptions options = presenter->Options();
    options.*option = on;
    store.SetEntryOptions(row, options);
  }
  UpdateDetailPanel();
}

void CDriftharbourView::SetFolderBrowserFactory(FolderBrowserFactory factory) {
  folderBrowserFactory = std::move(factory);
}

QString CDriftharbourView::SourceText(const ServerRowPresenter& presenter) {
  const std::string source = presenter.SourceUrl();
  if (source.empty()) {
    return {};
  }
  const std::string station = presenter.StationText();
  return station.empty() ? QStringLiteral("Stream: %1").arg(DisplayText::FromBytes(source))
                         : QStringLiteral("Stream: %1 (%2)")
                               .arg(DisplayText::FromBytes(source), DisplayText::FromBytes(station));
}

void CDriftharbourView::UpdateStatusLine() {
  const int row = SelectedRow();
  const ServerRowPresenter* presenter = row == -1 ? nullptr : store.RowAt(row);
  const QTreeWidgetItem* item = row == -1 ? nullptr : serverList->topLevelItem(row);
  QString text;
  QString tip;
  bool failure = false;
  if (presenter != nullptr) {
    const QDateTime lastTry =
        item != nullptr ? item->data(ServerRowPresenter::kStateColumn, kLastTryRole).toDateTime() : QDateTime();
    const RowStatus status = RowStatus::Of(*presenter, lastTry);
    text = status.panel;
    tip = status.toolTip;
    if (text.isEmpty()) {
      text = SourceText(*presenter);
      tip = text;
    }
    if (text.isEmpty()) {
      text = ScheduleText::EntryLine(store, row);
      tip = text;
    }
    failure = !status.panel.isEmpty();
  }
  // Red for a problem, the usual colour for where the audio comes from.
  QPalette palette = statusLine->palette();
  const QColor wanted = failure ? QColor(Qt::red) : serverList->palette().color(QPalette::WindowText);
  if (palette.color(QPalette::WindowText) != wanted) {
    palette.setColor(QPalette::WindowText, wanted);
    statusLine->setPalette(palette);
  }
  if (statusLine->toolTip() != tip || statusLine->property("fullText").toString() != text) {
    statusLine->setToolTip(tip);
    statusLine->setProperty("fullText", text);
    statusLine->setText(statusLine->fontMetrics().elidedText(text, Qt::ElideRight, statusLine->width()));
  }
}

void CDriftharbourView::DecorateRows(const QList<int>& rows) {
  for (const int row : rows) {
    QTreeWidgetItem* item = serverList->topLevelItem(row);
    const ServerRowPresenter* presenter = store.RowAt(row);
    if (item != nullptr && presenter != nullptr) {
      DecorateRow(item, *presenter);
    }
  }
  UpdateStatusLine();
  NotifyEntriesChanged();
}

void CDriftharbourView::DecorateRow(QTreeWidgetItem* item, const ServerRowPresenter& presenter) {
  constexpr int kState = ServerRowPresenter::kStateColumn;
  constexpr int kTitle = ServerRowPresenter::kTitleColumn;
  const QString presenterState = DisplayText::FromBytes(presenter.StateText());
  // Every row written while the entry fails is one more failed try.
  if (RowStatus::IsConnectFailure(presenterState)) {
    item->setData(kState, kLastTryRole, QDateTime::currentDateTime());
  }
  const RowStatus status = RowStatus::Of(presenter, item->data(kState, kLastTryRole).toDateTime());
  if (item->text(kState) != status.state) {
    item->setText(kState, status.state);
  }
  ShowWriterProblem(item, status.writeError ? status.toolTip : QString());
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    item->setToolTip(column, status.writeError ? status.toolTip : QString());
  }
  const QString showNote = ScheduleText::StateNote(store, presenter.Stream());
  item->setToolTip(kState, showNote.isEmpty()   ? status.toolTip
                           : status.toolTip.isEmpty() ? showNote
                                                      : status.toolTip + QLatin1Char('\n') + showNote);
  // Where the audio really comes from, when a playlist or HLS stands between.
  if (!status.writeError) {
    item->setToolTip(ServerRowPresenter::kUrlColumn, SourceText(presenter));
  }
  if (!status.writeError && !item->text(kTitle).isEmpty()) {
    // The column may be narrower than a long title.
    item->setToolTip(kTitle, item->text(kTitle));
  }
  // What the server announced for an earlier connection is not live.
  const QBrush grey(serverList->palette().color(QPalette::Disabled, QPalette::Text));
  for (const int column : {ServerRowPresenter::kBitrateColumn, kTitle, ServerRowPresenter::kStationNameColumn}) {
    if (column == kTitle && status.writeError) {
      item->setForeground(column, QBrush(Qt::red));
    } else if (status.connected) {
      item->setData(column, Qt::ForegroundRole, QVariant());
    } else {
      item->setForeground(column, grey);
    }
  }
}

void CDriftharbourView::ShowWriterProblem(QTreeWidgetItem* item, const QString& problem) {
  constexpr int kTitle = ServerRowPresenter::kTitleColumn;
  // The presenter's title, unless the cell still shows our earlier text.
  QString title = item->text(kTitle);
  const bool decorated = item->data(kTitle, kShownTitleRole).isValid();
  if (decorated && title == item->data(kTitle, kShownTitleRole).toString()) {
    title = item->data(kTitle, kPlainTitleRole).toString();
  }
  if (problem.isEmpty()) {
    if (decorated) {
      item->setText(kTitle, title);
      item->setData(kTitle, kPlainTitleRole, QVariant());
      item->setData(kTitle, kShownTitleRole, QVariant());
    }
    return;
  }
  const QString shown =
      title.isEmpty() ? QStringLiteral("[%1]").arg(problem) : QStringLiteral("%1 [%2]").arg(title, problem);
  if (decorated && item->text(kTitle) == shown) {
    return;
  }
  item->setText(kTitle, shown);
  item->setData(kTitle, kPlainTitleRole, title);
  item->setData(kTitle, kShownTitleRole, shown);
}

QStringList CDriftharbourView::DroppedTexts(const QMimeData& data) {
  QStringList texts;
  if (data.hasUrls()) {
    for (const QUrl& url : data.urls()) {
      texts.append(url.toString());
    }
  } else if (data.hasText()) {
    texts = data.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  return texts;
}

bool CDriftharbourView::HandleDrop(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (drag->mimeData() == nullptr || DroppedTexts(*drag->mimeData()).isEmpty()) {
        return false;
      }
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (drop->mimeData() == nullptr) {
        return false;
      }
      const QStringList texts = DroppedTexts(*drop->mimeData());
      if (texts.isEmpty()) {
        return false;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      // The source waits for the drop to end; questions come after it.
      droppedTexts.append(texts);
      dropTimer->start();
      return true;
    }
    default:
      return false;
  }
}

bool CDriftharbourView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == serverList && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) {
      OnKeydownServerList(key->key());
      return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space) &&
        key->modifiers() == Qt::NoModifier) {
      ToggleSelected();
      return true;
    }
  } else if (watched == serverList->viewport() && HandleDrop(event)) {
    return true;
  } else if (watched == serverList->viewport() &&
             (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
              event->type() == QEvent::MouseButtonDblClick)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
      return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonPress) {
      // A click beside the rows clears the selection.
      if (serverList->itemAt(mouse->position().toPoint()) == nullptr) {
        serverList->clearSelection();
        serverList->setCurrentItem(nullptr);
      }
    } else if (event->type() == QEvent::MouseButtonRelease) {
      // Once the list has handled the click, so the panel follows the new
      // selection.
      clickTimer->start();
    } else {
      OnDblclkServerList();
    }
  }
  return QWidget::eventFilter(watched, event);
}

QWidget* CDriftharbourView::Control(AnchorControlId control) const {
  switch (control) {
    case kServerList:
      return serverList;
    case kSmartSplitting:
      return smartSplittingSwitch;
    case kFileSplitting:
      return fileSplittingSwitch;
    case kDirectoryField:
      return directoryField;
    case kBrowse:
      return browseButton;
    case kBackdrop:
      return backdrop;
    case kDirectoryLabel:
      return directoryLabel;
    case kHint:
      return hint;
    case kStatusLine:
      return statusLine;
    case kCutAtSilence:
      return cutAtSilenceSwitch;
    case kTags:
      return tagsSwitch;
    case kKeepPartialApart:
      return keepPartialApartSwitch;
    default:
      return nullptr;
  }
}

AnchorSize CDriftharbourView::ClientSize() const { return AnchorSize{width(), height()}; }

std::optional<AnchorRect> CDriftharbourView::ControlRect(AnchorControlId control) const {
  const QWidget* widget = Control(control);
  if (widget == nullptr) {
    return std::nullopt;
  }
  const QRect area = widget->geometry();
  return AnchorRect{area.x(), area.y(), area.width(), area.height()};
}

int CDriftharbourView::ControlClientWidth(AnchorControlId control) const {
  const QWidget* widget = Control(control);
  return widget == nullptr ? 0 : widget->contentsRect().width();
}

void CDriftharbourView::PlaceControl(AnchorControlId control, const AnchorRect& rect) {
  QWidget* widget = Control(control);
  if (widget == nullptr) {
    return;
  }
  widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
  widget->show();
  widget->raise();
}

#include "ui/CDriftharbourView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "ui/CAddServerDlg.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/FolderBrowser.h"
#include "app/ServerRowPresenter.h"

namespace {

// Where a row whose file could not be written keeps the title the presenter
// wrote and the text shown instead.
constexpr int kPlainTitleRole = Qt::UserRole;
constexpr int kShownTitleRole = Qt::UserRole + 1;

QFont FormFont() { return QFont(QStringLiteral("Arial"), 8); }

// An entry's settings may change only while its stream is idle: shown as
// Disconnected and not started. A stream that has just been started still
// shows Disconnected until its worker runs, so the state alone would let a
// click through in that moment.
bool IsIdle(const ServerStream& stream) {
  return stream.IsStopped() && stream.GetState() == StreamState::Disconnected;
}

std::string SettingsBesideExecutable() {
  return SettingsStore::SettingsPathFor("\"" + DisplayText::ToBytes(QCoreApplication::applicationFilePath()) + "\"");
}

}  // namespace

CDriftharbourView::CDriftharbourView(std::string settingsFile, QWidget* parent)
    : QWidget(parent),
      serverList(new QTreeWidget(this)),
      settingsPath(settingsFile.empty() ? SettingsBesideExecutable() : std::move(settingsFile)),
      folderBrowserFactory([] { return std::make_unique<FolderBrowser>(); }),
      listControl(serverList, ServerRowPresenter::kColumnCount) {
  setFont(FormFont());
  const DialogUnits units(font());

  // Template order, which is also the tab order.
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
  smartSplittingSwitch->setGeometry(units.Rect(125, 110, 95, 10));
  fileSplittingSwitch = new QCheckBox(QStringLiteral("Enable File Splitting"), this);
  fileSplittingSwitch->setGeometry(units.Rect(5, 110, 95, 10));
  backdrop = new QLabel(this);
  backdrop->setGeometry(units.Rect(0, 85, 370, 40));
  // The anchor raises every control it places; the empty backdrop must not
  // take the clicks meant for the controls in front of it.
  backdrop->setAttribute(Qt::WA_TransparentForMouseEvents);
  hint = new QLabel(
      QStringLiteral(" Connect to server / Disconnect from server: just double click on a server!"), this);
  hint->setGeometry(units.Rect(0, 75, 365, 8));
  // Why the selected entry does not record, beside its switches.
  statusLine = new QLabel(this);
  statusLine->setGeometry(units.Rect(225, 110, 140, 10));
  statusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  {
    QPalette statusPalette = statusLine->palette();
    statusPalette.setColor(QPalette::WindowText, Qt::red);
    statusLine->setPalette(statusPalette);
  }
  setTabOrder(browseButton, directoryField);
  setTabOrder(directoryField, serverList);
  setTabOrder(serverList, smartSplittingSwitch);
  setTabOrder(smartSplittingSwitch, fileSplittingSwitch);
  backdrop->lower();

  // Report style: full-row selection of one row, no sorting, no editing, no
  // menu, headers that do nothing when clicked.
  serverList->setRootIsDecorated(false);
  serverList->setItemsExpandable(false);
  serverList->setExpandsOnDoubleClick(false);
  serverList->setUniformRowHeights(true);
  serverList->setAllColumnsShowFocus(true);
  serverList->setSelectionMode(QAbstractItemView::SingleSelection);
  serverList->setSelectionBehavior(QAbstractItemView::SelectRows);
  serverList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  serverList->setSortingEnabled(false);
  serverList->setContextMenuPolicy(Qt::NoContextMenu);
  serverList->header()->setSectionsClickable(false);
  serverList->header()->setSectionsMovable(false);
  serverList->header()->setStretchLastSection(false);
  serverList->setTextElideMode(Qt::ElideNone);
  // The selection stays visible while another control has the focus.
  QPalette palette = serverList->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  serverList->setPalette(palette);
  serverList->installEventFilter(this);
  serverList->viewport()->installEventFilter(this);

  connect(browseButton, &QPushButton::clicked, this, &CDriftharbourView::OnBrowse);
  connect(fileSplittingSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnFileSplitting);
  connect(smartSplittingSwitch, &QCheckBox::clicked, this, &CDriftharbourView::OnSmartSplitting);
  connect(&listControl, &QtListControl::rowsWritten, this, &CDriftharbourView::DecorateRows);
}

CDriftharbourView::~CDriftharbourView() {
  // The store stops every stream first (member order); nothing to add here.
}

QSize CDriftharbourView::FormSize() const { return DialogUnits(font()).Size(370, 125); }

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
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    serverList->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    serverList->resizeColumnToContents(column);
  }

  store.LoadSettings(&listControl, settingsPath);
  listControl.ApplyPending();

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

  UpdateDetailPanel();
}

int CDriftharbourView::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = serverList->selectedItems();
  if (selected.isEmpty()) {
    return -1;
  }
  return serverList->indexOfTopLevelItem(selected.front());
}

void CDriftharbourView::UpdateDetailPanel() {
  const int row = SelectedRow();
  const bool selected = row != -1;
  for (QWidget* control : {static_cast<QWidget*>(smartSplittingSwitch), static_cast<QWidget*>(fileSplittingSwitch),
                           static_cast<QWidget*>(browseButton), static_cast<QWidget*>(directoryField),
                           static_cast<QWidget*>(directoryLabel)}) {
    control->setEnabled(selected);
  }
  UpdateStatusLine();
  if (!selected) {
    return;
  }
  if (ServerRowPresenter* presenter = store.RowAt(row)) {
    directoryField->setText(DisplayText::FromBytes(presenter->DownloadDirectory()));
    directoryField->setCursorPosition(0);
    fileSplittingSwitch->setChecked(presenter->FileSplitting());
    smartSplittingSwitch->setChecked(presenter->SmartSplitting());
  }
  if (ServerStream* stream = store.StreamAt(row)) {
    const bool idle = IsIdle(*stream);
    browseButton->setEnabled(idle);
    smartSplittingSwitch->setEnabled(idle);
    fileSplittingSwitch->setEnabled(idle);
  }
}

void CDriftharbourView::OnDblclkServerList() {
  const int row = SelectedRow();
  if (row != -1) {
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
  QList<int> rows;
  for (QTreeWidgetItem* item : serverList->selectedItems()) {
    rows.append(serverList->indexOfTopLevelItem(item));
  }
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

void CDriftharbourView::OnAddServer() {
  CAddServerDlg dialog(window());
  if (dialog.exec() != QDialog::Accepted) {
    return;
  }
  store.AddServer(DisplayText::ToBytes(dialog.Url()), std::string(), true, true);
  listControl.ApplyPending();
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
  const bool saved = store.SaveServerList();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                  saved ? QStringLiteral("Serverlist saved!") : QStringLiteral("Serverlist couldn\u00b4t be saved!"),
                  QMessageBox::Ok, this);
  box.exec();
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

void CDriftharbourView::SetFolderBrowserFactory(FolderBrowserFactory factory) {
  folderBrowserFactory = std::move(factory);
}

QString CDriftharbourView::FailureText(const ServerRowPresenter& presenter) {
  const std::string state = presenter.StateText();
  const std::string reason = presenter.LastReason();
  if (reason.empty() || (state != StreamStateText(StreamState::ErrorOnConnecting) &&
                         state != StreamStateText(StreamState::ErrorPreparingBuffer))) {
    return {};
  }
  return QStringLiteral("%1: %2").arg(DisplayText::FromBytes(state), DisplayText::FromBytes(reason));
}

void CDriftharbourView::UpdateStatusLine() {
  const int row = SelectedRow();
  const ServerRowPresenter* presenter = row == -1 ? nullptr : store.RowAt(row);
  const QString text = presenter == nullptr ? QString() : FailureText(*presenter);
  if (statusLine->toolTip() != text) {
    statusLine->setToolTip(text);
    statusLine->setText(statusLine->fontMetrics().elidedText(text, Qt::ElideRight, statusLine->width()));
  }
}

void CDriftharbourView::DecorateRows(const QList<int>& rows) {
  ShowWriterProblems(rows);
  for (const int row : rows) {
    QTreeWidgetItem* item = serverList->topLevelItem(row);
    const ServerRowPresenter* presenter = store.RowAt(row);
    if (item == nullptr || presenter == nullptr) {
      continue;
    }
    const QString failure = FailureText(*presenter);
    if (!failure.isEmpty()) {
      item->setToolTip(ServerRowPresenter::kStateColumn, failure);
    } else if (!item->data(ServerRowPresenter::kTitleColumn, kShownTitleRole).isValid()) {
      item->setToolTip(ServerRowPresenter::kStateColumn, QString());
    }
  }
  UpdateStatusLine();
}

void CDriftharbourView::ShowWriterProblems(const QList<int>& rows) {
  for (const int row : rows) {
    QTreeWidgetItem* item = serverList->topLevelItem(row);
    ServerRowPresenter* presenter = store.RowAt(row);
    if (item == nullptr || presenter == nullptr) {
      continue;
    }
    RecordingWriter* writer = presenter->Writer();
    const std::optional<RecordingWriter::FileError> error =
        writer != nullptr ? writer->LastError() : std::nullopt;
    const QString problem =
        error ? QStringLiteral("Cannot write %1: %2")
                    .arg(DisplayText::FromBytes(error->path), DisplayText::FromBytes(error->reason))
              : QString();
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
        item->setData(kTitle, Qt::ForegroundRole, QVariant());
        for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
          item->setToolTip(column, QString());
        }
      }
      continue;
    }
    const QString shown = title.isEmpty() ? QStringLiteral("[%1]").arg(problem)
                                          : QStringLiteral("%1 [%2]").arg(title, problem);
    if (decorated && item->text(kTitle) == shown) {
      continue;
    }
    item->setText(kTitle, shown);
    item->setData(kTitle, kPlainTitleRole, title);
    item->setData(kTitle, kShownTitleRole, shown);
    item->setForeground(kTitle, QBrush(Qt::red));
    for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
      item->setToolTip(column, problem);
    }
    serverList->resizeColumnToContents(kTitle);
  }
}

bool CDriftharbourView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == serverList && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) {
      OnKeydownServerList(key->key());
      return true;
    }
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
      QMetaObject::invokeMethod(this, &CDriftharbourView::OnClickServerList, Qt::QueuedConnection);
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

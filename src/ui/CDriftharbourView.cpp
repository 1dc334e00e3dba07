#include "ui/CDriftharbourView.h"

#include <QCoreApplication>
#include <QFont>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <utility>

#include "app/ServerRowPresenter.h"
#include "app/SettingsLocation.h"
#include "stream/ServerStream.h"
#include "stream/StreamState.h"
#include "ui/CAddServerDlg.h"
#include "ui/DetailPanel.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/EntryCommands.h"
#include "ui/EntryList.h"
#include "ui/ServerUrl.h"
#include "ui/UrlDropTarget.h"

namespace {

QFont FormFont() { return QFont(QStringLiteral("Arial"), 8); }

}  // namespace

std::string CDriftharbourView::DefaultSettingsPath() {
  std::string path = SettingsLocation::PathFor(DisplayText::ToBytes(QCoreApplication::applicationFilePath()),
                                               SettingsLocation::FromProcess());
  // A configuration directory of our own may not exist yet; a save needs it.
  SettingsLocation::PrepareDirectory(path);
  return path;
}

std::string CDriftharbourView::StartDirectoryFor(const std::string& settingsFile) {
  // An installed window, started from a menu, has a working directory that
  // means nothing to its user; beside the program the working directory
  // stays the default, as it always was.
  const std::string config = SettingsLocation::ConfigDirectory(SettingsLocation::FromProcess());
  if (config.empty() || std::filesystem::path(settingsFile).parent_path().lexically_normal() !=
                            std::filesystem::path(config).lexically_normal()) {
    return {};
  }
  // Qt reads the desktop's user-dirs.dirs as xdg-user-dir does, else
  // takes ~/Music.
  return DisplayText::ToBytes(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
}

CDriftharbourView::CDriftharbourView(std::string settingsFile, QWidget* parent)
    : QWidget(parent), settingsPath(settingsFile.empty() ? DefaultSettingsPath() : std::move(settingsFile)) {
  setFont(FormFont());
  entries = new EntryList(this, store);
  panel = new DetailPanel(this, *entries, store);
  // From the list down the panel, as the eye reads it.
  QWidget* previous = entries->Tree();
  for (const ControlId next :
       {kDirectoryField, kBrowse, kFileSplitting, kSmartSplitting, kCutAtSilence, kTags, kKeepPartialApart}) {
    setTabOrder(previous, Control(next));
    previous = Control(next);
  }
  commands = new EntryCommands(*entries, store, this);
  drops = new UrlDropTarget(entries->Tree()->viewport(), this);

  connect(entries, &EntryList::rowsDecorated, this, [this] {
    panel->ShowStatus();
    NotifyEntriesChanged();
  });
  connect(entries, &EntryList::clicked, this, &CDriftharbourView::OnClickServerList);
  connect(entries, &EntryList::doubleClicked, this, &CDriftharbourView::OnDblclkServerList);
  connect(entries, &EntryList::toggleKeyPressed, this, &CDriftharbourView::ToggleSelected);
  connect(entries, &EntryList::deleteKeyPressed, this, &CDriftharbourView::OnKeydownServerList);
  // However the current row changed: a click, the arrow keys, a removal.
  connect(entries, &EntryList::selectionChanged, this, &CDriftharbourView::UpdateDetailPanel);
  connect(entries, &EntryList::contextMenuRequested, commands, &EntryCommands::PopUpContextMenu);
  connect(panel, &DetailPanel::refreshed, this, &CDriftharbourView::NotifyEntriesChanged);
  connect(commands, &EntryCommands::entriesToggled, this, &CDriftharbourView::UpdateDetailPanel);
  connect(commands, &EntryCommands::schedulesChanged, this, &CDriftharbourView::UpdateDetailPanel);
  connect(commands, &EntryCommands::removeRequested, this, [this] { OnKeydownServerList(Qt::Key_Delete); });
  connect(drops, &UrlDropTarget::urlsDropped, this, &CDriftharbourView::AddUrls);
}

CDriftharbourView::~CDriftharbourView() {
  // The store stops every stream first (a member, gone before Qt deletes the
  // list control's EntryList); nothing to add here.
}

QSize CDriftharbourView::FormSize() const { return DialogUnits(font()).Size(370, 147); }

QSize CDriftharbourView::sizeHint() const { return FormSize(); }

void CDriftharbourView::OnInitialUpdate(QWidget* frame) {
  if (initialized) {
    return;
  }
  initialized = true;

  resize(FormSize());
  entries->InsertColumns();

  store.SetStartDirectory(StartDirectoryFor(settingsPath));
  store.LoadSettings(&List(), settingsPath);
  List().ApplyPending();
  savedSettings = CurrentSettings();

  const QSize frameSize = frame != nullptr ? frame->size() : size();
  anchor.Init(this, AnchorSize{frameSize.width(), frameSize.height()});
  if (frame != nullptr) {
    // Smaller than the form: the list gives up rows and its columns their
    // room (long texts end in "..."), the panel's controls stay whole.
    frame->setMinimumSize(frameSize.boundedTo(kSmallestFrame));
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

QtListControl& CDriftharbourView::List() { return entries->Control(); }

QTreeWidget* CDriftharbourView::ServerList() const { return entries->Tree(); }

std::vector<int> CDriftharbourView::ColumnWidths() const { return entries->ColumnWidths(); }

void CDriftharbourView::RestoreColumnWidths(const std::vector<int>& widths) { entries->RestoreColumnWidths(widths); }

int CDriftharbourView::SelectedRow() const { return entries->SelectedRow(); }

QList<int> CDriftharbourView::SelectedRows() const { return entries->SelectedRows(); }

void CDriftharbourView::UpdateDetailPanel() {
  panel->Show();
  NotifyEntriesChanged();
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
  const int count = static_cast<int>(SelectedRows().size());
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
    List().RemoveRow(row);
    // A presenter below may have written with its old number while the
    // rows were renumbered: let every one of them write its row again.
    RefreshRowsFrom(row);
  }
  entries->ClearSelection();
  UpdateDetailPanel();
}

void CDriftharbourView::RefreshRowsFrom(int row) {
  for (int index = row; index < List().RowCount(); ++index) {
    if (ServerRowPresenter* presenter = store.RowAt(index)) {
      presenter->Refresh();
    }
  }
}

int CDriftharbourView::RowOf(const std::string& url) const {
  for (int row = 0; row < store.EntryCount(); ++row) {
    const ServerRowPresenter* presenter = store.RowAt(row);
    if (presenter != nullptr && presenter->Url() == url) {
      return row;
    }
  }
  return -1;
}

void CDriftharbourView::OnAddServer() {
  CAddServerDlg dialog(window(), [this](const QString& url) { return RowOf(DisplayText::ToBytes(url)) != -1; });
  if (dialog.exec() != QDialog::Accepted) {
    return;
  }
  for (const QString& url : dialog.Urls()) {
    store.AddServer(DisplayText::ToBytes(url), std::string(), true, true);
  }
  List().ApplyPending();
  NotifyEntriesChanged();
}

int CDriftharbourView::AddUrls(const QStringList& texts) {
  const ServerUrl::Sifted sifted = ServerUrl::Sift(texts);
  int added = 0;
  for (const QString& url : sifted.urls) {
    if (RowOf(DisplayText::ToBytes(url)) != -1 && !CAddServerDlg::ConfirmSecondCopy(this, url)) {
      continue;
    }
    if (store.AddServer(DisplayText::ToBytes(url), std::string(), true, true)) {
      ++added;
    }
  }
  List().ApplyPending();
  NotifyEntriesChanged();
  if (!sifted.refused.isEmpty()) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Add Server"),
                    QStringLiteral("Only http and https URLs can be added. Not added:\n%1")
                        .arg(sifted.refused.join(QLatin1Char('\n'))),
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
    int row = RowOf(url);
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
  List().ApplyPending();
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
  std::vector<EntrySettings> settings;
  settings.reserve(static_cast<size_t>(store.EntryCount()));
  for (int row = 0; row < store.EntryCount(); ++row) {
    if (const ServerRowPresenter* presenter = store.RowAt(row)) {
      settings.push_back(EntrySettings{presenter->Url(), presenter->DownloadDirectory(), presenter->FileSplitting(),
                                       presenter->SmartSplitting(), presenter->Options(),
                                       *store.EntrySchedules(row)});
    }
  }
  return settings;
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

QWidget* CDriftharbourView::Control(AnchorControlId control) const {
  if (QWidget* widget = entries->Widget(control)) {
    return widget;
  }
  return panel->Widget(control);
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

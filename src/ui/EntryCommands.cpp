#include "ui/EntryCommands.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QTemporaryDir>
#include <QUrl>

#include <utility>

#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "ui/DisplayText.h"
#include "ui/EntryList.h"
#include "ui/ScheduleDialog.h"

namespace {

QAction* MakeAction(QObject* owner, const QString& text, QStyle::StandardPixmap icon, const QString& tip) {
  auto* action = new QAction(QApplication::style()->standardIcon(icon), text, owner);
  action->setToolTip(tip);
  return action;
}

}  // namespace

EntryCommands::EntryCommands(const EntryList& entryList, SettingsStore& settingsStore, QWidget* ownerWidget)
    : QObject(ownerWidget),
      list(entryList),
      store(settingsStore),
      owner(ownerWidget),
      opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  startAction = MakeAction(this, QStringLiteral("&Start"), QStyle::SP_MediaPlay,
                           QStringLiteral("Start recording the selected entry"));
  stopAction = MakeAction(this, QStringLiteral("S&top"), QStyle::SP_MediaStop,
                          QStringLiteral("Stop recording the selected entry"));
  removeAction = MakeAction(this, QStringLiteral("&Remove"), QStyle::SP_TrashIcon,
                            QStringLiteral("Remove the selected entry from the list"));
  openFolderAction = MakeAction(this, QStringLiteral("Open &Download Folder"), QStyle::SP_DirOpenIcon,
                                QStringLiteral("Open the selected entry's download folder"));
  copyUrlAction = MakeAction(this, QStringLiteral("&Copy URL"), QStyle::SP_FileLinkIcon,
                             QStringLiteral("Copy the selected entry's URL"));
  listenAction = MakeAction(this, QStringLiteral("&Listen"), QStyle::SP_MediaVolume,
                            QStringLiteral("Play the selected stream in the desktop's default player"));
  scheduleAction = MakeAction(this, QStringLiteral("Sch&edule..."), QStyle::SP_FileDialogDetailedView,
                              QStringLiteral("Record the selected entry's shows at their times"));
  scheduleAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
  connect(scheduleAction, &QAction::triggered, this, &EntryCommands::OnSchedule);
  connect(startAction, &QAction::triggered, this, &EntryCommands::OnStart);
  connect(stopAction, &QAction::triggered, this, &EntryCommands::OnStop);
  connect(removeAction, &QAction::triggered, this, &EntryCommands::OnRemove);
  connect(openFolderAction, &QAction::triggered, this, &EntryCommands::OnOpenDownloadFolder);
  connect(copyUrlAction, &QAction::triggered, this, &EntryCommands::OnCopyUrl);
  connect(listenAction, &QAction::triggered, this, &EntryCommands::OnListen);
  contextMenu = new QMenu(owner);
  for (QAction* action : Actions()) {
    contextMenu->addAction(action);
    // Remove stands apart from the harmless commands around it.
    if (action == stopAction || action == removeAction) {
      contextMenu->addSeparator();
    }
  }
  Update();
}

EntryCommands::~EntryCommands() = default;

QList<QAction*> EntryCommands::Actions() const {
  return {startAction, stopAction, removeAction, openFolderAction, copyUrlAction, listenAction, scheduleAction};
}

void EntryCommands::SetUrlOpener(UrlOpener urlOpener) { opener = std::move(urlOpener); }

void EntryCommands::PopUpContextMenu(const QPoint& globalPosition) {
  Update();
  contextMenu->popup(globalPosition);
}

void EntryCommands::Update() {
  bool anyStopped = false;
  bool anyRunning = false;
  const QList<int> rows = list.SelectedRows();
  for (const int row : rows) {
    if (const ServerStream* stream = store.StreamAt(row)) {
      (stream->IsStopped() ? anyStopped : anyRunning) = true;
    }
  }
  startAction->setEnabled(anyStopped);
  stopAction->setEnabled(anyRunning);
  removeAction->setEnabled(!rows.isEmpty());
  const bool one = rows.size() == 1 && store.RowAt(rows.front()) != nullptr;
  openFolderAction->setEnabled(one);
  copyUrlAction->setEnabled(one);
  listenAction->setEnabled(one);
  scheduleAction->setEnabled(one);
}

void EntryCommands::OnSchedule() {
  const QList<int> rows = list.SelectedRows();
  if (rows.size() == 1 && ScheduleDialog::EditEntry(store, rows.front(), owner)) {
    emit schedulesChanged();
  }
}

void EntryCommands::OnStart() { Toggle(true); }

void EntryCommands::OnStop() { Toggle(false); }

void EntryCommands::Toggle(bool start) {
  for (const int row : list.SelectedRows()) {
    const ServerStream* stream = store.StreamAt(row);
    if (stream != nullptr && stream->IsStopped() == start) {
      store.ToggleRow(row);
    }
  }
  emit entriesToggled();
}

void EntryCommands::OnRemove() { emit removeRequested(); }

void EntryCommands::OnOpenDownloadFolder() {
  const QList<int> rows = list.SelectedRows();
  const ServerRowPresenter* presenter = rows.size() == 1 ? store.RowAt(rows.front()) : nullptr;
  if (presenter == nullptr) {
    return;
  }
  // Where the files go: the writer's directory (an empty one is the working
  // directory, as for the writer).
  const RecordingWriter* writer = presenter->Writer();
  QString directory =
      DisplayText::FromBytes(writer != nullptr ? writer->Directory() : presenter->DownloadDirectory());
  if (directory.isEmpty()) {
    directory = QDir::currentPath();
  }
  // The writer makes it at its first file; a folder that is not there yet
  // cannot be shown.
  if (!QDir().mkpath(directory)) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                    QStringLiteral("The download folder %1 cannot be created.").arg(directory), QMessageBox::Ok,
                    owner);
    box.exec();
    return;
  }
  Open(QUrl::fromLocalFile(directory), QStringLiteral("the download folder %1").arg(directory));
}

void EntryCommands::OnCopyUrl() {
  const QList<int> rows = list.SelectedRows();
  const ServerRowPresenter* presenter = rows.size() == 1 ? store.RowAt(rows.front()) : nullptr;
  if (presenter != nullptr) {
    QApplication::clipboard()->setText(DisplayText::FromBytes(presenter->Url()));
  }
}

void EntryCommands::OnListen() {
  const QList<int> rows = list.SelectedRows();
  const ServerRowPresenter* presenter = rows.size() == 1 ? store.RowAt(rows.front()) : nullptr;
  if (presenter == nullptr) {
    return;
  }
  if (!playlists) {
    playlists = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/driftharbour-XXXXXX"));
  }
  const QString url = DisplayText::FromBytes(presenter->Url());
  // A file per Listen: a player may still be reading the last one.
  const QString path = playlists->filePath(QStringLiteral("listen-%1.m3u").arg(++playlistCount));
  QFile playlist(path);
  if (!playlists->isValid() || !playlist.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                    QStringLiteral("No playlist could be written for %1.").arg(url), QMessageBox::Ok, owner);
    box.exec();
    return;
  }
  playlist.write(QStringLiteral("#EXTM3U\n#EXTINF:-1,%1\n%1\n").arg(url).toUtf8());
  playlist.close();
  Open(QUrl::fromLocalFile(path), url);
}

void EntryCommands::Open(const QUrl& url, const QString& what) {
  if (opener && opener(url)) {
    return;
  }
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Driftharbour"),
                  QStringLiteral("No program of the desktop could open %1.").arg(what), QMessageBox::Ok, owner);
  box.exec();
}

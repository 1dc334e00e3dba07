#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class EntryList;
class QAction;
class QMenu;
class QTemporaryDir;
class QUrl;
class QWidget;
class SettingsStore;

// The commands on the selected entries of the server list, as actions for
// the list's context menu (which this object fills) and the main window's
// toolbar: Start, Stop, Remove, Open Download Folder, Copy URL, Listen and
// Schedule... (ScheduleDialog, Ctrl+K). Start and Stop act on every
// selected entry that is stopped or running and then announce
// entriesToggled; Remove announces removeRequested for the form, which asks
// and removes as the Delete key does; Schedule... announces
// schedulesChanged when the entry's shows changed; the others need one
// selected entry. Update enables each action for what is selected now; the
// form calls it whenever the selection or an entry's state changes.
//
// Listen hands the stream to the desktop's default player through a small
// M3U playlist (opening the URL itself would start a web browser), kept in
// a temporary directory until the window goes. Opening goes through a
// replaceable opener (QDesktopServices::openUrl unless a test gives
// another), so tests never start a program.
//
// Ownership: a child of owner (the form), over which its menu and message
// boxes open; owns its actions and the playlists; the menu belongs to owner
// through Qt. The list and the store are borrowed and must outlive this
// object. User-interface thread only.
class EntryCommands : public QObject {
  Q_OBJECT

 public:
  using UrlOpener = std::function<bool(const QUrl& url)>;

  EntryCommands(const EntryList& list, SettingsStore& store, QWidget* owner);
  ~EntryCommands() override;

  QAction* StartAction() const { return startAction; }
  QAction* StopAction() const { return stopAction; }
  QAction* RemoveAction() const { return removeAction; }
  QAction* OpenFolderAction() const { return openFolderAction; }
  QAction* CopyUrlAction() const { return copyUrlAction; }
  QAction* ListenAction() const { return listenAction; }
  QAction* ScheduleAction() const { return scheduleAction; }
  // All of them in menu order.
  QList<QAction*> Actions() const;
  // The list's context menu: every action, Remove between separators.
  QMenu* ContextMenu() const { return contextMenu; }
  // Enables the actions for the selection and opens the menu there.
  void PopUpContextMenu(const QPoint& globalPosition);

  void SetUrlOpener(UrlOpener urlOpener);
  // Enables each action for the entries selected now.
  void Update();

  void OnStart();
  void OnStop();
  void OnRemove();
  void OnOpenDownloadFolder();
  void OnCopyUrl();
  void OnListen();
  void OnSchedule();

 signals:
  // Start or Stop changed the selected entries.
  void entriesToggled();
  // Remove was chosen: the form asks, then removes the selected entries.
  void removeRequested();
  // Schedule... gave the selected entry other shows.
  void schedulesChanged();

 private:
  // Starts (start true) or stops every selected entry not yet so.
  void Toggle(bool start);
  // Opens url with the opener; says so in a message box when nothing
  // opened it.
  void Open(const QUrl& url, const QString& what);

  // Constant after construction.
  const EntryList& list;
  SettingsStore& store;
  QWidget* const owner;  // the parent
  UrlOpener opener;
  std::unique_ptr<QTemporaryDir> playlists;  // made at the first Listen
  int playlistCount = 0;

  // Owned through Qt (children of this object).
  QAction* startAction = nullptr;
  QAction* stopAction = nullptr;
  QAction* removeAction = nullptr;
  QAction* openFolderAction = nullptr;
  QAction* copyUrlAction = nullptr;
  QAction* listenAction = nullptr;
  QAction* scheduleAction = nullptr;
  QMenu* contextMenu = nullptr;  // owned by owner through Qt
};

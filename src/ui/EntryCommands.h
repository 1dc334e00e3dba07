#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CDriftharbourView;
class QAction;
class QTemporaryDir;
class QUrl;

// The commands on the selected entries of the server list, as actions for
// the list's context menu and the main window's toolbar: Start, Stop,
// Remove (asking first, as the Delete key does), Open Download Folder, Copy
// URL, Listen and Schedule... (ScheduleDialog, Ctrl+K). Start and Stop act on every selected entry that is
// stopped or running; the others need one selected entry. Update enables
// each action for what is selected now; the view calls it whenever the
// selection or an entry's state changes.
//
// Listen hands the stream to the desktop's default player through a small
// M3U playlist (opening the URL itself would start a web browser), kept in
// a temporary directory until the window goes. Opening goes through a
// replaceable opener (QDesktopServices::openUrl unless a test gives
// another), so tests never start a program.
//
// Owned by the view (its QObject parent), which must outlive it; owns its
// actions and the playlists. User-interface thread only.
class EntryCommands : public QObject {
  Q_OBJECT

 public:
  using UrlOpener = std::function<bool(const QUrl& url)>;

  explicit EntryCommands(CDriftharbourView* view);
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

 private:
  // Starts (start true) or stops every selected entry not yet so.
  void Toggle(bool start);
  // Opens url with the opener; says so in a message box when nothing
  // opened it.
  void Open(const QUrl& url, const QString& what);

  CDriftharbourView* const view;  // the parent
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
};

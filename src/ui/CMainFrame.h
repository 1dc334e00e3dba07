#pragma once

#include <QMainWindow>

#include <string>

class CDriftharbourView;
class FindStationDialog;
class QAction;
class QLabel;
class QToolBar;
class ScheduleController;
class TrayIcon;

// The main window: the menu ("Server" with Add Server F3, Find Station...
// Ctrl+F, Schedule... Ctrl+K, Save Server List Ctrl+S, Hide in Tray When
// Closed and Exit; "About"), a toolbar with Find Station and the entry
// commands, the main view as its client area and a status bar that counts
// recording, retrying and stopped entries and names the next show of all
// entries (as the tray's tooltip does); the lines of the shows starting and
// ending show in it for a while. The ScheduleController that records the
// shows is made before the view loads its entries. Its move and resize
// events drive the view's LayoutAnchor; it can be made as small as
// CDriftharbourView::kSmallestFrame. It comes back where it was and as large
// as it was (WindowState, read from the settings the view loaded;
// SaveWindowState writes it); at the first start it stands in the middle of
// the screen, so that the splash shown over it is where the window is.
//
// Leaving: Exit and the close box ask first while entries are started,
// counting them as the status bar does (QuitQuestion), and, when the server list changed since it
// was last saved, whether to save it (Save / Discard / Cancel). With "Hide
// in Tray When Closed" chosen and a tray on the desktop, the close box only
// hides the window while entries record. The signal and session paths of
// CDriftharbourApp never come here, so they never ask.
//
// Owns the view, the toolbar and the status bar through Qt's parent chain,
// and the tray icon (null where the desktop has none). Closing the window
// destroys nothing; destroying it destroys the view, which stops every
// recording. User-interface thread only.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // settingsPath as for CDriftharbourView (empty: where SettingsLocation
  // puts it).
  explicit CMainFrame(std::string settingsPath = {}, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CDriftharbourView* View() const { return view; }
  QAction* AddServerAction() const { return addServerAction; }
  QAction* FindStationAction() const { return findStationAction; }
  QAction* SaveServerListAction() const { return saveServerListAction; }
  QAction* AboutAction() const { return aboutAction; }
  QAction* ExitAction() const { return exitAction; }
  QAction* HideToTrayAction() const { return hideToTrayAction; }
  QToolBar* EntryToolBar() const { return toolBar; }
  QLabel* CountsLabel() const { return countsLabel; }
  TrayIcon* Tray() const { return tray; }
  ScheduleController* Schedules() const { return schedules; }

  // Opens Find Station (FindStationDialog), made at the first use and kept,
  // so that it keeps its last search; modal.
  void OnFindStation();
  // Runs the About box modally.
  void OnAppAbout();
  // Exit: closes the window after the questions; never hides it.
  void OnExit();
  // The questions before quitting; true when the window may close.
  bool ConfirmQuit();
  // The question before quitting while entries record or retry; empty when
  // none does.
  static QString QuitQuestion(int recording, int retrying);
  // Writes the window's place, size, column widths and tray choice into the
  // settings file as it stands on disk (WindowState); false when there is
  // no file or it cannot be written.
  bool SaveWindowState() const;
  // Shows the window again, e.g. from the tray.
  void ShowFromTray();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void RestoreWindowState();
  // The status bar and the tray after an entry changed.
  void UpdateCounts();

  CDriftharbourView* view = nullptr;  // owned through Qt
  QAction* addServerAction = nullptr;
  QAction* findStationAction = nullptr;
  FindStationDialog* findStation = nullptr;  // owned through Qt; null until first used
  QAction* saveServerListAction = nullptr;
  QAction* aboutAction = nullptr;
  QAction* exitAction = nullptr;
  QAction* hideToTrayAction = nullptr;
  QToolBar* toolBar = nullptr;
  QLabel* countsLabel = nullptr;
  TrayIcon* tray = nullptr;  // owned through Qt; null without a tray
  ScheduleController* schedules = nullptr;  // owned through Qt; after the view, so it outlives its store
  bool exitChosen = false;   // the close comes from Exit, not the close box
  bool centreWhenShown = false;  // no remembered place: the first show centres
};

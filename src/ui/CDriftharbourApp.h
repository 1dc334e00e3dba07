#pragma once

#include <QApplication>
#include <QTranslator>

#include <memory>
#include <string>
#include <vector>

#include "ui/QuitSignals.h"

class CMainFrame;
class CSplashDlg;
class WindowHandover;

// The application: the Qt application object with the program's start-up
// sequence. InitInstance hands the command line's URLs to a window already
// open on the same settings file, if there is one, and ends (WindowHandover);
// else it listens for later starts, loads Qt's German texts for the
// framework's own dialogs and buttons, creates the main window (which loads
// the server list from Driftharbour.ini where SettingsLocation puts it), adds
// and starts the stream URLs given on the command line (LaunchUrls), titles
// and shows it and shows the splash for a moment over it. URLs a later start
// hands over are added and started the same way, and the window comes to
// the front. Run remembers the window (CMainFrame::SaveWindowState) however
// the event loop ended.
//
// Leaving: SIGTERM, SIGINT and SIGHUP (QuitSignals) and a session manager's
// request to save its state end the program as Exit does, without a
// question: every entry stops as a double-click would stop it (all audio
// received is written and every file closed), then the event loop ends with
// status 0.
//
// Owns the main window, the splash, the translator and the signal watch; the
// main window goes first (member order), and with it the view and every
// recording. Exit and the close box ask their questions in CMainFrame;
// QuitNow never asks. User-interface thread only.
class CDriftharbourApp : public QApplication {
  Q_OBJECT

 public:
  CDriftharbourApp(int& argc, char** argv);
  ~CDriftharbourApp() override;

  // The start-up sequence with the command line's words that are no option;
  // false ends the program with ExitStatus().
  bool InitInstance(const std::vector<std::string>& words);
  // The status when InitInstance ended the program: 0 when another window
  // took the URLs.
  int ExitStatus() const { return exitStatus; }
  CMainFrame* MainFrame() const { return mainFrame.get(); }

  // The event loop, unless a quit came before it could run; the exit status.
  int Run();
  // Stops every recording and ends the event loop with status 0.
  void QuitNow();

 private:
  QuitSignals quitSignals;
  // A quit that came while events were handled before the event loop ran
  // (exit() then has no loop to end).
  bool quitRequested = false;
  int exitStatus = 1;
  QTranslator frameworkTexts;
  std::unique_ptr<WindowHandover> handover;
  std::unique_ptr<CSplashDlg> splash;
  std::unique_ptr<CMainFrame> mainFrame;
};

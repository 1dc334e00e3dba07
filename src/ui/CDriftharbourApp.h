#pragma once

#include <QApplication>
#include <QTranslator>

#include <memory>

#include "ui/QuitSignals.h"

class CMainFrame;
class CSplashDlg;

// The application: the Qt application object with the program's start-up
// sequence. InitInstance loads Qt's German texts for the framework's own
// dialogs and buttons, creates the main window (which loads the server list
// from Driftharbour.ini where SettingsLocation puts it), adds and starts the stream
// URLs given on the command line, shows the splash for a moment over it,
// titles and shows it. Run remembers the window (CMainFrame::SaveWindowState)
// however the event loop ended.
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

  // The start-up sequence; false ends the program.
  bool InitInstance();
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
  QTranslator frameworkTexts;
  std::unique_ptr<CSplashDlg> splash;
  std::unique_ptr<CMainFrame> mainFrame;
};

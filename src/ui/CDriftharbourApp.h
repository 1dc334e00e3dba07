#pragma once

#include <QApplication>
#include <QTranslator>

#include <memory>

class CMainFrame;
class CSplashDlg;

// The application: the Qt application object with the program's start-up
// sequence. InitInstance loads Qt's German texts for the framework's own
// dialogs and buttons, creates the main window (which loads the server list
// from Driftharbour.ini beside the executable), shows the splash for a
// moment over it, titles and shows it.
//
// Owns the main window, the splash and the translator; the main window goes
// first (member order), and with it the view and every recording.
// User-interface thread only.
class CDriftharbourApp : public QApplication {
  Q_OBJECT

 public:
  CDriftharbourApp(int& argc, char** argv);
  ~CDriftharbourApp() override;

  // The start-up sequence; false ends the program.
  bool InitInstance();
  CMainFrame* MainFrame() const { return mainFrame.get(); }

 private:
  QTranslator frameworkTexts;
  std::unique_ptr<CSplashDlg> splash;
  std::unique_ptr<CMainFrame> mainFrame;
};

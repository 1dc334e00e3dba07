#include "ui/CDriftharbourApp.h"

#include <QLibraryInfo>
#include <QLocale>

#include "ui/CMainFrame.h"
#include "ui/CSplashDlg.h"

CDriftharbourApp::CDriftharbourApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Driftharbour"));
  setApplicationVersion(QStringLiteral("1.0"));
}

CDriftharbourApp::~CDriftharbourApp() {
  // The window (and every recording) before the splash it owns on screen.
  mainFrame.reset();
  splash.reset();
}

bool CDriftharbourApp::InitInstance() {
  // Message-box buttons and the folder chooser speak German, whatever the
  // system's language; the program's own texts are English.
  if (frameworkTexts.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&frameworkTexts);
  }

  mainFrame = std::make_unique<CMainFrame>();
  splash = std::make_unique<CSplashDlg>();
  mainFrame->setWindowTitle(QStringLiteral("SHOUTcast Driftharbour 1.0"));
  mainFrame->show();
  splash->ShowBriefly(mainFrame.get());
  return true;
}

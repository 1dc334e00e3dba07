#include "ui/CDriftharbourApp.h"

#include <QLibraryInfo>
#include <QLocale>

#include <QSessionManager>
#include <QThread>

#include <string>
#include <vector>

#include "app/SettingsStore.h"
#include "ui/AppIcon.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
#include "ui/CSplashDlg.h"
#include "ui/LaunchUrls.h"
#include "ui/WindowHandover.h"

CDriftharbourApp::CDriftharbourApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Driftharbour"));
  setApplicationVersion(QStringLiteral("1.0"));
  // Lets a Wayland desktop find the installed driftharbour.desktop and its icon.
  setDesktopFileName(QStringLiteral("driftharbour"));
  setWindowIcon(AppIcon::Load());
  connect(&quitSignals, &QuitSignals::quitRequested, this, &CDriftharbourApp::QuitNow);
  // A session that ends asks the program to save its state first; the
  // window may be gone soon after, so the recordings end now.
  connect(this, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { QuitNow(); });
  connect(this, &QCoreApplication::aboutToQuit, this, [this] {
    if (mainFrame) {
      mainFrame->View()->Store().StopAll();
    }
  });
}

CDriftharbourApp::~CDriftharbourApp() {
  // The window (and every recording) before the splash it owns on screen.
  // Out of sight first: its recordings may still be writing their last
  // audio (a slow disk), which the teardown waits for.
  if (mainFrame) {
    mainFrame->hide();
  }
  mainFrame.reset();
  splash.reset();
  handover.reset();
}

bool CDriftharbourApp::InitInstance(const std::vector<std::string>& words) {
  const std::vector<std::string> urls = LaunchUrls::Expand(words);
  const std::string settingsPath = CDriftharbourView::DefaultSettingsPath();
  const QString serverName = WindowHandover::ServerName(settingsPath);
  handover = std::make_unique<WindowHandover>();
  // A window that holds the lock but does not listen yet is starting: it
  // gets a few seconds. One that never answers leaves this start to open
  // a window of its own.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (WindowHandover::HandOver(serverName, urls)) {
      exitStatus = 0;
      return false;
    }
    if (handover->Listen(serverName)) {
      break;
    }
    QThread::msleep(100);
  }

  // Message-box buttons and the folder chooser speak German, whatever the
  // system's language; the program's own texts are English.
  if (frameworkTexts.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&frameworkTexts);
  }

  mainFrame = std::make_unique<CMainFrame>(settingsPath);
  mainFrame->View()->RecordUrls(urls);
  connect(handover.get(), &WindowHandover::urlsReceived, this, [this](const std::vector<std::string>& handed) {
    mainFrame->View()->RecordUrls(handed);
    mainFrame->ShowFromTray();
  });
  splash = std::make_unique<CSplashDlg>();
  mainFrame->setWindowTitle(QStringLiteral("SHOUTcast Driftharbour 1.0"));
  mainFrame->show();
  splash->ShowBriefly(mainFrame.get());
  return true;
}

int CDriftharbourApp::Run() {
  const int status = quitRequested ? 0 : exec();
  // However the program ends (Exit, the close box, a signal, the session),
  // the window is remembered; the server list is not saved here.
  if (mainFrame) {
    mainFrame->SaveWindowState();
  }
  return status;
}

void CDriftharbourApp::QuitNow() {
  quitRequested = true;
  if (mainFrame) {
    mainFrame->View()->Store().StopAll();
  }
  // Also ends a modal dialog's loop, so no question stays open.
  exit(0);
}

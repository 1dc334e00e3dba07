// The main window's frame: the questions before quitting (answered here, as
// a user would), the window remembered in the settings file as it stands on
// disk, the menu's mnemonics, the tray's menu and count, and an About box
// whose buttons fit their texts at every font size.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <string>

#include "AnswerBoxes.h"
#include "ViewFixture.h"
#include "app/SettingsStore.h"
#include "stream/ServerStream.h"
#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
#include "ui/CSplashDlg.h"
#include "ui/TrayIcon.h"

namespace {

using Answers = QList<QMessageBox::StandardButton>;

}  // namespace

class MainFrameTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

  void quittingAsksAboutRecordingsAndAnUnsavedList_data() {
    QTest::addColumn<int>("running");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saved");
    // Nobody listens at port 1: started entries retry, and the question
    // counts them as the status bar does.
    const QString one = QStringLiteral("1 entry is retrying. Stop it and quit?");
    const QString two = QStringLiteral("2 entries are retrying. Stop them and quit?");
    const QString save = QStringLiteral("The server list has changed since it was last saved. Save it?");
    QTest::newRow("nothing to ask") << 0 << false << Answers{} << QStringList{} << true << false;
    QTest::newRow("recording, No") << 1 << false << Answers{QMessageBox::No} << QStringList{one} << false << false;
    QTest::newRow("recording, Yes") << 2 << false << Answers{QMessageBox::Yes} << QStringList{two} << true << false;
    QTest::newRow("changed, Save") << 0 << true << Answers{QMessageBox::Save} << QStringList{save} << true << true;
    QTest::newRow("changed, Discard") << 0 << true << Answers{QMessageBox::Discard} << QStringList{save} << true
                                      << false;
    QTest::newRow("changed, Cancel") << 0 << true << Answers{QMessageBox::Cancel} << QStringList{save} << false
                                     << false;
    QTest::newRow("both, Yes and Save") << 1 << true << Answers{QMessageBox::Yes, QMessageBox::Save}
                                        << QStringList{one, save} << true << true;
    QTest::newRow("both, No") << 1 << true << Answers{QMessageBox::No} << QStringList{one} << false << false;
  }
  void quittingAsksAboutRecordingsAndAnUnsavedList() {
    QFETCH(int, running);
    QFETCH(bool, changed);
    QFETCH(Answers, answers);
    QFETCH(QStringList, questions);
    QFETCH(bool, closes);
    QFETCH(bool, saved);
    // A saved list of two entries, then perhaps a third that is not saved.
    SettingsStore& store = frame->View()->Store();
    QVERIFY(store.AddServer("http://127.0.0.1:1/a", "", true, true));
    QVERIFY(store.AddServer("http://127.0.0.1:1/b", "", true, true));
    QVERIFY(frame->View()->SaveServerListQuietly());
    if (changed) {
      QVERIFY(store.AddServer("http://127.0.0.1:1/unsaved", "", true, true));
    }
    for (int row = 0; row < running; ++row) {
      store.ToggleRow(row);
    }
    QCOMPARE(frame->View()->RunningCount(), running);

    QStringList seen;
    if (!answers.isEmpty()) {
      AnswerBoxes(answers, &seen);
    }
    frame->ExitAction()->trigger();
    QCOMPARE(seen, questions);
    QCOMPARE(frame->isVisible(), !closes);
    QCOMPARE(ReadFile(settingsPath).find("unsaved") != std::string::npos, saved);
    // Closing stops nothing itself: the application does, once it quits.
    QCOMPARE(frame->View()->RunningCount(), running);
  }

  void theQuitQuestionCountsAsTheStatusBarDoes_data() {
    QTest::addColumn<int>("recording");
    QTest::addColumn<int>("retrying");
    QTest::addColumn<QString>("question");
    QTest::newRow("none") << 0 << 0 << QString();
    QTest::newRow("1 recording") << 1 << 0 << "1 entry is recording. Stop it and quit?";
    QTest::newRow("3 recording") << 3 << 0 << "3 entries are recording. Stop them and quit?";
    QTest::newRow("2 retrying") << 0 << 2 << "2 entries are retrying. Stop them and quit?";
    QTest::newRow("1 and 2") << 1 << 2 << "1 entry is recording and 2 are retrying. Stop them and quit?";
    QTest::newRow("2 and 1") << 2 << 1 << "2 entries are recording and 1 is retrying. Stop them and quit?";
  }
  void theQuitQuestionCountsAsTheStatusBarDoes() {
    QFETCH(int, recording);
    QFETCH(int, retrying);
    QFETCH(QString, question);
    QCOMPARE(CMainFrame::QuitQuestion(recording, retrying), question);
  }

  void atTheFirstStartTheWindowAndItsSplashStandInTheMiddle() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY((frame->frameGeometry().center() - screen.center()).manhattanLength() <= 1);
    CSplashDlg splash;
    splash.ShowBriefly(frame.get());
    QVERIFY((splash.geometry().center() - frame->frameGeometry().center()).manhattanLength() <= 2);
    // It may be made much smaller than its first size, down to about
    // 400 x 250.
    frame->resize(100, 100);
    QCOMPARE(frame->size(), CDriftharbourView::kSmallestFrame);
  }

  void anInstalledWindowRecordsIntoTheMusicFolder_data() {
    QTest::addColumn<bool>("inConfig");
    QTest::addColumn<QString>("userDirs");
    QTest::addColumn<QString>("expected");
    QTest::newRow("beside the program") << false << "" << "<working directory>";
    QTest::newRow("configured, no user-dirs") << true << "" << "<home>/Music";
    QTest::newRow("configured, user-dirs") << true << "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n" << "<home>/Tunes";
  }
  void anInstalledWindowRecordsIntoTheMusicFolder() {
    QFETCH(bool, inConfig);
    QFETCH(QString, userDirs);
    QFETCH(QString, expected);
    frame.reset();
    QTemporaryDir root;
    const QString home = root.filePath(QStringLiteral("home"));
    const QString config = root.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(home) && QDir().mkpath(config + QStringLiteral("/driftharbour")));
    if (!userDirs.isEmpty()) {
      QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
      QVERIFY(dirs.open(QIODevice::WriteOnly));
      dirs.write(userDirs.toUtf8());
    }
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    const std::string file = inConfig ? (config + QStringLiteral("/driftharbour/Driftharbour.ini")).toStdString()
                                      : root.filePath(QStringLiteral("Driftharbour.ini")).toStdString();
    frame = std::make_unique<CMainFrame>(file);
    const std::string directory = frame->View()->Store().DefaultDownloadDirectory();
    qputenv("HOME", oldHome);
    if (oldConfig.isNull()) {
      qunsetenv("XDG_CONFIG_HOME");
    } else {
      qputenv("XDG_CONFIG_HOME", oldConfig);
    }
    expected.replace(QStringLiteral("<home>"), home);
    expected.replace(QStringLiteral("<working directory>"), QDir::currentPath());
    QCOMPARE(QString::fromStdString(directory), expected);
  }

  void theCloseBoxAsksTooAndAFailedSaveKeepsTheWindow() {
    frame.reset();
    settingsPath = directory.filePath(QStringLiteral("missing/Driftharbour.ini")).toStdString();
    frame = std::make_unique<CMainFrame>(settingsPath);
    frame->show();
    QVERIFY(frame->View()->Store().AddServer("http://127.0.0.1:1/a", "", true, true));
    QStringList seen;
    AnswerBoxes({QMessageBox::Save, QMessageBox::Ok}, &seen);
    QVERIFY(!frame->close());
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.back(), QStringLiteral("Serverlist couldn\u00b4t be saved!"));
    QVERIFY(frame->isVisible());
  }

  void theWindowIsWrittenIntoTheFileAsItStandsOnDisk() {
    SettingsStore& store = frame->View()->Store();
    QVERIFY(store.AddServer("http://127.0.0.1:1/saved", "", true, true));
    QVERIFY(frame->View()->SaveServerListQuietly());
    QVERIFY(store.AddServer("http://127.0.0.1:1/unsaved", "", true, true));
    frame->resize(frame->size() + QSize(120, 80));
    const QSize size = frame->size();
    QTreeWidget* list = frame->View()->ServerList();
    list->header()->resizeSection(0, 222);
    frame->HideToTrayAction()->setChecked(true);

    QVERIFY(frame->SaveWindowState());
    const std::string text = ReadFile(settingsPath);
    QVERIFY(text.find("Server_0=http://127.0.0.1:1/saved\r\n") != std::string::npos);
    QVERIFY(text.find("unsaved") == std::string::npos);
    QVERIFY(text.find("[Window]\r\n") != std::string::npos);
    QVERIFY(text.find("\r\nColumnWidths=222,") != std::string::npos);
    QVERIFY(text.find("\r\nHideToTray=1\r\n") != std::string::npos);
    QVERIFY(text.find("\r\nWidth=" + std::to_string(size.width()) + "\r\n") != std::string::npos);

    // The next run comes back as it was; its start-up rewrite keeps the
    // section, and so does saving the list.
    frame.reset();
    frame = std::make_unique<CMainFrame>(settingsPath);
    QCOMPARE(frame->size(), size);
    QCOMPARE(frame->View()->ServerList()->columnWidth(0), 222);
    QVERIFY(frame->HideToTrayAction()->isChecked());
    QVERIFY(frame->View()->SaveServerListQuietly());
    QVERIFY(ReadFile(settingsPath).find("[Window]\r\n") != std::string::npos);
  }

  void withoutASettingsFileNothingIsWritten() {
    QVERIFY(!frame->SaveWindowState());
    QVERIFY(!std::filesystem::exists(settingsPath));
  }

  void theMenusHaveMnemonicsAndKeepTheirTexts() {
    QStringList texts;
    for (QAction* action : frame->menuBar()->actions()) {
      texts.append(action->text());
      if (action->menu() != nullptr) {
        for (QAction* item : action->menu()->actions()) {
          if (!item->isSeparator()) {
            texts.append(item->text());
          }
        }
      }
    }
    QCOMPARE(texts, (QStringList{"&Server", "&Add Server", QStringLiteral("&Find Station\u2026"), "Sch&edule...",
                                 "&Save Server List", "&Hide in Tray When Closed", "E&xit", "&About"}));
    QCOMPARE(frame->AddServerAction()->shortcut(), QKeySequence(Qt::Key_F3));
    QCOMPARE(frame->SaveServerListAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QVERIFY(!frame->windowIcon().isNull());
    QCOMPARE(frame->HideToTrayAction()->isEnabled(), TrayIcon::Available());
  }

  void theTrayCountsRecordingEntriesAndOffersShowAndQuit() {
    TrayIcon tray(AppIcon::Load());
    QCOMPARE(tray.ToolTip(), QStringLiteral("Driftharbour: 0 entries recording"));
    tray.SetRecordingCount(1);
    QCOMPARE(tray.ToolTip(), QStringLiteral("Driftharbour: 1 entry recording"));
    tray.SetRecordingCount(12);
    QCOMPARE(tray.RecordingCount(), 12);
    QSignalSpy show(&tray, &TrayIcon::showRequested);
    QSignalSpy quit(&tray, &TrayIcon::quitRequested);
    QCOMPARE(tray.Menu()->actions().first(), tray.ShowAction());
    QCOMPARE(tray.Menu()->actions().last(), tray.QuitAction());
    tray.ShowAction()->trigger();
    tray.QuitAction()->trigger();
    QCOMPARE(show.count(), 1);
    QCOMPARE(quit.count(), 1);
  }

  void theAboutBoxButtonsFitTheirTexts_data() {
    QTest::addColumn<int>("pointSize");
    for (const int size : {5, 8, 11, 16, 24, 36}) {
      QTest::addRow("%d pt", size) << size;
    }
  }
  void theAboutBoxButtonsFitTheirTexts() {
    QFETCH(int, pointSize);
    CAboutDlg about;
    QFont font = about.font();
    font.setPointSize(pointSize);
    about.setFont(font);
    const QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 3);
    for (QPushButton* button : buttons) {
      const QRect area = button->geometry();
      QVERIFY2(area.width() >= button->sizeHint().width() && area.height() >= button->sizeHint().height(),
               qPrintable(button->text()));
      QVERIFY2(QRect(QPoint(0, 0), about.size()).contains(area), qPrintable(button->text()));
    }
    for (int i = 1; i < buttons.size(); ++i) {
      QVERIFY(!buttons[i]->geometry().intersects(buttons[i - 1]->geometry()));
    }
  }

};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"

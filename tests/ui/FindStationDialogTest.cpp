// Find Station on the offscreen platform against the loopback directory:
// typing searches (debounced, off the window's thread), the keyboard adds
// the chosen station to the window's list under its directory name and
// counts one click, sorting goes by number, and an unreachable directory
// says so and changes nothing.
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <string>

#include "app/ServerRowPresenter.h"
#include "support/FakeDirectory.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
#include "ui/FindStationDialog.h"

class FindStationDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(temporary.isValid());
    frame = std::make_unique<CMainFrame>(temporary.filePath(QStringLiteral("Driftharbour.ini")).toStdString());
    fake = std::make_unique<FakeDirectory>();
    fake->ServeStations({{"uuid-pop", "Pop Hits", "http://127.0.0.1:9/pop", "MP3", 128, "US", "pop", 5, 50},
                         {"uuid-jazz", "Harbour Jazz", "http://127.0.0.1:9/jazz", "AAC", 64, "DE", "jazz", 700, 9}});
  }
  void cleanup() {
    dialog.reset();
    frame.reset();
    fake.reset();
  }

  void commandIsInTheServerMenuOnTheToolbarAndOnCtrlF() {
    QAction* find = frame->FindStationAction();
    QCOMPARE(find->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QVERIFY(frame->menuBar()->actions().first()->menu()->actions().contains(find));
    QVERIFY(frame->EntryToolBar()->actions().contains(find));
  }

  void typingSearchesAndTheKeyboardAddsTheStation() {
    Open(fake->Url());
    QSignalSpy shown(dialog.get(), &FindStationDialog::resultsShown);
    QTest::keyClicks(dialog->NameField(), QStringLiteral("jaz"));
    QVERIFY(shown.wait(10000));
    QCOMPARE(shown.count(), 1);  // one search for the three keys
    QVERIFY2(fake->SearchTarget().find("name=jaz&") != std::string::npos, fake->SearchTarget().c_str());
    QCOMPARE(dialog->Results()->rowCount(), 2);
    QVERIFY(dialog->Results()->item(1, 0)->toolTip().contains(QStringLiteral("Tags: jazz")));

    // Down into the results, to the second station, Enter adds it.
    QTest::keyClick(dialog->NameField(), Qt::Key_Down);
    QVERIFY(dialog->Results()->hasFocus());
    QTest::keyClick(dialog->Results(), Qt::Key_Down);
    QTest::keyClick(dialog->Results(), Qt::Key_Return);

    CDriftharbourView* view = frame->View();
    QCOMPARE(view->Store().EntryCount(), 1);
    QCOMPARE(view->Store().RowAt(0)->Url(), std::string("http://127.0.0.1:9/jazz"));
    QCOMPARE(view->ServerList()->topLevelItem(0)->text(ServerRowPresenter::kStationNameColumn),
             QStringLiteral("Harbour Jazz"));
    QTRY_COMPARE(fake->Clicks("uuid-jazz"), size_t{1});
    QCOMPARE(fake->Clicks("uuid-pop"), size_t{0});
    QVERIFY(dialog->isVisible());
  }

  void resultsSortByNumber() {
    Open(fake->Url());
    QSignalSpy shown(dialog.get(), &FindStationDialog::resultsShown);
    QTest::keyClicks(dialog->TagField(), QStringLiteral("x"));
    QVERIFY(shown.wait(10000));
    dialog->Results()->sortByColumn(4, Qt::DescendingOrder);  // votes: 700 before 5
    QCOMPARE(dialog->Results()->item(0, 0)->text(), QStringLiteral("Harbour Jazz"));
    dialog->Results()->sortByColumn(2, Qt::DescendingOrder);  // kbit/s: 128 before 64
    QCOMPARE(dialog->Results()->item(0, 0)->text(), QStringLiteral("Pop Hits"));
    QVERIFY(fake->SearchTarget().find("tag=x&") != std::string::npos);
  }

  void anUnreachableDirectorySaysSoAndChangesNothing() {
    fake->ServeSearch(FakeDirectory::Unavailable());
    Open(fake->Url());
    QSignalSpy shown(dialog.get(), &FindStationDialog::resultsShown);
    QTest::keyClicks(dialog->NameField(), QStringLiteral("jazz"));
    QVERIFY(shown.wait(10000));
    QVERIFY2(dialog->StatusLine()->text().startsWith(QStringLiteral("the station directory could not be reached: ")),
             qPrintable(dialog->StatusLine()->text()));
    QCOMPARE(dialog->Results()->rowCount(), 0);
    QVERIFY(!dialog->AddButton()->isEnabled());
    QCOMPARE(frame->View()->Store().EntryCount(), 0);
  }

 private:
  void Open(const std::string& directoryUrl) {
    StationDirectory::Settings settings;
    settings.directoryUrl = directoryUrl;
    settings.cacheDirectory = temporary.filePath(QStringLiteral("cache")).toStdString();
    CDriftharbourView* view = frame->View();
    dialog = std::make_unique<FindStationDialog>(
        settings, [view](const DirectoryStation& station) { return FindStationDialog::AddToView(*view, station); },
        frame.get());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->NameField()->setFocus();
  }

  QTemporaryDir temporary;
  std::unique_ptr<FakeDirectory> fake;
  std::unique_ptr<CMainFrame> frame;
  std::unique_ptr<FindStationDialog> dialog;
};

QTEST_MAIN(FindStationDialogTest)
#include "FindStationDialogTest.moc"

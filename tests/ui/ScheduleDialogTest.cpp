// Shows on a schedule in the window: the dialog that edits one show, the
// list of an entry's shows, and what the window says about them (the
// panel's next show, the status bar, the State tooltip of an entry
// recording a show, a stop by hand during a show).

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "app/ScheduleRunner.h"
#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "schedule/ShowTimes.h"
#include "stream/ServerStream.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
#include "ui/EntryCommands.h"
#include "ui/ScheduleController.h"
#include "ui/ScheduleDialog.h"
#include "ui/ShowEditDialog.h"

namespace {

Schedule Parse(const std::string& option) {
  Schedule schedule;
  std::string error;
  ParseScheduleOption(option, schedule, error);
  return schedule;
}

// "HH:MM" of now plus minutes, in UTC.
std::string UtcClock(std::chrono::minutes from) {
  return date::format("%H:%M", date::floor<std::chrono::minutes>(std::chrono::system_clock::now()) + from);
}

}  // namespace

class ScheduleDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void theShowDialogMakesTheScheduleItsFieldsSay_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("repeat");  // 0 weekly, 1 daily, 2 once
    QTest::addColumn<QList<int>>("isoDays");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("expected");  // the settings form; empty: OK stays disabled
    QTest::newRow("weekdays") << "Morning" << 0 << QList<int>{1, 2, 3, 4, 5} << "2h"
                              << "Europe/Berlin" << "Morning|Mon-Fri|07:30|2h|Europe/Berlin";
    QTest::newRow("daily, system zone") << "News" << 1 << QList<int>{} << "1h30m" << "" << "News|daily|07:30|1h30m|";
    QTest::newRow("once") << "Special" << 2 << QList<int>{} << "45m"
                          << "America/New_York" << "Special|2027-10-31|07:30|45m|America/New_York";
    QTest::newRow("weekly without a day") << "X" << 0 << QList<int>{} << "1h" << "UTC" << "";
    QTest::newRow("no name") << " " << 1 << QList<int>{} << "1h" << "UTC" << "";
    QTest::newRow("bad duration") << "X" << 1 << QList<int>{} << "25h" << "UTC" << "";
    QTest::newRow("unknown zone") << "X" << 1 << QList<int>{} << "1h" << "Mars/Olympus" << "";
  }
  void theShowDialogMakesTheScheduleItsFieldsSay() {
    QFETCH(QString, name);
    QFETCH(int, repeat);
    QFETCH(QList<int>, isoDays);
    QFETCH(QString, duration);
    QFETCH(QString, zone);
    QFETCH(QString, expected);
    ShowEditDialog dialog(Schedule{});
    dialog.NameField()->setText(name);
    dialog.RepeatChooser()->setCurrentIndex(repeat);
    for (const int day : isoDays) {
      dialog.DayBox(day)->setChecked(true);
    }
    dialog.DateField()->setDate(QDate(2027, 10, 31));
    dialog.StartField()->setTime(QTime(7, 30));
    dialog.DurationField()->setText(duration);
    if (!zone.isEmpty()) {
      dialog.ZoneChooser()->setCurrentText(zone);
    }
    QCOMPARE(dialog.OkButton()->isEnabled(), !expected.isEmpty());
    if (!expected.isEmpty()) {
      QCOMPARE(QString::fromStdString(ScheduleValue(dialog.Result())), expected);
    }
    // The days are checkable only for a weekly show, the date only once.
    QCOMPARE(dialog.DayBox(1)->isEnabled(), repeat == 0);
    QCOMPARE(dialog.DateField()->isEnabled(), repeat == 2);
  }

  void aShowOpensTheDialogAsItIs() {
    const Schedule jazz = Parse("Jazz=Sat,Sun 23:00+3h@America/New_York");
    ShowEditDialog dialog(jazz);
    QCOMPARE(dialog.ZoneChooser()->currentText(), QStringLiteral("America/New_York"));
    QVERIFY(dialog.DayBox(6)->isChecked() && dialog.DayBox(7)->isChecked() && !dialog.DayBox(1)->isChecked());
    QCOMPARE(dialog.Result(), jazz);
    // The zone chooser finds a zone by any part of its name.
    dialog.ZoneChooser()->lineEdit()->setText(QString());
    QTest::keyClicks(dialog.ZoneChooser()->lineEdit(), QStringLiteral("york"));
    QCOMPARE(dialog.ZoneChooser()->completer()->currentCompletion(), QStringLiteral("America/New_York"));
  }

  void theListRemovesWithTheDeleteKey() {
    ScheduleDialog dialog({Parse("A=daily 07:00+1h@UTC"), Parse("B=daily 08:00+1h@UTC")}, QStringLiteral("u"));
    QCOMPARE(dialog.List()->count(), 2);
    QCOMPARE(dialog.List()->item(1)->text(), QStringLiteral("B: daily 08:00 for 1h (UTC)"));
    dialog.List()->setCurrentRow(0);
    QTest::keyClick(dialog.List(), Qt::Key_Delete);
    QCOMPARE(dialog.Schedules().size(), size_t{1});
    QCOMPARE(dialog.Schedules()[0].show, std::string("B"));
  }

  void theWindowRecordsAShowAndSaysSo() {
    QTemporaryDir directory;
    const std::string settingsPath = directory.filePath(QStringLiteral("Driftharbour.ini")).toStdString();
    // A show on now (begun a minute ago) and one that comes later.
    std::ofstream(settingsPath) << "[Server]\r\nServer_0=http://127.0.0.1:9/a\r\nDownload_0="
                                << directory.path().toStdString() << "\r\nSchedule_0_0=Now|daily|"
                                << UtcClock(std::chrono::minutes{-1}) << "|2h|UTC\r\nServer_1=http://127.0.0.1:9/b\r\n";
    CMainFrame frame(settingsPath);
    CDriftharbourView* view = frame.View();
    SettingsStore& store = view->Store();
    QCOMPARE(store.Runner(), &frame.Schedules()->Runner());
    const ServerStream* onShow = store.StreamAt(0);
    QVERIFY(!onShow->IsStopped());
    QVERIFY(store.StreamAt(1)->IsStopped());
    QTRY_VERIFY(view->ServerList()->topLevelItem(0)->toolTip(ServerRowPresenter::kStateColumn)
                    .contains(QStringLiteral("Recording because of the show Now")));
    view->ServerList()->setCurrentItem(view->ServerList()->topLevelItem(0));
    view->UpdateDetailPanel();
    QVERIFY(view->Control(CDriftharbourView::kStatusLine)->property("fullText").toString().contains(
        QStringLiteral("Recording the show Now until")));

    // The command is in the menu, the context menu and the toolbar.
    QAction* command = view->Commands()->ScheduleAction();
    QVERIFY(view->Commands()->ContextMenu()->actions().contains(command));
    QVERIFY(frame.EntryToolBar()->actions().contains(command));
    QVERIFY(command->isEnabled());

    // A stop by hand ends the show; it does not come back before the next.
    store.ToggleRow(0);
    QVERIFY(onShow->IsStopped());
    QVERIFY(!store.Runner()->Current(onShow));
    store.Runner()->Recheck();
    QVERIFY(onShow->IsStopped());

    // A schedule given to the second entry: its next show in the panel, the
    // soonest show of all in the status bar, and the list counts as changed.
    QVERIFY(!view->ServerListChanged());
    QVERIFY(store.SetEntrySchedules(1, {Parse("Later=daily " + UtcClock(std::chrono::minutes{30}) + "+1h@UTC")}));
    QVERIFY(view->ServerListChanged());
    view->ServerList()->setCurrentItem(view->ServerList()->topLevelItem(1));
    view->UpdateDetailPanel();
    QVERIFY(view->Control(CDriftharbourView::kStatusLine)->property("fullText").toString().startsWith(
        QStringLiteral("Next show: Later, ")));
    QVERIFY(frame.CountsLabel()->text().contains(QStringLiteral("Next show: Later (http://127.0.0.1:9/b)")));
  }
};

QTEST_MAIN(ScheduleDialogTest)
#include "ScheduleDialogTest.moc"

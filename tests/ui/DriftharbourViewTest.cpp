// The main window on the offscreen platform: toggling entries by mouse and
// keyboard, the panel that follows the current row and its lock while an
// entry runs, the entry commands, deletion with its question, adding from
// the clipboard and by drops, saving, the row that shows a file that cannot
// be written or a server that cannot be reached, settled column widths, a
// disk that hangs, and the anchored layout. Servers are the loopback ICY
// server or 127.0.0.1 ports nobody listens on.

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QToolBar>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AnswerBoxes.h"
#include "HungDisk.h"
#include "app/SettingsStore.h"
#include "recording/RecordingOptions.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/IcyTestServer.h"
#include "ui/CAddServerDlg.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
#include "ui/EntryCommands.h"
#include "ui/FolderBrowser.h"
#include "app/ServerRowPresenter.h"

namespace {

// Answers the folder chooser for the user and counts the questions.
class ScriptedFolderBrowser : public FolderBrowser {
 public:
  ScriptedFolderBrowser(QString answer, int* asked) : answer(std::move(answer)), asked(asked) {}
  QString Browse(QWidget*, const QString& title) override {
    ++*asked;
    lastTitle = title;
    return answer;
  }
  inline static QString lastTitle;

 private:
  QString answer;
  int* asked;
};

// Runs act once the next modal dialog is open (polling the event loop that
// the dialog's exec() runs).
void WhenModalOpens(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    }
  });
  poll->start(5);
}

struct BoxSeen {
  QString title;
  QString text;
};

// Answers the next message box with button and reports what it showed.
void AnswerMessageBox(QMessageBox::StandardButton button, BoxSeen* seen) {
  WhenModalOpens([button, seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    seen->title = box->windowTitle();
    seen->text = box->text();
    box->button(button)->click();
  });
}

}  // namespace

class DriftharbourViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(directory.isValid());
    QApplication::clipboard()->clear();
    settingsPath = directory.filePath(QStringLiteral("Driftharbour.ini")).toStdString();
    // Each test starts without the list an earlier one saved.
    std::filesystem::remove(settingsPath);
    frame = std::make_unique<CMainFrame>(settingsPath);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    browserAsked = 0;
  }
  void cleanup() { frame.reset(); }

  void commandsOnAnEmptyListDoNothing() {
    Doubleclick(0);
    QTest::keyClick(List(), Qt::Key_Delete);
    View()->OnBrowse();
    View()->OnFileSplitting();
    View()->OnSmartSplitting();
    QCOMPARE(List()->topLevelItemCount(), 0);
    QCOMPARE(browserAsked, 0);
    for (const auto control : {CDriftharbourView::kBrowse, CDriftharbourView::kFileSplitting,
                               CDriftharbourView::kSmartSplitting, CDriftharbourView::kDirectoryField}) {
      QVERIFY(!View()->Control(control)->isEnabled());
    }
  }

  void doubleClickStartsAndStopsTheEntry() {
    AddEntries({"http://127.0.0.1:1/stream"});
    Doubleclick(0);
    ServerStream* stream = View()->Store().StreamAt(0);
    QVERIFY(!stream->IsStopped());
    QTRY_VERIFY(Cell(0, 1) == "Connecting" || Cell(0, 1) == "Error on connecting");
    QTRY_COMPARE(Cell(0, 1), QStringLiteral("Error on connecting"));
    // Why, and when it was last tried, in the cell's tool tip and the panel.
    const QString tip = List()->topLevelItem(0)->toolTip(ServerRowPresenter::kStateColumn);
    QVERIFY2(tip.startsWith(QStringLiteral("Error on connecting: ")) && tip.contains(QStringLiteral("\nLast try: ")),
             qPrintable(tip));
    QVERIFY(View()->Control(CDriftharbourView::kStatusLine)->toolTip() == tip);
    QCOMPARE(frame->CountsLabel()->text(), QStringLiteral("Recording: 0    Retrying: 1    Stopped: 0"));

    // Still retrying: the next double-click stops it.
    Doubleclick(0);
    QVERIFY(stream->IsStopped());
    QTRY_COMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
    QVERIFY(View()->Control(CDriftharbourView::kBrowse)->isEnabled());
  }

  void doubleClickRecordsTheLoopbackStationLive() {
    IcyTestServer server;
    const std::string audio = TestBytes(60000);
    server.Push({"ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-br:128\r\nicy-metaint:1000\r\n\r\n",
                 InterleaveMetadata(audio, 1000, {{0, "First Song"}, {30000, "Second Song"}}),
                 IcyResponse::kEverything, true});
    const std::string recordings = directory.filePath(QStringLiteral("recordings")).toStdString();
    // Plain files, as entries had them before cutting and partial songs.
    QVERIFY(View()->Store().AddServer(server.Url("/stream"), recordings, true, false, RecordingOptions{}));
    QCoreApplication::processEvents();

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Connected"));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QStringLiteral("Second Song"));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kReceivedCompleteColumn), QStringLiteral("60000 Bytes"));
    QCOMPARE(Cell(0, ServerRowPresenter::kReceivedColumn), QStringLiteral("30000 Bytes"));
    QCOMPARE(Cell(0, ServerRowPresenter::kStationNameColumn), QStringLiteral("Loopback FM"));
    QCOMPARE(Cell(0, ServerRowPresenter::kBitrateColumn), QStringLiteral("128"));
    QVERIFY(!View()->Control(CDriftharbourView::kBrowse)->isEnabled());
    QVERIFY(!List()->topLevelItem(0)->data(ServerRowPresenter::kBitrateColumn, Qt::ForegroundRole).isValid());

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
    // What the server announced stays, greyed: it is not live any more.
    for (const int column : {ServerRowPresenter::kBitrateColumn, ServerRowPresenter::kTitleColumn,
                             ServerRowPresenter::kStationNameColumn}) {
      QCOMPARE(List()->topLevelItem(0)->foreground(column).color(),
               List()->palette().color(QPalette::Disabled, QPalette::Text));
    }
    QCOMPARE(Cell(0, ServerRowPresenter::kStationNameColumn), QStringLiteral("Loopback FM"));
    // Audio before the first title is not kept with File Splitting on; the
    // rest is split exactly where the title changed.
    const std::string first = ReadFile(recordings + "/First Song.mp3");
    const std::string second = ReadFile(recordings + "/Second Song.mp3");
    QCOMPARE(second.size(), size_t{30000});
    QVERIFY(second == audio.substr(30000));
    QVERIFY(!first.empty());
    QVERIFY(first == audio.substr(30000 - first.size(), first.size()));
  }

  void fiftyEntriesAtLoopbackSpeedLeaveTheWindowResponsive() {
    IcyTestServer server;
    const std::string body = InterleaveMetadata(TestBytes(2 * 1000 * 1000), 16000, {{0, "Fast"}});
    server.Push({"ICY 200 OK\r\nicy-metaint:16000\r\n\r\n", body, IcyResponse::kEverything, true});
    const std::string recordings = directory.filePath(QStringLiteral("fast")).toStdString();
    constexpr int kEntries = 50;
    for (int i = 0; i < kEntries; ++i) {
      QVERIFY(View()->Store().AddServer(server.Url("/s" + std::to_string(i)), recordings + "/" + std::to_string(i),
                                        true, true));
    }
    QCoreApplication::processEvents();
    for (int i = 0; i < kEntries; ++i) {
      View()->Store().ToggleRow(i);
    }
    // While every worker writes as fast as it can, the event loop keeps
    // turning: a queued call comes through again and again (a generous
    // bound each time: this checks for a freeze, not for speed).
    for (int turn = 0; turn < 20; ++turn) {
      bool ran = false;
      QTimer::singleShot(0, [&ran] { ran = true; });
      QTRY_VERIFY_WITH_TIMEOUT(ran, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Cell(kEntries - 1, ServerRowPresenter::kReceivedCompleteColumn) == "2,000 MBytes", 60000);
    for (int i = 0; i < kEntries; ++i) {
      View()->Store().ToggleRow(i);
    }
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
  }

  void switchesAndBrowseChangeNothingWhileTheEntryRuns() {
    AddEntries({"http://127.0.0.1:1/stream"});
    UseFolderBrowser(QStringLiteral("/somewhere/else"));
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    const std::string directory = presenter->DownloadDirectory();
    Doubleclick(0);
    auto* fileSwitch = qobject_cast<QCheckBox*>(View()->Control(CDriftharbourView::kFileSplitting));
    auto* smartSwitch = qobject_cast<QCheckBox*>(View()->Control(CDriftharbourView::kSmartSplitting));
    QVERIFY(!fileSwitch->isEnabled());
    QVERIFY(!smartSwitch->isEnabled());
    QVERIFY(!View()->Control(CDriftharbourView::kBrowse)->isEnabled());

    // A click that reaches the handlers anyway (the panel can be stale).
    fileSwitch->setChecked(false);
    View()->OnFileSplitting();
    smartSwitch->setChecked(false);
    View()->OnSmartSplitting();
    View()->OnBrowse();
    QVERIFY(presenter->FileSplitting());
    QVERIFY(presenter->Writer()->FileSplitting());
    QVERIFY(presenter->SmartSplitting());
    QVERIFY(presenter->Writer()->SmartSplitting());
    QVERIFY(fileSwitch->isChecked());
    QVERIFY(smartSwitch->isChecked());
    QCOMPARE(browserAsked, 0);
    QCOMPARE(presenter->DownloadDirectory(), directory);

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
  }

  void switchesAndBrowseTakeEffectAtOnceWhileDisconnected() {
    AddEntries({"http://127.0.0.1:1/a"});
    Select(0);
    QTest::mouseClick(View()->Control(CDriftharbourView::kFileSplitting), Qt::LeftButton);
    QTest::mouseClick(View()->Control(CDriftharbourView::kSmartSplitting), Qt::LeftButton);
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    QVERIFY(!presenter->FileSplitting());
    QVERIFY(!presenter->Writer()->FileSplitting());
    QVERIFY(!presenter->SmartSplitting());
    QVERIFY(!presenter->Writer()->SmartSplitting());

    // The chosen path is kept exactly, trailing separator included, and the
    // writer records there from its next file on.
    UseFolderBrowser(QStringLiteral("/srv/radio/"));
    QTest::mouseClick(View()->Control(CDriftharbourView::kBrowse), Qt::LeftButton);
    QCOMPARE(browserAsked, 1);
    QCOMPARE(ScriptedFolderBrowser::lastTitle, QStringLiteral("Please select your download directory!"));
    QCOMPARE(presenter->DownloadDirectory(), std::string("/srv/radio/"));
    QCOMPARE(presenter->Writer()->Directory(), std::string("/srv/radio/"));
    QCOMPARE(qobject_cast<QLineEdit*>(View()->Control(CDriftharbourView::kDirectoryField))->text(),
             QStringLiteral("/srv/radio/"));

    // Cancelling the chooser keeps the directory.
    UseFolderBrowser(QString());
    View()->OnBrowse();
    QCOMPARE(presenter->DownloadDirectory(), std::string("/srv/radio/"));
  }

  void deleteAsksAndOnlyYesDeletes_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("rowsLeft");
    QTest::newRow("Delete, Yes") << int(Qt::Key_Delete) << int(QMessageBox::Yes) << 1;
    QTest::newRow("Backspace, Yes") << int(Qt::Key_Backspace) << int(QMessageBox::Yes) << 1;
    QTest::newRow("Delete, No") << int(Qt::Key_Delete) << int(QMessageBox::No) << 2;
    QTest::newRow("Delete, Cancel") << int(Qt::Key_Delete) << int(QMessageBox::Cancel) << 2;
  }
  void deleteAsksAndOnlyYesDeletes() {
    QFETCH(int, key);
    QFETCH(int, answer);
    QFETCH(int, rowsLeft);
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    Select(0);
    BoxSeen seen;
    AnswerMessageBox(static_cast<QMessageBox::StandardButton>(answer), &seen);
    QTest::keyClick(List(), static_cast<Qt::Key>(key));
    QCOMPARE(seen.title, QStringLiteral("Warning!"));
    QCOMPARE(seen.text, QStringLiteral("Do you want to delete 1 item from your picture list?"));
    QCOMPARE(List()->topLevelItemCount(), rowsLeft);
    QCOMPARE(View()->Store().EntryCount(), rowsLeft);
    QCOMPARE(Cell(rowsLeft - 1, 0), QStringLiteral("http://127.0.0.1:1/b"));
    QCOMPARE(View()->SelectedRow(), rowsLeft == 1 ? -1 : 0);
  }

  void otherKeysAndNoSelectionDeleteNothing() {
    AddEntries({"http://127.0.0.1:1/a"});
    Select(0);
    QTest::keyClick(List(), Qt::Key_A);
    List()->clearSelection();
    QTest::keyClick(List(), Qt::Key_Delete);
    QCOMPARE(View()->Store().EntryCount(), 1);
  }

  void rowsBelowADeletedRunningEntryMoveUpAndStayAddressed() {
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b", "http://127.0.0.1:1/c", "http://127.0.0.1:1/d"});
    // b keeps writing its row while it retries; its last words must not land
    // on c's row once c moves up.
    Doubleclick(1);
    QTRY_COMPARE(Cell(1, 1), QStringLiteral("Error on connecting"));
    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Yes, &seen);
    QTest::keyClick(List(), Qt::Key_Delete);
    QCOMPARE(List()->topLevelItemCount(), 3);
    QTest::qWait(50);
    QCOMPARE(Cell(1, 0), QStringLiteral("http://127.0.0.1:1/c"));
    QCOMPARE(Cell(1, 1), QStringLiteral("Disconnected"));
    QCOMPARE(Cell(2, 0), QStringLiteral("http://127.0.0.1:1/d"));
    QCOMPARE(View()->Store().RowAt(1)->Url(), std::string("http://127.0.0.1:1/c"));
    QCOMPARE(View()->Store().RowAt(2)->RowIndex(), 2);

    // A double-click on the moved row starts c, and only c.
    Doubleclick(2);
    QVERIFY(!View()->Store().StreamAt(2)->IsStopped());
    QCOMPARE(View()->Store().StreamAt(2)->Url(), std::string("http://127.0.0.1:1/d"));
    QTRY_COMPARE(Cell(2, 1), QStringLiteral("Error on connecting"));
    QCOMPARE(Cell(1, 1), QStringLiteral("Disconnected"));
    QVERIFY(View()->Store().StreamAt(1)->IsStopped());
    Doubleclick(2);
  }

  void addServerTakesTheClipboardTextWhole() {
    const QString copied = QStringLiteral("http://127.0.0.1:8000/stream");
    QApplication::clipboard()->setText(copied);
    QString shown = QStringLiteral("<no dialog>");
    WhenModalOpens([&shown](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      QVERIFY(dialog != nullptr);
      shown = dialog->UrlField()->text();
      QTest::keyClick(dialog, Qt::Key_Return);
    });
    QTest::keyClick(frame.get(), Qt::Key_F3);
    QCOMPARE(shown, copied);
    QCOMPARE(List()->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), copied);
    QCOMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QCOMPARE(View()->Store().RowAt(0)->DownloadDirectory(), View()->Store().DefaultDownloadDirectory());
  }

  void addServerTrimsCompletesOrRefuses_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("added");  // null: refused, the dialog stays open
    QTest::newRow("blanks around") << QStringLiteral("  http://127.0.0.1:8000/stream \t")
                                   << QStringLiteral("http://127.0.0.1:8000/stream");
    QTest::newRow("no scheme, port") << QStringLiteral("127.0.0.1:8000/live") << QStringLiteral("http://127.0.0.1:8000/live");
    QTest::newRow("no scheme, name") << QStringLiteral("radio.example/stream")
                                     << QStringLiteral("http://radio.example/stream");
    QTest::newRow("https") << QStringLiteral("https://127.0.0.1/a") << QStringLiteral("https://127.0.0.1/a");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/a") << QString();
    QTest::newRow("file") << QStringLiteral("file:/music/a.mp3") << QString();
    QTest::newRow("words") << QStringLiteral("  just some words \t") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no host") << QStringLiteral("http:///stream") << QString();
  }
  void addServerTrimsCompletesOrRefuses() {
    QFETCH(QString, typed);
    QFETCH(QString, added);
    CAddServerDlg dialog(frame.get());
    dialog.show();
    dialog.UrlField()->setText(typed);
    BoxSeen seen;
    if (added.isNull()) {
      AnswerMessageBox(QMessageBox::Ok, &seen);
    }
    dialog.findChild<QPushButton*>(QStringLiteral("addServer"))->click();
    QCOMPARE(dialog.Url(), added.isNull() ? QString() : added);
    QCOMPARE(dialog.isVisible(), added.isNull());
    if (added.isNull()) {
      QCOMPARE(seen.title, QStringLiteral("Add Server"));
      QVERIFY2(seen.text.contains(QStringLiteral("URL")), qPrintable(seen.text));
    }
  }

  void addServerCancelledAddsNothingAndADuplicateOnlyWhenConfirmed() {
    QApplication::clipboard()->setText(QStringLiteral("http://127.0.0.1:1/same"));
    WhenModalOpens([](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      dialog->UrlField()->setText(QStringLiteral("edited"));
      dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    });
    frame->AddServerAction()->trigger();
    QCOMPARE(List()->topLevelItemCount(), 0);

    // The first goes in at once; the same URL again asks, and No keeps the
    // dialog open for another address.
    WhenModalOpens([](QWidget* modal) {
      qobject_cast<CAddServerDlg*>(modal)->findChild<QPushButton*>(QStringLiteral("addServer"))->click();
    });
    frame->AddServerAction()->trigger();
    QCOMPARE(List()->topLevelItemCount(), 1);
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
      QStringList seen;
      bool stillOpen = false;
      WhenModalOpens([&seen, &stillOpen, answer](QWidget* modal) {
        auto* dialog = qobject_cast<CAddServerDlg*>(modal);
        AnswerBoxes({answer}, &seen);
        dialog->findChild<QPushButton*>(QStringLiteral("addServer"))->click();
        stillOpen = dialog->isVisible();
        if (stillOpen) {
          dialog->reject();
        }
      });
      frame->AddServerAction()->trigger();
      QCOMPARE(seen.size(), 1);
      QVERIFY(seen.front().contains(QStringLiteral("already in the server list")));
      QCOMPARE(stillOpen, answer == QMessageBox::No);
    }
    QCOMPARE(List()->topLevelItemCount(), 2);
    QCOMPARE(Cell(1, 0), QStringLiteral("http://127.0.0.1:1/same"));
    QVERIFY(View()->Store().StreamAt(0) != View()->Store().StreamAt(1));
    Doubleclick(1);
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QVERIFY(!View()->Store().StreamAt(1)->IsStopped());
    Doubleclick(1);
  }

  void saveServerListWritesTheFileAndSaysSo() {
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Ok, &seen);
    QTest::keySequence(frame.get(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(seen.title, QStringLiteral("Driftharbour"));
    QCOMPARE(seen.text, QStringLiteral("Serverlist saved!"));
    std::ifstream file(settingsPath, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    QVERIFY(text.find("Server_0=http://127.0.0.1:1/a\r\n") != std::string::npos);
    QVERIFY(text.find("Server_1=http://127.0.0.1:1/b\r\n") != std::string::npos);
  }

  void saveThatFailsSaysSo() {
    frame.reset();
    settingsPath = directory.filePath(QStringLiteral("missing/dir/Driftharbour.ini")).toStdString();
    frame = std::make_unique<CMainFrame>(settingsPath);
    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Ok, &seen);
    frame->SaveServerListAction()->trigger();
    QCOMPARE(seen.text, QStringLiteral("Serverlist couldn\u00b4t be saved!"));
    QVERIFY(!std::filesystem::exists(settingsPath));
  }

  void aFileTheWriterCannotCreateShowsInTheRow() {
    AddEntries({"http://127.0.0.1:1/a"});
    // A download directory below a plain file can never be created.
    const std::string blocker = directory.filePath(QStringLiteral("plain-file")).toStdString();
    std::ofstream(blocker) << "x";
    QVERIFY(View()->Store().SetEntryDirectory(0, blocker + "/sub"));
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    RecordingWriter* writer = presenter->Writer();
    writer->OnText(StreamEvent::Title, "Song");
    const StreamBuffer audio("abcd", 4);
    writer->OnAudio(audio);
    QVERIFY(writer->LastError().has_value());
    presenter->OnText(StreamEvent::Title, "Song");

    QTRY_VERIFY(Cell(0, 4).startsWith(QStringLiteral("Song [Cannot write ")));
    QVERIFY(Cell(0, 4).contains(QString::fromStdString(blocker)));
    QVERIFY(!List()->topLevelItem(0)->toolTip(0).isEmpty());
    // The State column says so too, the path and the reason in its tool tip
    // and in the panel.
    QCOMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Error writing file"));
    const QString reason = QString::fromStdString(writer->LastError()->reason);
    QVERIFY(!reason.isEmpty());
    Select(0);
    for (const QString& shown : {List()->topLevelItem(0)->toolTip(ServerRowPresenter::kStateColumn),
                                 View()->Control(CDriftharbourView::kStatusLine)->toolTip()}) {
      QVERIFY2(shown.contains(QString::fromStdString(blocker)) && shown.contains(reason), qPrintable(shown));
    }

    // Another write keeps one note, not two.
    presenter->OnText(StreamEvent::Bitrate, "128");
    QTRY_COMPARE(Cell(0, 2), QStringLiteral("128"));
    QCOMPARE(Cell(0, 4).count(QStringLiteral("Cannot write")), 1);

    // Once a file can be written again the note goes.
    QVERIFY(View()->Store().SetEntryDirectory(0, directory.path().toStdString()));
    writer->OnText(StreamEvent::Title, "Next");
    writer->OnAudio(audio);
    QVERIFY(!writer->LastError().has_value());
    presenter->OnText(StreamEvent::Title, "Next");
    QTRY_COMPARE(Cell(0, 4), QStringLiteral("Next"));
    QVERIFY(List()->topLevelItem(0)->toolTip(0).isEmpty());
    QCOMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
    QVERIFY(View()->Control(CDriftharbourView::kStatusLine)->toolTip().isEmpty());
  }

  void enterAndSpaceToggleTheSelectedEntryAndThePanelFollowsTheKeys_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Space") << int(Qt::Key_Space);
  }
  void enterAndSpaceToggleTheSelectedEntryAndThePanelFollowsTheKeys() {
    QFETCH(int, key);
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    QVERIFY(View()->Store().SetEntryDirectory(1, "/srv/b"));
    QVERIFY(View()->Store().SetEntryOptions(1, RecordingOptions{}));
    Select(0);
    QCOMPARE(DirectoryShown(), QString::fromStdString(View()->Store().RowAt(0)->DownloadDirectory()));
    QVERIFY(Switch(CDriftharbourView::kCutAtSilence)->isChecked());

    // The arrow keys move the current row; the panel goes with it.
    QTest::keyClick(List(), Qt::Key_Down);
    QCOMPARE(View()->SelectedRow(), 1);
    QCOMPARE(DirectoryShown(), QStringLiteral("/srv/b"));
    QVERIFY(!Switch(CDriftharbourView::kCutAtSilence)->isChecked());

    QTest::keyClick(List(), static_cast<Qt::Key>(key));
    QVERIFY(!View()->Store().StreamAt(1)->IsStopped());
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QVERIFY(!View()->Control(CDriftharbourView::kBrowse)->isEnabled());
    QTest::keyClick(List(), Qt::Key_Up);
    QVERIFY(View()->Control(CDriftharbourView::kBrowse)->isEnabled());
    QTest::keyClick(List(), Qt::Key_Down);
    QTest::keyClick(List(), static_cast<Qt::Key>(key));
    QVERIFY(View()->Store().StreamAt(1)->IsStopped());
    QTRY_COMPARE(Cell(1, 1), QStringLiteral("Disconnected"));
  }

  void tabRunsFromTheListDownThePanel() {
    AddEntries({"http://127.0.0.1:1/a"});
    Select(0);
    List()->setFocus();
    const QList<QWidget*> expected = {
        View()->Control(CDriftharbourView::kDirectoryField), View()->Control(CDriftharbourView::kBrowse),
        View()->Control(CDriftharbourView::kFileSplitting),  View()->Control(CDriftharbourView::kSmartSplitting),
        View()->Control(CDriftharbourView::kCutAtSilence),   View()->Control(CDriftharbourView::kTags),
        View()->Control(CDriftharbourView::kKeepPartialApart)};
    QWidget* at = List();
    for (QWidget* next : expected) {
      at = at->nextInFocusChain();
      while (at->focusPolicy() == Qt::NoFocus || at->parentWidget() != View()) {
        at = at->nextInFocusChain();
      }
      QCOMPARE(at, next);
    }
  }

  void theOptionSwitchesChangeTheEntryOnlyWhileItIsStopped_data() {
    QTest::addColumn<int>("control");
    QTest::newRow("cut at silence") << int(CDriftharbourView::kCutAtSilence);
    QTest::newRow("write tags") << int(CDriftharbourView::kTags);
    QTest::newRow("keep partial songs apart") << int(CDriftharbourView::kKeepPartialApart);
  }
  void theOptionSwitchesChangeTheEntryOnlyWhileItIsStopped() {
    QFETCH(int, control);
    void (CDriftharbourView::*handler)() = control == CDriftharbourView::kCutAtSilence ? &CDriftharbourView::OnCutAtSilence
                                           : control == CDriftharbourView::kTags        ? &CDriftharbourView::OnTags
                                                                                        : &CDriftharbourView::OnKeepPartialApart;
    const auto option = [control](const RecordingOptions& options) {
      return control == CDriftharbourView::kCutAtSilence ? options.cutAtSilence
             : control == CDriftharbourView::kTags       ? options.tags
                                                         : options.keepPartialApart;
    };
    AddEntries({"http://127.0.0.1:1/a"});
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    const bool before = option(presenter->Options());
    QVERIFY(View()->ServerListChanged());
    QVERIFY(View()->SaveServerListQuietly());
    QVERIFY(!View()->ServerListChanged());
    Select(0);
    Switch(control)->click();
    QCOMPARE(option(presenter->Options()), !before);
    QCOMPARE(option(presenter->Writer()->Options()), !before);
    QVERIFY(View()->ServerListChanged());

    Doubleclick(0);
    QVERIFY(!Switch(control)->isEnabled());
    // A click that reaches the handler anyway (the panel can be stale).
    Switch(control)->setChecked(before);
    (View()->*handler)();
    QCOMPARE(option(presenter->Options()), !before);
    QCOMPARE(Switch(control)->isChecked(), !before);
    Doubleclick(0);
  }

  void theContextMenuAndToolbarCommandsActOnTheSelectedEntry() {
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    const std::string downloads = directory.filePath(QStringLiteral("not/yet")).toStdString();
    QVERIFY(View()->Store().SetEntryDirectory(1, downloads));
    QList<QUrl> opened;
    View()->Commands()->SetUrlOpener([&opened](const QUrl& url) {
      opened.append(url);
      return true;
    });
    EntryCommands* commands = View()->Commands();

    // A right click on a row makes it the current one and offers every command.
    QContextMenuEvent click(QContextMenuEvent::Mouse, RowCentre(1), List()->viewport()->mapToGlobal(RowCentre(1)));
    QApplication::sendEvent(List()->viewport(), &click);
    QTRY_VERIFY(View()->ContextMenu()->isVisible());
    QCOMPARE(View()->SelectedRow(), 1);
    for (QAction* action : commands->Actions()) {
      QVERIFY(View()->ContextMenu()->actions().contains(action));
      QVERIFY(frame->EntryToolBar()->actions().contains(action));
    }
    View()->ContextMenu()->hide();
    QVERIFY(commands->StartAction()->isEnabled());
    QVERIFY(!commands->StopAction()->isEnabled());

    commands->StartAction()->trigger();
    QVERIFY(!View()->Store().StreamAt(1)->IsStopped());
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QVERIFY(!commands->StartAction()->isEnabled());
    commands->StopAction()->trigger();
    QVERIFY(View()->Store().StreamAt(1)->IsStopped());

    commands->CopyUrlAction()->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:1/b"));

    // The folder is made first: the desktop cannot show one that is not there.
    commands->OpenFolderAction()->trigger();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.back(), QUrl::fromLocalFile(QString::fromStdString(downloads)));
    QVERIFY(std::filesystem::is_directory(downloads));

    // The player gets a playlist naming the stream, not a web page.
    commands->ListenAction()->trigger();
    QCOMPARE(opened.size(), 2);
    QVERIFY(opened.back().isLocalFile());
    QVERIFY(opened.back().path().endsWith(QStringLiteral(".m3u")));
    const std::string playlist = ReadFile(opened.back().toLocalFile().toStdString());
    QVERIFY2(playlist.find("\nhttp://127.0.0.1:1/b\n") != std::string::npos, playlist.c_str());

    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Yes, &seen);
    commands->RemoveAction()->trigger();
    QCOMPARE(seen.text, QStringLiteral("Do you want to delete 1 item from your picture list?"));
    QCOMPARE(View()->Store().EntryCount(), 1);
    QCOMPARE(Cell(0, 0), QStringLiteral("http://127.0.0.1:1/a"));
    for (QAction* action : commands->Actions()) {
      QVERIFY(!action->isEnabled());  // nothing selected
    }
  }

  void droppedUrlsAreAddedAsAddServerWould_data() {
    QTest::addColumn<bool>("asUriList");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("uri-list") << true << QStringList{"http://127.0.0.1:1/x", "https://127.0.0.1:1/y"}
                              << QStringList{"http://127.0.0.1:1/x", "https://127.0.0.1:1/y"};
    QTest::newRow("plain text lines") << false << QStringList{"  127.0.0.1:1/x \r", "", "http://127.0.0.1:1/y"}
                                      << QStringList{"http://127.0.0.1:1/x", "http://127.0.0.1:1/y"};
    QTest::newRow("a file among them") << true << QStringList{"file:///music/song.mp3", "http://127.0.0.1:1/x"}
                                       << QStringList{"http://127.0.0.1:1/x"};
  }
  void droppedUrlsAreAddedAsAddServerWould() {
    QFETCH(bool, asUriList);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, added);
    QMimeData data;
    if (asUriList) {
      QList<QUrl> urls;
      for (const QString& text : dropped) {
        urls.append(QUrl(text));
      }
      data.setUrls(urls);
    } else {
      data.setText(dropped.join(QLatin1Char('\n')));
    }
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QStringList seen;
    if (added.size() < dropped.size() - dropped.count(QString())) {
      AnswerBoxes({QMessageBox::Ok}, &seen);
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(List()->topLevelItemCount(), added.size());
    for (int row = 0; row < added.size(); ++row) {
      QCOMPARE(Cell(row, 0), added[row]);
      QVERIFY(View()->Store().StreamAt(row)->IsStopped());
    }
    QTRY_COMPARE(seen.size(), added.size() < dropped.size() - dropped.count(QString()) ? 1 : 0);
  }

  void aLocalPlaylistFileAddsTheStreamsItNames() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("station.pls"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[playlist]\nFile1=http://127.0.0.1:1/a\nFile2=mms://127.0.0.1/old\nFile3=http://127.0.0.1:1/b\n");
    file.close();

    // Dropped on the list...
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &drop);
    QTRY_COMPARE(List()->topLevelItemCount(), 2);
    QCOMPARE(Cell(0, 0), QStringLiteral("http://127.0.0.1:1/a"));
    QCOMPARE(Cell(1, 0), QStringLiteral("http://127.0.0.1:1/b"));

    // ...or pasted into Add Server.
    CAddServerDlg dialog(View());
    dialog.UrlField()->setText(path);
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Urls(), (QStringList{"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"}));
  }

  void columnWidthsSettleAtTheFirstTextAndStayWhereTheUserPutsThem() {
    AddEntries({"http://127.0.0.1:1/a"});
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    QHeaderView* header = List()->header();
    QVERIFY(header->stretchLastSection());

    // The first title widens its column once...
    const std::string first = "A first title that is longer than its header";
    presenter->OnText(StreamEvent::Title, first);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QString::fromStdString(first));
    const int titleWidth = List()->columnWidth(ServerRowPresenter::kTitleColumn);
    QVERIFY(titleWidth >= List()->fontMetrics().horizontalAdvance(QString::fromStdString(first)));
    std::vector<int> widths = View()->ColumnWidths();

    // ...and nothing that follows moves any column: states, counters, titles.
    presenter->OnText(StreamEvent::State, "Error when preparing buffer");
    presenter->OnText(StreamEvent::Received, "123456789012");
    presenter->OnText(StreamEvent::Bitrate, "320");
    presenter->OnText(StreamEvent::Title, std::string(300, 'x'));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QString(300, QLatin1Char('x')));
    QCOMPARE(View()->ColumnWidths(), widths);
    // The known texts fit the widths they were given at the start.
    const int stateText = List()->fontMetrics().horizontalAdvance(QStringLiteral("Error when preparing buffer"));
    QVERIFY(List()->columnWidth(ServerRowPresenter::kStateColumn) > stateText);

    // A width the user drags stays through every update.
    header->resizeSection(ServerRowPresenter::kUrlColumn, 333);
    header->resizeSection(ServerRowPresenter::kTitleColumn, 44);
    presenter->OnText(StreamEvent::Title, "Another");
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QStringLiteral("Another"));
    QCOMPARE(List()->columnWidth(ServerRowPresenter::kUrlColumn), 333);
    QCOMPARE(List()->columnWidth(ServerRowPresenter::kTitleColumn), 44);
  }

  void aHungDiskFreezesNeitherTheWindowNorTheOtherEntries() {
    IcyTestServer server;
    server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(TestBytes(5000), 1000, {{0, "Song"}}),
                 IcyResponse::kEverything, true});
    const std::string recordings = directory.filePath(QStringLiteral("hung")).toStdString();
    QVERIFY(View()->Store().AddServer(server.Url("/hung"), recordings, true, false, RecordingOptions{}));
    RefusingPort refusing;
    AddEntries({refusing.Url("/b").c_str(), refusing.Url("/c").c_str()});
    HungDisk disk;
    View()->Store().RowAt(0)->Writer()->SetWriteFunction(
        [&disk](int fd, const void* data, size_t size) { return disk.Write(fd, data, size); });

    Doubleclick(0);
    // The worker now waits in write() with its stream's and its writer's
    // locks held.
    QTRY_VERIFY(disk.Blocked());
    QVERIFY(!View()->Store().RowAt(0)->Writer()->CurrentPath().empty());

    // Each must be answered at once; the bound is generous for a loaded
    // machine, far below a hang.
    constexpr qint64 kBoundMs = 100;
    QElapsedTimer clock;
    for (int round = 0; round < 2; ++round) {
      for (const int row : {1, 2}) {
        clock.start();
        Select(row);
        QTest::keyClick(List(), Qt::Key_Space);
        QVERIFY2(clock.elapsed() < kBoundMs, "starting another entry waited");
        QVERIFY(!View()->Store().StreamAt(row)->IsStopped());
        clock.start();
        QTest::keyClick(List(), Qt::Key_Space);
        QVERIFY2(clock.elapsed() < kBoundMs, "stopping another entry waited");
        QVERIFY(View()->Store().StreamAt(row)->IsStopped());
      }
      clock.start();
      for (int row = 0; row < View()->Store().EntryCount(); ++row) {
        View()->Store().RowAt(row)->Refresh();
      }
      View()->List().ApplyPending();
      Select(0);  // the hung entry's panel
      QVERIFY2(clock.elapsed() < kBoundMs, "refreshing the rows waited");
      QCOMPARE(frame->CountsLabel()->text(), QStringLiteral("Recording: 1    Retrying: 0    Stopped: 2"));
    }
    QVERIFY(disk.Blocked());
    disk.Release();
    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
  }

  void resizingGrowsTheListAndKeepsTheMinimum() {
    const QRect list = View()->Control(CDriftharbourView::kServerList)->geometry();
    const QRect browse = View()->Control(CDriftharbourView::kBrowse)->geometry();
    const QRect field = View()->Control(CDriftharbourView::kDirectoryField)->geometry();
    const QRect fileSwitch = View()->Control(CDriftharbourView::kFileSplitting)->geometry();
    const QSize start = frame->size();

    frame->resize(start + QSize(100, 50));
    QTRY_COMPARE(View()->Control(CDriftharbourView::kServerList)->geometry().size(), list.size() + QSize(100, 50));
    QCOMPARE(View()->Control(CDriftharbourView::kServerList)->geometry().topLeft(), list.topLeft());
    QCOMPARE(View()->Control(CDriftharbourView::kBrowse)->geometry(), browse.translated(100, 50));
    QCOMPARE(View()->Control(CDriftharbourView::kDirectoryField)->geometry(),
             field.translated(0, 50).adjusted(0, 0, 100, 0));
    QCOMPARE(View()->Control(CDriftharbourView::kFileSplitting)->geometry(), fileSwitch.translated(0, 50));

    frame->resize(start - QSize(100, 50));
    QCOMPARE(frame->size(), start);
    QCOMPARE(frame->minimumSize(), start);
  }

 private:
  CDriftharbourView* View() const { return frame->View(); }
  QTreeWidget* List() const { return View()->ServerList(); }
  QString Cell(int row, int column) const {
    QTreeWidgetItem* item = List()->topLevelItem(row);
    return item == nullptr ? QStringLiteral("<no row>") : item->text(column);
  }
  void AddEntries(std::initializer_list<const char*> urls) {
    for (const char* url : urls) {
      QVERIFY(View()->Store().AddServer(url, "", true, true));
    }
    QCoreApplication::processEvents();
  }
  QPoint RowCentre(int row) const {
    QTreeWidgetItem* item = List()->topLevelItem(row);
    return item == nullptr ? QPoint(5, List()->viewport()->height() - 5) : List()->visualItemRect(item).center();
  }
  void Select(int row) { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row)); QCoreApplication::processEvents(); }
  void Doubleclick(int row) {
    Select(row);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    QCoreApplication::processEvents();
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  QString DirectoryShown() const {
    return qobject_cast<QLineEdit*>(View()->Control(CDriftharbourView::kDirectoryField))->text();
  }
  QCheckBox* Switch(int control) const { return qobject_cast<QCheckBox*>(View()->Control(control)); }
  void UseFolderBrowser(QString answer) {
    View()->SetFolderBrowserFactory(
        [this, answer] { return std::make_unique<ScriptedFolderBrowser>(answer, &browserAsked); });
  }

  QTemporaryDir directory;
  std::string settingsPath;
  std::unique_ptr<CMainFrame> frame;
  int browserAsked = 0;
};

QTEST_MAIN(DriftharbourViewTest)
#include "DriftharbourViewTest.moc"

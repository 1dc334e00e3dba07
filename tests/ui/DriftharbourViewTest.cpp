// The main window on the offscreen platform: toggling entries, the panel's
// lock while an entry runs, deletion with its question, adding from the
// clipboard, saving, the row that shows a file that cannot be written, and
// the anchored layout. Servers are the loopback ICY server or 127.0.0.1
// ports nobody listens on.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/SettingsStore.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/IcyTestServer.h"
#include "ui/CAddServerDlg.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"
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
    QVERIFY(View()->Store().AddServer(server.Url("/stream"), recordings, true, false));
    QCoreApplication::processEvents();

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Connected"));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QStringLiteral("Second Song"));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kReceivedCompleteColumn), QStringLiteral("60000 Bytes"));
    QCOMPARE(Cell(0, ServerRowPresenter::kReceivedColumn), QStringLiteral("30000 Bytes"));
    QCOMPARE(Cell(0, ServerRowPresenter::kStationNameColumn), QStringLiteral("Loopback FM"));
    QCOMPARE(Cell(0, ServerRowPresenter::kBitrateColumn), QStringLiteral("128"));
    QVERIFY(!View()->Control(CDriftharbourView::kBrowse)->isEnabled());

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
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
    QTest::keyClick(List(), Qt::Key_Space);
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

  void addServerTakesTheClipboardTextWhole_data() {
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("url") << QStringLiteral("http://127.0.0.1:8000/stream");
    QTest::newRow("not a url, with blanks") << QStringLiteral("  just some words \t");
    QTest::newRow("empty clipboard") << QString();
  }
  void addServerTakesTheClipboardTextWhole() {
    QFETCH(QString, clipboard);
    if (!clipboard.isNull()) {
      QApplication::clipboard()->setText(clipboard);
    }
    QString shown = QStringLiteral("<no dialog>");
    WhenModalOpens([&shown](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      QVERIFY(dialog != nullptr);
      shown = dialog->UrlField()->text();
      QTest::keyClick(dialog, Qt::Key_Return);
    });
    QTest::keyClick(frame.get(), Qt::Key_F3);
    QCOMPARE(shown, clipboard.isNull() ? QString() : clipboard);
    QCOMPARE(List()->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), shown);
    QCOMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QCOMPARE(View()->Store().RowAt(0)->DownloadDirectory(), View()->Store().DefaultDownloadDirectory());
  }

  void addServerCancelledAddsNothingAndDuplicatesAreIndependent() {
    QApplication::clipboard()->setText(QStringLiteral("http://127.0.0.1:1/same"));
    WhenModalOpens([](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      dialog->UrlField()->setText(QStringLiteral("edited"));
      dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    });
    frame->AddServerAction()->trigger();
    QCOMPARE(List()->topLevelItemCount(), 0);

    for (int i = 0; i < 2; ++i) {
      WhenModalOpens([](QWidget* modal) {
        qobject_cast<CAddServerDlg*>(modal)->findChild<QPushButton*>(QStringLiteral("addServer"))->click();
      });
      frame->AddServerAction()->trigger();
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

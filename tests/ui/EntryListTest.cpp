// The main window's server list on the offscreen platform: toggling entries
// by mouse and keyboard, deletion with its question and the rows that move
// up, the row that shows a file that cannot be written or a server that
// cannot be reached, greyed texts of an entry that is not live, settled
// column widths, and the anchored layout. Servers are the loopback ICY
// server or 127.0.0.1 ports nobody listens on.

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "AnswerBoxes.h"
#include "ViewFixture.h"
#include "app/ServerRowPresenter.h"
#include "recording/RecordingOptions.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/IcyTestServer.h"
#include "ui/EntryList.h"
#include "ui/QtListControl.h"

class EntryListTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

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
    QVERIFY(CutAtSilenceShown());

    // The arrow keys move the current row; the panel goes with it.
    QTest::keyClick(List(), Qt::Key_Down);
    QCOMPARE(View()->SelectedRow(), 1);
    QCOMPARE(DirectoryShown(), QStringLiteral("/srv/b"));
    QVERIFY(!CutAtSilenceShown());

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
    // Whatever b wrote before it stopped reaches the widget now.
    View()->List().ApplyPending();
    QTRY_COMPARE(Cell(1, 0), QStringLiteral("http://127.0.0.1:1/c"));
    QTRY_COMPARE(Cell(1, 1), QStringLiteral("Disconnected"));
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
    // As far as the list has room without scrolling sideways.
    QVERIFY(titleWidth >= std::min(List()->fontMetrics().horizontalAdvance(QString::fromStdString(first)),
                                   View()->List().Room(ServerRowPresenter::kTitleColumn)));
    std::vector<int> widths = View()->ColumnWidths();

    // ...and nothing that follows moves any column: states, counters, titles.
    presenter->OnText(StreamEvent::State, "Error when preparing buffer");
    presenter->OnText(StreamEvent::Received, "123456789012");
    presenter->OnText(StreamEvent::Bitrate, "320");
    presenter->OnText(StreamEvent::Title, std::string(300, 'x'));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QString(300, QLatin1Char('x')));
    QCOMPARE(View()->ColumnWidths(), widths);
    // The usual states fit the width the column was given at the start
    // (the rare long ones end in "..." where the list is narrow).
    const int stateText = List()->fontMetrics().horizontalAdvance(QStringLiteral("Disconnected"));
    QVERIFY(List()->columnWidth(ServerRowPresenter::kStateColumn) > stateText);

    // A width the user drags stays through every update.
    header->resizeSection(ServerRowPresenter::kUrlColumn, 333);
    header->resizeSection(ServerRowPresenter::kTitleColumn, 44);
    presenter->OnText(StreamEvent::Title, "Another");
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QStringLiteral("Another"));
    QCOMPARE(List()->columnWidth(ServerRowPresenter::kUrlColumn), 333);
    QCOMPARE(List()->columnWidth(ServerRowPresenter::kTitleColumn), 44);
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

    // Smaller than the first size too: the list gives up its room.
    frame->resize(start - QSize(100, 50));
    QTRY_COMPARE(View()->Control(CDriftharbourView::kServerList)->geometry().size(), list.size() - QSize(100, 50));
    QCOMPARE(View()->Control(CDriftharbourView::kBrowse)->geometry(), browse.translated(-100, -50));
    QCOMPARE(frame->minimumSize(), CDriftharbourView::kSmallestFrame);
  }

  void theColumnsFitTheListAndLongTextsEndInDots() {
    // At the first start, and after the longest texts arrived.
    QTRY_VERIFY(List()->header()->length() <= List()->viewport()->width());
    QVERIFY(!List()->horizontalScrollBar()->isVisible());
    AddEntries({"http://127.0.0.1:1/a-stream-address-long-enough-to-fill-a-column-of-its-own-and-more/x/y/z"});
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    presenter->OnText(StreamEvent::Title, std::string(300, 'x'));
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kTitleColumn), QString(300, QLatin1Char('x')));
    QVERIFY(List()->header()->length() <= List()->viewport()->width());
    QVERIFY(!List()->horizontalScrollBar()->isVisible());
  }

  void shiftF10OpensTheContextMenuAtTheCurrentRow_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("opens");
    QTest::newRow("Shift+F10") << static_cast<int>(Qt::ShiftModifier) << true;
    QTest::newRow("F10") << static_cast<int>(Qt::NoModifier) << false;
    QTest::newRow("Ctrl+F10") << static_cast<int>(Qt::ControlModifier) << false;
  }
  void shiftF10OpensTheContextMenuAtTheCurrentRow() {
    QFETCH(int, modifiers);
    QFETCH(bool, opens);
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    Select(1);
    QSignalSpy asked(View()->Entries(), &EntryList::contextMenuRequested);
    QTest::keyClick(List(), Qt::Key_F10, static_cast<Qt::KeyboardModifiers>(modifiers));
    QCOMPARE(asked.count(), opens ? 1 : 0);
    QWidget* menu = QApplication::activePopupWidget();
    QCOMPARE(menu != nullptr, opens);
    if (opens) {
      QCOMPARE(asked.first().first().toPoint(), List()->viewport()->mapToGlobal(RowCentre(1)));
      menu->close();
    }
  }

 private:
  QString DirectoryShown() const {
    return qobject_cast<QLineEdit*>(View()->Control(CDriftharbourView::kDirectoryField))->text();
  }
  bool CutAtSilenceShown() const {
    return qobject_cast<QCheckBox*>(View()->Control(CDriftharbourView::kCutAtSilence))->isChecked();
  }
};

QTEST_MAIN(EntryListTest)
#include "EntryListTest.moc"

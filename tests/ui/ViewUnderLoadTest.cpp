// The main window while its entries work hard, on the offscreen platform:
// fifty entries recording at loopback speed leave the event loop turning,
// and a disk that hangs in the middle of a write freezes neither the window
// nor the other entries. Servers are the loopback ICY server or 127.0.0.1
// ports nobody listens on.

#include <unistd.h>

#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <string>

#include "HungDisk.h"
#include "ViewFixture.h"
#include "app/ServerRowPresenter.h"
#include "base/Mutex.h"
#include "recording/RecordingOptions.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "support/IcyTestServer.h"
#include "ui/QtListControl.h"

class ViewUnderLoadTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

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
    QTRY_VERIFY_WITH_TIMEOUT(Cell(kEntries - 1, ServerRowPresenter::kReceivedCompleteColumn) == "2,000 MBytes",
                             60000);
    for (int i = 0; i < kEntries; ++i) {
      View()->Store().ToggleRow(i);
    }
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
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

    // Each must be answered while the write still hangs: a window that
    // waited for the hung worker would only go on once the write gave up.
    for (int round = 0; round < 2; ++round) {
      for (const int row : {1, 2}) {
        Select(row);
        QTest::keyClick(List(), Qt::Key_Space);
        QVERIFY2(!disk.GaveUp(), "starting another entry waited");
        QVERIFY(!View()->Store().StreamAt(row)->IsStopped());
        QTest::keyClick(List(), Qt::Key_Space);
        QVERIFY2(!disk.GaveUp(), "stopping another entry waited");
        QVERIFY(View()->Store().StreamAt(row)->IsStopped());
      }
      for (int row = 0; row < View()->Store().EntryCount(); ++row) {
        View()->Store().RowAt(row)->Refresh();
      }
      View()->List().ApplyPending();
      Select(0);  // the hung entry's panel
      QVERIFY2(!disk.GaveUp(), "refreshing the rows waited");
      QCOMPARE(frame->CountsLabel()->text(), QStringLiteral("Recording: 1    Retrying: 0    Stopped: 2"));
    }
    disk.Release();
    Doubleclick(0);
    QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
  }
};

QTEST_MAIN(ViewUnderLoadTest)
#include "ViewUnderLoadTest.moc"

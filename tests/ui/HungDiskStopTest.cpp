// Stopping an entry whose disk hangs, in every way the window offers: the
// window answers at once while the disk stays hung through the whole stop,
// and once the disk is released the file holds every byte the stream had
// taken in. The server is the loopback ICY server.

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "AnswerBoxes.h"
#include "HungDisk.h"
#include "ViewFixture.h"
#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "recording/RecordingOptions.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "support/IcyTestServer.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"


class HungDiskStopTest : public QObject, public ViewFixture {
  Q_OBJECT

 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

  void theWindowAnswersWhileTheStopWaitsForTheDisk_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("removes");
    QTest::newRow("double-click") << QStringLiteral("double-click") << false;
    QTest::newRow("space") << QStringLiteral("space") << false;
    QTest::newRow("delete") << QStringLiteral("delete") << true;
    QTest::newRow("stop all, as on quitting") << QStringLiteral("stop all") << false;
  }
  void theWindowAnswersWhileTheStopWaitsForTheDisk() {
    QFETCH(QString, how);
    QFETCH(bool, removes);
    // Four intervals and half of a fifth, all in one send, then silence:
    // the last 500 bytes reach the file only through the stop.
    const std::string audio = TestBytes(4500, 3);
    IcyTestServer server;
    server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Song"}}),
                 IcyResponse::kEverything, true});
    const std::string recordings = directory.filePath(QStringLiteral("hung")).toStdString();
    SettingsStore& store = View()->Store();
    QVERIFY(store.AddServer(server.Url("/hung"), recordings, true, false, RecordingOptions{}));
    RefusingPort refusing;
    QVERIFY(store.AddServer(refusing.Url("/other"), "", true, true));
    QCoreApplication::processEvents();
    // Shared with the writer, which may outlive this function on the
    // store's reaper.
    auto disk = std::make_shared<HungDisk>();
    store.RowAt(0)->Writer()->SetWriteFunction(
        [disk](int fd, const void* data, size_t size) { return disk->Write(fd, data, size); });

    Doubleclick(0);
    QTRY_VERIFY(disk->StillHung());
    const std::string file = store.RowAt(0)->Writer()->CurrentPath();
    QVERIFY(!file.empty());

    QStringList seen;
    if (how == QLatin1String("double-click")) {
      Doubleclick(0);
    } else if (how == QLatin1String("space")) {
      Select(0);
      QTest::keyClick(List(), Qt::Key_Space);
    } else if (how == QLatin1String("delete")) {
      AnswerBoxes({QMessageBox::Yes}, &seen);
      Select(0);
      QTest::keyClick(List(), Qt::Key_Delete);
    } else {
      store.StopAll();
    }

    // The stop is through, the disk is still hung, and the window goes on:
    // a queued call runs, another entry starts and stops.
    QVERIFY(disk->StillHung());
    if (removes) {
      QTRY_COMPARE(List()->topLevelItemCount(), 1);
      QCOMPARE(Cell(0, ServerRowPresenter::kUrlColumn), QString::fromStdString(refusing.Url("/other")));
    } else {
      QVERIFY(store.StreamAt(0)->IsStopped());
      QVERIFY(!store.StreamAt(0)->IsIdle());
      if (how != QLatin1String("stop all")) {
        QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
      }
    }
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    QTRY_VERIFY(ran);
    const int other = removes ? 0 : 1;
    Doubleclick(other);
    QVERIFY(!store.StreamAt(other)->IsStopped());
    Doubleclick(other);
    QVERIFY(store.StreamAt(other)->IsStopped());
    QVERIFY(disk->StillHung());

    disk->Release();
    QTRY_VERIFY(ReadFile(file).size() == audio.size());
    QVERIFY(ReadFile(file) == audio);
    if (!removes) {
      QTRY_VERIFY(store.StreamAt(0)->IsIdle());
      QTRY_COMPARE(Cell(0, ServerRowPresenter::kStateColumn), QStringLiteral("Disconnected"));
    }
  }
};

QTEST_MAIN(HungDiskStopTest)
#include "HungDiskStopTest.moc"

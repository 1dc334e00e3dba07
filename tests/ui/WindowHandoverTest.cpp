// One window per user and settings file: the socket's name follows the
// file, what a later start hands over arrives byte for byte, and a socket
// left behind by a window that died does not keep the next one from
// listening.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <string>
#include <vector>

#include "ui/WindowHandover.h"

using Urls = std::vector<std::string>;
Q_DECLARE_METATYPE(Urls)

class WindowHandoverTest : public QObject {
  Q_OBJECT

 private slots:
  void theNameFollowsTheSettingsFile() {
    QVERIFY(directory.isValid());
    const std::string file = directory.filePath(QStringLiteral("Driftharbour.ini")).toStdString();
    const std::string other = directory.filePath(QStringLiteral("Other.ini")).toStdString();
    const std::string roundabout =
        directory.filePath(QStringLiteral("sub/../Driftharbour.ini")).toStdString();
    QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("sub")));
    QCOMPARE(WindowHandover::ServerName(file), WindowHandover::ServerName(roundabout));
    QVERIFY(WindowHandover::ServerName(file) != WindowHandover::ServerName(other));
    // Another user on the same file gets another socket.
    QVERIFY(WindowHandover::ServerName(file).contains(QStringLiteral("-%1-").arg(getuid())));
  }

  void whatALaterStartHandsOverArrivesAsItWasSent_data() {
    QTest::addColumn<Urls>("urls");
    QTest::newRow("nothing") << Urls{};
    QTest::newRow("one URL") << Urls{"http://127.0.0.1:1/a"};
    QTest::newRow("several, bytes kept") << Urls{"http://127.0.0.1:1/a", "http://127.0.0.1:1/\xe4\xf6", "https://x/y"};
  }
  void whatALaterStartHandsOverArrivesAsItWasSent() {
    QFETCH(Urls, urls);
    const QString name = WindowHandover::ServerName(directory.filePath(QStringLiteral("a.ini")).toStdString());
    WindowHandover window;
    QVERIFY(window.Listen(name));
    Urls received;
    bool announced = false;
    connect(&window, &WindowHandover::urlsReceived, this, [&](const Urls& handed) {
      received = handed;
      announced = true;
    });
    // The later start blocks on its socket, as it does in its own process.
    std::future<bool> handed = std::async(std::launch::async, [&] { return WindowHandover::HandOver(name, urls); });
    QTRY_VERIFY(announced);
    QVERIFY(handed.get());
    QCOMPARE(received, urls);
    // A second window on the same file does not listen.
    WindowHandover second;
    QVERIFY(!second.Listen(name));
  }

  void aSocketLeftByADeadWindowIsTakenOver() {
    const QString name = WindowHandover::ServerName(directory.filePath(QStringLiteral("c.ini")).toStdString());
    QFile stale(QDir(QDir::tempPath()).filePath(name));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    WindowHandover window;
    QVERIFY(window.Listen(name));
    std::future<bool> handed = std::async(std::launch::async, [&] { return WindowHandover::HandOver(name, {}); });
    QTRY_VERIFY(handed.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QVERIFY(handed.get());
  }

 private:
  QTemporaryDir directory;
};

QTEST_GUILESS_MAIN(WindowHandoverTest)
#include "WindowHandoverTest.moc"

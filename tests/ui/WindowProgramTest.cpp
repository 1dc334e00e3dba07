// The window program as a user starts it: a display that does not answer
// and an unknown option each end it with one line of reason instead of a
// window or Qt's abort, and a second start on the same settings file hands
// its URLs (a local playlist file standing for its streams) to the window
// that is open and ends with 0. The real program runs on the offscreen
// platform, a copy of it in a directory of its own so that its settings
// file lives there.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <string>

#include "ProgramRun.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"
#include "ui/WindowHandover.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;


class WindowProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void aStartThatCannotOpenAWindowSaysWhyInOneLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<int>("lines");
    // Nothing listens at display 99 here (checked below).
    QTest::newRow("unreachable display") << QStringList{QStringLiteral("http://127.0.0.1:1/")} << ":99" << 1
                                         << "driftharbour: cannot open the display :99" << 1;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus")} << ":99" << 2
                                    << "driftharbour: unknown option --bogus" << -1;
  }
  void aStartThatCannotOpenAWindowSaysWhyInOneLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, status);
    QFETCH(QString, firstLine);
    QFETCH(int, lines);
    if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X99"))) {
      QSKIP("an X server listens at :99 on this machine");
    }
    const ProgramOutcome outcome =
        RunProgram(QStringLiteral(DRIFTHARBOUR_WINDOW_PATH), arguments, EnvironmentWithDisplay(display));
    QCOMPARE(outcome.status, status);
    QVERIFY(outcome.out.isEmpty());
    QVERIFY2(outcome.err.startsWith(firstLine), qPrintable(outcome.err));
    if (lines > 0) {
      QCOMPARE(outcome.err.count(QLatin1Char('\n')), lines);
    } else {
      QVERIFY2(outcome.err.contains(QStringLiteral("usage: driftharbour")), qPrintable(outcome.err));
    }
  }

  void aSecondStartHandsItsUrlsToTheOpenWindow() {
#if defined(__SANITIZE_THREAD__)
    // The starts below fork while the loopback server's threads run, which
    // ThreadSanitizer's runtime refuses in the child. The handover is
    // socket code on the window's one thread; the other builds run this.
    QSKIP("forks beside running threads, which ThreadSanitizer does not allow");
#endif
    IcyTestServer server;
    for (int i = 0; i < 2; ++i) {
      server.Push({"ICY 200 OK\r\n\r\n", std::string(1000, 'a'), IcyResponse::kEverything, true});
    }
    TempDir dir;
    const fs::path program = dir.Path() / "driftharbour";
    fs::copy_file(DRIFTHARBOUR_WINDOW_PATH, program);
    const QString programPath = QString::fromStdString(program.string());
    const QString name = WindowHandover::ServerName((dir.Path() / "Driftharbour.ini").string());

    QProcess first;
    first.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    first.setProcessEnvironment(EnvironmentWithDisplay({}, QStringLiteral("offscreen")));
    first.start(programPath, {});
    QVERIFY(first.waitForStarted());
    // Listening once it takes an empty handover.
    QTRY_VERIFY_WITH_TIMEOUT(WindowHandover::HandOver(name, {}, 1000), 30000);

    // A URL, then a playlist file named relative to the second start's own
    // working directory.
    const fs::path elsewhere = dir.Path() / "elsewhere";
    fs::create_directories(elsewhere);
    WriteFileBytes(elsewhere / "list.pls", "[playlist]\nNumberOfEntries=1\nFile1=" + server.Url("/b") + "\n");
    const QStringList handed[] = {{QString::fromStdString(server.Url("/a"))}, {QStringLiteral("list.pls")}};
    int requests = 0;
    for (const QStringList& arguments : handed) {
      const ProgramOutcome outcome =
          RunProgram(programPath, arguments, EnvironmentWithDisplay({}, QStringLiteral("offscreen")),
                     QString::fromStdString(elsewhere.string()));
      QVERIFY2(outcome.status == 0, qPrintable(outcome.err));
      // The open window records what was handed to it.
      QVERIFY(server.WaitForRequests(static_cast<size_t>(++requests), 30s));
    }
    QVERIFY(server.RequestCount("/a") >= 1);
    QVERIFY(server.RequestCount("/b") >= 1);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitCode(), 0);
  }
};

QTEST_APPLESS_MAIN(WindowProgramTest)
#include "WindowProgramTest.moc"

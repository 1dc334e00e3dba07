// The window ends on the signals a desktop session or a service manager
// sends as Exit would end it: status 0, and every audio byte the server sent
// before the signal on disk. The real program runs, started with a stream URL
// to record, on the offscreen platform.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Waits for the child, at most bound; its exit status, or -1.
int Reap(pid_t pid, std::chrono::seconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(20ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kills and reaps the child if a failed check leaves it running.
struct ChildGuard {
  pid_t pid = -1;
  ~ChildGuard() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

}  // namespace

class QuitOnSignalTest : public QObject {
  Q_OBJECT

 private slots:
  void signalsStopEveryRecordingWithAllItsAudioAndExitZero_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }

  void signalsStopEveryRecordingWithAllItsAudioAndExitZero() {
    QFETCH(int, signalNumber);
    // 12 whole intervals and 345 bytes of one more: those are handed on only
    // when the recording stops.
    const std::string audio = TestBytes(12345, 8);
    IcyTestServer server;
    server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Song"}}),
                 IcyResponse::kEverything, true});

    // A copy of the program in a directory of its own: its settings file
    // would live beside it, and its recordings go to the working directory.
    TempDir dir;
    const fs::path program = dir.Path() / "driftharbour";
    fs::copy_file(DRIFTHARBOUR_WINDOW_PATH, program);
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    const pid_t pid = SpawnChild({program.string(), server.Url("/stream")});
    fs::current_path(before);
    QVERIFY(pid > 0);
    ChildGuard guard{pid};

    // The whole stream is sent at once; new entries cut at silence, which
    // holds the newest seconds back until the stop, so the file may still
    // be short here: all of it must be there after the signal. A song cut
    // off by a stop is filed under incomplete/, as new entries do.
    QVERIFY(server.WaitForRequests(1, 30s));
    std::this_thread::sleep_for(1s);
    const fs::path file = dir.Path() / "incomplete" / "Song.mp3";
    kill(pid, signalNumber);
    const int status = Reap(pid, 30s);
    guard.pid = -1;  // reaped
    QCOMPARE(status, 0);
    QVERIFY(ReadFileBytes(file) == audio);
    QVERIFY(!fs::exists(dir.Path() / "Driftharbour.ini"));
  }
};

QTEST_APPLESS_MAIN(QuitOnSignalTest)
#include "QuitOnSignalTest.moc"

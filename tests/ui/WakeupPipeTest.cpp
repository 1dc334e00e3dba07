// The list's wake-up: wakes from other threads reach the owner's thread as
// one signal, and the owner is still woken when no pipe can be had.

#include <sys/resource.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <array>
#include <memory>
#include <thread>
#include <vector>

#include "ui/WakeupPipe.h"

class WakeupPipeTest : public QObject {
  Q_OBJECT

 private slots:
  void wakesFromManyThreadsArriveOnceOnTheOwnersThread() {
    WakeupPipe wakeup;
    QThread* wokenOn = nullptr;
    int woken = 0;
    connect(&wakeup, &WakeupPipe::woken, this, [&] {
      wokenOn = QThread::currentThread();
      ++woken;
    });

    constexpr int kWakers = 8;
    std::vector<std::thread> wakers;
    wakers.reserve(kWakers);
    for (int thread = 0; thread < kWakers; ++thread) {
      wakers.emplace_back([&wakeup] {
        for (int wake = 0; wake < 1000; ++wake) {
          wakeup.Wake();
        }
      });
    }
    for (auto& waker : wakers) {
      waker.join();
    }
    QCOMPARE(woken, 0);

    QCoreApplication::processEvents();
    QCOMPARE(woken, 1);
    QCOMPARE(wokenOn, QThread::currentThread());
    QCoreApplication::processEvents();
    QCOMPARE(woken, 1);

    wakeup.Wake();
    QTRY_COMPARE(woken, 2);
  }

  void withoutDescriptorsTheOwnerIsStillWoken() {
    // The lowest free descriptor: every one below it is taken, so with the
    // limit set to it no pipe can be opened.
    const int lowestFree = ::dup(0);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::array<int, 2> probe{};
    const bool pipeRefused = ::pipe(probe.data()) != 0;
    auto wakeup = std::make_unique<WakeupPipe>();
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    QVERIFY(pipeRefused);

    QSignalSpy woken(wakeup.get(), &WakeupPipe::woken);
    wakeup->Wake();
    QTRY_VERIFY(woken.count() >= 1);
  }
};

QTEST_MAIN(WakeupPipeTest)
#include "WakeupPipeTest.moc"

#include "ui/QuitSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>

namespace {

constexpr std::array<int, 3> kQuitSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the handler; -1 while no object is there.
std::atomic<int> signalPipe{-1};
std::array<struct sigaction, kQuitSignals.size()> previousActions{};

void OnQuitSignal(int) {
  const int savedErrno = errno;
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe means a wake-up is pending anyway.
    (void)!::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
  std::array<int, 2> ends{-1, -1};
  if (::pipe2(ends.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
    return;
  }
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  signalPipe.store(writeEnd.Get());
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kQuitSignals.size(); ++i) {
    if (::sigaction(kQuitSignals[i], &action, &previousActions[i]) != 0) {
      previousActions[i].sa_handler = SIG_DFL;
    }
  }
  notifier = std::make_unique<QSocketNotifier>(readEnd.Get(), QSocketNotifier::Read);
  connect(notifier.get(), &QSocketNotifier::activated, this, &QuitSignals::Drain);
}

QuitSignals::~QuitSignals() {
  if (!notifier) {
    return;
  }
  for (size_t i = 0; i < kQuitSignals.size(); ++i) {
    ::sigaction(kQuitSignals[i], &previousActions[i], nullptr);
  }
  signalPipe.store(-1);
}

void QuitSignals::Drain() {
  std::array<char, 64> bytes{};
  ssize_t got = 0;
  do {
    got = ::read(readEnd.Get(), bytes.data(), bytes.size());
  } while (got > 0 || (got < 0 && errno == EINTR));
  emit quitRequested();
}

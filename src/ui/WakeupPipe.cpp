#include "ui/WakeupPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <array>
#include <cerrno>

namespace {

constexpr int kFallbackIntervalMs = 100;

}  // namespace

WakeupPipe::WakeupPipe(QObject* parent) : QObject(parent) {
  std::array<int, 2> ends{-1, -1};
  if (::pipe2(ends.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
    connect(&fallback, &QTimer::timeout, this, &WakeupPipe::woken);
    fallback.start(kFallbackIntervalMs);
    return;
  }
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  notifier = std::make_unique<QSocketNotifier>(readEnd.Get(), QSocketNotifier::Read);
  connect(notifier.get(), &QSocketNotifier::activated, this, &WakeupPipe::Drain);
}

WakeupPipe::~WakeupPipe() = default;

void WakeupPipe::Wake() {
  if (!writeEnd.Valid()) {
    return;  // the fallback timer wakes the owner
  }
  const char byte = 1;
  ssize_t written = 0;
  do {
    written = ::write(writeEnd.Get(), &byte, 1);
  } while (written < 0 && errno == EINTR);
  // EAGAIN: the pipe is full of earlier wakes, so the owner wakes anyway.
}

void WakeupPipe::Drain() {
  std::array<char, 256> bytes{};
  ssize_t got = 0;
  do {
    got = ::read(readEnd.Get(), bytes.data(), bytes.size());
  } while (got > 0 || (got < 0 && errno == EINTR));
  emit woken();
}

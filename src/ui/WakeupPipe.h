#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "base/UniqueFd.h"

class QSocketNotifier;

// Wakes the thread that owns this object from any other thread, without
// waiting for it and without handing it any object: Wake writes one byte into
// a non-blocking pipe whose read end a QSocketNotifier watches on the owner's
// event loop. The owner drains the pipe and emits `woken`; wakes that come
// before it drains become one signal. Whatever the woken code reads must be
// guarded by the caller's own lock, which Wake does not replace.
//
// Should the pipe be unavailable (no descriptors left), a timer on the
// owner's thread emits `woken` ten times a second instead and Wake does
// nothing.
//
// Threads: construction, destruction and `woken` on the owner's thread; Wake
// on any thread, never after the destructor has begun.
class WakeupPipe : public QObject {
  Q_OBJECT

 public:
  explicit WakeupPipe(QObject* parent = nullptr);
  ~WakeupPipe() override;

  WakeupPipe(const WakeupPipe&) = delete;
  WakeupPipe& operator=(const WakeupPipe&) = delete;

  // Any thread. Never blocks.
  void Wake();

 signals:
  void woken();

 private:
  void Drain();

  UniqueFd readEnd;
  UniqueFd writeEnd;
  std::unique_ptr<QSocketNotifier> notifier;  // null without a pipe
  QTimer fallback;                            // runs only without a pipe
};

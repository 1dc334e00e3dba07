#pragma once

#include <QObject>

#include <memory>

#include "base/UniqueFd.h"

class QSocketNotifier;

// Turns the signals that end a desktop session or a service — SIGTERM (a
// logout, `timeout`, a service manager), SIGINT (Ctrl+C in the terminal that
// started the window) and SIGHUP (the terminal went away) — into a quit
// request on the user-interface thread, so that the window can end the way
// Exit does instead of by the signal's default action, which would lose what
// the recordings still hold.
//
// The handler only writes one byte into a pipe, the one thing a signal
// handler may safely do here; a QSocketNotifier on the pipe's read end emits
// quitRequested from the event loop. At most one object exists at a time; it
// installs the handlers when constructed and restores the earlier ones when
// destroyed.
//
// Threads: construction, destruction and the signal on the user-interface
// thread; the handler runs on whichever thread the kernel picks.
class QuitSignals : public QObject {
  Q_OBJECT

 public:
  explicit QuitSignals(QObject* parent = nullptr);
  ~QuitSignals() override;

  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  // False when the pipe or a handler could not be set up; the signals then
  // keep their default action.
  bool Active() const { return notifier != nullptr; }

 signals:
  void quitRequested();

 private:
  void Drain();

  UniqueFd readEnd;
  UniqueFd writeEnd;
  std::unique_ptr<QSocketNotifier> notifier;
};

#pragma once

#include <QObject>
#include <QLockFile>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

// One window per user and settings file. The first window listens on a
// local socket whose name comes from the user and the settings file's path
// (ServerName); a window program started after it finds the socket, hands
// over the URLs of its command line and ends, and the first window adds
// them as it adds its own (urlsReceived).
//
// The window that listens holds a lock file beside the socket for as long
// as it lives; a later start that cannot take the lock knows a window is
// there (or about to listen) even when its socket is not yet ready.
//
// What goes over the socket: each URL as bytes and a line feed, then an
// empty line; the listening side answers "ok\n" once it has them. Only the
// user's own processes can connect (the socket is the user's alone).
//
// Ownership: owns the server and the connections it accepted (Qt
// children). HandOver is static and blocks for at most its timeout; it
// needs no event loop. Listen and everything after it: user-interface
// thread only.
class WindowHandover : public QObject {
  Q_OBJECT

 public:
  // More than a command line ever carries; a connection that sends more is
  // dropped.
  static constexpr qsizetype kMaxBytes = 1 << 20;

  explicit WindowHandover(QObject* parent = nullptr);
  ~WindowHandover() override;

  // The socket's name for settingsPath (as the window opens it) and this
  // user: the same for every start on the same file, another for another
  // file or user.
  static QString ServerName(const std::string& settingsPath);

  // Hands urls (perhaps none) to the window listening on name. True when a
  // window took them; false when none listens there, or it did not answer
  // within timeoutMs.
  static bool HandOver(const QString& name, const std::vector<std::string>& urls, int timeoutMs = 5000);

  // Takes the lock for name and listens there. A socket and lock left
  // behind by a window that has gone are taken over; false when another
  // window holds the lock (or the socket cannot be made).
  bool Listen(const QString& name);

 signals:
  // A later start handed these over; user-interface thread.
  void urlsReceived(const std::vector<std::string>& urls);

 private:
  void OnNewConnection();
  // Reads what socket has sent; once the empty line came, answers and
  // announces the URLs.
  void OnReadyRead(QLocalSocket* socket);

  QLocalServer* const server;  // owned through Qt
  std::unique_ptr<QLockFile> lock;  // held while listening; null before
};

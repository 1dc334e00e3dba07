#include "ui/WindowHandover.h"

#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <memory>
#include <utility>

namespace {

constexpr char kEnd[] = "\n\n";
constexpr char kAnswer[] = "ok\n";

}  // namespace

WindowHandover::WindowHandover(QObject* parent) : QObject(parent), server(new QLocalServer(this)) {
  server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server, &QLocalServer::newConnection, this, &WindowHandover::OnNewConnection);
}

WindowHandover::~WindowHandover() = default;

QString WindowHandover::ServerName(const std::string& settingsPath) {
  // The directory's canonical path (it exists once the window has made it;
  // the file may not yet), so that a link or "./" does not make a second
  // window; a hash keeps the name short and free of slashes.
  const QFileInfo file(QString::fromUtf8(settingsPath.data(), static_cast<qsizetype>(settingsPath.size())));
  const QString directory = QFileInfo(file.absolutePath()).canonicalFilePath();
  const QString key = (directory.isEmpty() ? file.absolutePath() : directory) + QLatin1Char('/') + file.fileName();
  const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  return QStringLiteral("driftharbour-%1-%2").arg(getuid()).arg(QString::fromLatin1(digest));
}

bool WindowHandover::HandOver(const QString& name, const std::vector<std::string>& urls, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) {
    return false;
  }
  QByteArray message;
  for (const std::string& url : urls) {
    // A line feed inside a URL would end it early; none is valid there.
    if (!url.empty() && url.find('\n') == std::string::npos) {
      message.append(url.data(), static_cast<qsizetype>(url.size())).append('\n');
    }
  }
  message.append('\n');
  socket.write(message);
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (!socket.waitForReadyRead(timeoutMs)) {
      return false;
    }
    answer += socket.readAll();
  }
  return answer.startsWith(kAnswer);
}

bool WindowHandover::Listen(const QString& name) {
  // The lock says which window is the one: a socket alone cannot, since
  // listening replaces a socket file of the same name. A lock whose process
  // has died is stale and taken over.
  auto claim = std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")));
  claim->setStaleLockTime(0);
  if (!claim->tryLock(0)) {
    return false;
  }
  // Whatever socket is there was left by a window that has gone.
  QLocalServer::removeServer(name);
  if (!server->listen(name)) {
    return false;
  }
  lock = std::move(claim);
  return true;
}

void WindowHandover::OnNewConnection() {
  while (QLocalSocket* socket = server->nextPendingConnection()) {
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    // Bytes that came with the connection itself.
    if (socket->bytesAvailable() > 0) {
      OnReadyRead(socket);
    }
  }
}

void WindowHandover::OnReadyRead(QLocalSocket* socket) {
  QByteArray buffer = socket->property("received").toByteArray() + socket->readAll();
  if (buffer.size() > kMaxBytes) {
    socket->abort();
    return;
  }
  const qsizetype end = buffer.startsWith('\n') ? 0 : buffer.indexOf(kEnd);
  if (end < 0) {
    socket->setProperty("received", buffer);
    return;
  }
  socket->setProperty("received", QByteArray());
  std::vector<std::string> urls;
  for (const QByteArray& line : buffer.left(end).split('\n')) {
    if (!line.isEmpty()) {
      urls.emplace_back(line.constData(), static_cast<size_t>(line.size()));
    }
  }
  socket->write(kAnswer);
  socket->flush();
  socket->disconnectFromServer();
  emit urlsReceived(urls);
}

#include "ui/ServerUrl.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <string>

#include "stream/PlaylistParser.h"

QString ServerUrl::Normalize(const QString& text, QString* problem) {
  const auto refuse = [problem](const QString& why) {
    if (problem != nullptr) {
      *problem = why;
    }
    return QString();
  };
  QString url = text.trimmed();
  if (url.isEmpty()) {
    return refuse(QStringLiteral("Please enter the server's URL, like http://127.0.0.1:80/stream/1003."));
  }
  // "radio.example:8000/live" has no scheme; "host:8000" must not read as
  // the scheme "host", while "file:/music" names another scheme.
  if (!url.contains(QStringLiteral("://"))) {
    static const QRegularExpression otherScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9])"));
    if (!otherScheme.match(url).hasMatch()) {
      url.prepend(QStringLiteral("http://"));
    }
  }
  const QUrl parsed(url, QUrl::StrictMode);
  const QString lowerScheme = parsed.scheme().toLower();
  if (!parsed.isValid() || (lowerScheme != QStringLiteral("http") && lowerScheme != QStringLiteral("https"))) {
    return refuse(QStringLiteral("\"%1\" is not an http or https URL. Driftharbour records streams from "
                                 "URLs like http://127.0.0.1:80/stream/1003.")
                      .arg(text.trimmed()));
  }
  if (parsed.host().isEmpty()) {
    return refuse(QStringLiteral("\"%1\" names no server. Driftharbour records streams from URLs like "
                                 "http://127.0.0.1:80/stream/1003.")
                      .arg(text.trimmed()));
  }
  return url;
}

QStringList ServerUrl::FromLocalPlaylist(const QString& text, bool& found, QString* problem) {
  found = false;
  QString path = text.trimmed();
  if (path.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
    path = QUrl(path).toLocalFile();
  }
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isAbsolute() || !info.isFile()) {
    return {};
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray bytes = file.read(static_cast<qint64>(PlaylistParser::kMaxBytes) + 1);
  const std::string body(bytes.constData(), static_cast<size_t>(bytes.size()));
  // The file's own URL as the base: relative entries stay local and are
  // left out, absolute ones are what a station's playlist holds.
  const std::string base = QUrl::fromLocalFile(info.absoluteFilePath()).toString().toStdString();
  const PlaylistKind kind = PlaylistParser::Recognise("", base, body);
  if (kind == PlaylistKind::None) {
    return {};
  }
  found = true;
  const Playlist playlist = PlaylistParser::Parse(kind, base, body);
  QStringList urls;
  if (playlist.IsHls()) {
    if (problem != nullptr) {
      *problem = QStringLiteral("%1 is an HLS playlist on this computer; add the station's own .m3u8 link instead.")
                     .arg(info.fileName());
    }
    return urls;
  }
  for (const PlaylistEntry& entry : playlist.entries) {
    urls.append(QString::fromStdString(entry.url));
  }
  if (urls.isEmpty() && problem != nullptr) {
    *problem = QStringLiteral("%1 names no http or https stream.").arg(info.fileName());
  }
  return urls;
}

#include "ui/ServerUrl.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <string>

#include "net/StreamUrl.h"
#include "playlist/PlaylistParser.h"

QString ServerUrl::Normalize(const QString& text, QString* problem) {
  std::string url;
  const StreamUrl::Problem refused = StreamUrl::Normalize(text.toStdString(), url);
  if (refused == StreamUrl::Problem::None) {
    return QString::fromStdString(url);
  }
  if (problem != nullptr) {
    switch (refused) {
      case StreamUrl::Problem::Empty:
        *problem = QStringLiteral("Please enter the server's URL, like http://127.0.0.1:80/stream/1003.");
        break;
      case StreamUrl::Problem::NoHost:
        *problem = QStringLiteral("\"%1\" names no server. Driftharbour records streams from URLs like "
                                  "http://127.0.0.1:80/stream/1003.")
                       .arg(text.trimmed());
        break;
      default:
        *problem = QStringLiteral("\"%1\" is not an http or https URL. Driftharbour records streams from "
                                  "URLs like http://127.0.0.1:80/stream/1003.")
                       .arg(text.trimmed());
        break;
    }
  }
  return {};
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

ServerUrl::Sifted ServerUrl::Sift(const QStringList& texts) {
  Sifted sifted;
  QStringList expanded;
  for (const QString& text : texts) {
    bool local = false;
    const QStringList fromFile = FromLocalPlaylist(text, local);
    if (!local) {
      expanded.append(text);
    } else if (fromFile.isEmpty()) {
      sifted.refused.append(text.trimmed());
    } else {
      expanded.append(fromFile);
    }
  }
  for (const QString& text : expanded) {
    if (text.trimmed().isEmpty()) {
      continue;
    }
    const QString url = Normalize(text);
    if (url.isNull()) {
      sifted.refused.append(text.trimmed());
    } else {
      sifted.urls.append(url);
    }
  }
  return sifted;
}

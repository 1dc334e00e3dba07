#include "ui/ServerUrl.h"

#include <QRegularExpression>
#include <QUrl>

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

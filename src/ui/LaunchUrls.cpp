#include "ui/LaunchUrls.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include "ui/DisplayText.h"
#include "ui/ServerUrl.h"

std::vector<std::string> LaunchUrls::Expand(const std::vector<std::string>& words) {
  std::vector<std::string> urls;
  for (const std::string& word : words) {
    QString text = DisplayText::FromBytes(word).trimmed();
    if (text.isEmpty()) {
      continue;
    }
    // A relative path names a file of the working directory; a URL never
    // stands for a local file here, except file:// ones.
    if (!text.contains(QStringLiteral("://")) && QFileInfo(text).isRelative() && QFileInfo::exists(text)) {
      text = QFileInfo(text).absoluteFilePath();
    }
    bool playlist = false;
    const QStringList streams = ServerUrl::FromLocalPlaylist(text, playlist);
    if (!playlist) {
      urls.push_back(DisplayText::ToBytes(text));
      continue;
    }
    for (const QString& stream : streams) {
      urls.push_back(DisplayText::ToBytes(stream));
    }
  }
  return urls;
}

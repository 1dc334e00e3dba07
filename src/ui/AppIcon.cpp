#include "ui/AppIcon.h"

#include <QImageReader>

QIcon AppIcon::Load() {
  QIcon icon;
  // Without the plugin, QIcon would take the SVG and draw nothing.
  if (QImageReader::supportedImageFormats().contains("svg")) {
    icon.addFile(QStringLiteral(":/driftharbour.svg"));
  }
  for (const int size : {16, 32, 64}) {
    icon.addFile(QStringLiteral(":/icons/%1x%1/driftharbour.png").arg(size), QSize(size, size));
  }
  return icon;
}

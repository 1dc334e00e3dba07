#include "ui/AppIcon.h"

#include <QImageReader>

QIcon AppIcon::Load() {
  QIcon icon;
  // Without the plugin, QIcon would take the SVG and draw nothing.
  if (QImageReader::supportedImageFormats().contains("svg")) {
    icon.addFile(QStringLiteral(":/icons/driftharbour.svg"));
  }
  icon.addFile(QStringLiteral(":/icons/driftharbour-64.png"), QSize(64, 64));
  return icon;
}

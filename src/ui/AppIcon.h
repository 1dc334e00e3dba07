#pragma once

#include <QIcon>

// The program's icon (data/driftharbour.svg, the one installed for the
// desktop), for the window and the tray, from the program's resources: the
// SVG where Qt has its SVG image plugin, the same drawing as 16, 32 and
// 64-pixel PNGs everywhere.
//
// Stateless; user-interface thread (icons need the application object).
class AppIcon {
 public:
  static QIcon Load();
};

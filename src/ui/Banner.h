#pragma once

#include <QPixmap>

// The program's banner, shown by the splash window and the About box: a
// night harbour with a radio mast and the program's name, drawn in code so
// that it scales with the window and needs no image file.
//
// Stateless; user-interface thread (it paints pixmaps).
class Banner {
 public:
  // Natural size of the banner in pixels.
  static constexpr int kWidth = 400;
  static constexpr int kHeight = 132;

  // The banner drawn at width x height pixels.
  static QPixmap Draw(int width = kWidth, int height = kHeight);
};

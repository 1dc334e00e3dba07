#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts the dialog units our forms are laid out in to pixels of a given
// font: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its height, so a form keeps its
// proportions whatever font the system substitutes.
//
// Immutable after construction; user-interface thread (fonts need the
// application object).
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  // Pixels per four horizontal and per eight vertical units.
  double charWidth = 1.0;
  double charHeight = 1.0;
};

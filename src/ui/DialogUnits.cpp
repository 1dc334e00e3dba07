#include "ui/DialogUnits.h"

#include <QFontMetricsF>

#include <cmath>

namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int Scale(int units, double perUnits, int divisor) {
  return static_cast<int>(std::lround(units * perUnits / divisor));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  charWidth = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / 52.0;
  charHeight = metrics.height();
  if (charWidth <= 0.0) {
    charWidth = 1.0;
  }
  if (charHeight <= 0.0) {
    charHeight = 1.0;
  }
}

int DialogUnits::X(int units) const { return Scale(units, charWidth, 4); }

int DialogUnits::Y(int units) const { return Scale(units, charHeight, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Edges are converted, not sizes, so that neighbouring controls that touch
  // in dialog units also touch in pixels.
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

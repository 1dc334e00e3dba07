#include "ui/Banner.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap Banner::Draw(int width, int height) {
  QPixmap pixmap(width < 1 ? 1 : width, height < 1 ? 1 : height);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // Everything is drawn on the banner's natural grid and scaled.
  painter.scale(pixmap.width() / double(kWidth), pixmap.height() / double(kHeight));

  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0.0, QColor(12, 22, 54));
  sky.setColorAt(0.65, QColor(36, 70, 120));
  sky.setColorAt(1.0, QColor(18, 40, 72));
  painter.fillRect(QRectF(0, 0, kWidth, kHeight), sky);

  // Water: three swells drifting to the right.
  for (int band = 0; band < 3; ++band) {
    QPainterPath wave;
    const double base = 96 + band * 12;
    wave.moveTo(0, base);
    for (int x = 0; x <= kWidth; x += 40) {
      wave.quadTo(x + 10, base - 6, x + 20, base);
      wave.quadTo(x + 30, base + 6, x + 40, base);
    }
    wave.lineTo(kWidth, kHeight);
    wave.lineTo(0, kHeight);
    wave.closeSubpath();
    painter.fillPath(wave, QColor(20 + band * 10, 60 + band * 18, 110 + band * 20, 200));
  }

  // Radio mast on the pier, with its signal rings.
  painter.setPen(QPen(QColor(230, 230, 240), 2));
  painter.drawLine(QPointF(330, 92), QPointF(345, 30));
  painter.drawLine(QPointF(360, 92), QPointF(345, 30));
  painter.drawLine(QPointF(336, 70), QPointF(354, 70));
  painter.drawLine(QPointF(341, 50), QPointF(349, 50));
  painter.setBrush(QColor(255, 90, 70));
  painter.drawEllipse(QPointF(345, 28), 3, 3);
  painter.setBrush(Qt::NoBrush);
  for (int ring = 1; ring <= 3; ++ring) {
    const double radius = 8.0 * ring;
    painter.setPen(QPen(QColor(255, 200, 90, 220 - ring * 50), 1.5));
    painter.drawArc(QRectF(345 - radius, 28 - radius, 2 * radius, 2 * radius), 30 * 16, 120 * 16);
  }

  painter.setPen(QColor(255, 236, 190));
  QFont title(QStringLiteral("Sans Serif"));
  title.setPixelSize(30);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(QRectF(18, 18, 300, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Driftharbour"));
  QFont subtitle(QStringLiteral("Sans Serif"));
  subtitle.setPixelSize(13);
  painter.setFont(subtitle);
  painter.setPen(QColor(200, 215, 240));
  painter.drawText(QRectF(20, 58, 300, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("SHOUTcast stream recorder"));
  painter.end();
  return pixmap;
}

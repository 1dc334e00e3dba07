#include "ui/TrayIcon.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent)
    : QObject(parent), plainIcon(icon), menu(std::make_unique<QMenu>()), tray(new QSystemTrayIcon(icon, this)) {
  showAction = menu->addAction(QStringLiteral("&Show"));
  menu->addSeparator();
  quitAction = menu->addAction(QStringLiteral("&Quit"));
  tray->setContextMenu(menu.get());
  tray->setToolTip(ToolTip());
  connect(showAction, &QAction::triggered, this, &TrayIcon::showRequested);
  connect(quitAction, &QAction::triggered, this, &TrayIcon::quitRequested);
  connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
      emit showRequested();
    }
  });
}

TrayIcon::~TrayIcon() {
  // The tray lets go of its menu before the menu goes.
  tray->setContextMenu(nullptr);
}

bool TrayIcon::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcon::Show() {
  if (Available()) {
    tray->show();
  }
}

void TrayIcon::SetRecordingCount(int count) {
  if (count == recording) {
    return;
  }
  recording = count;
  tray->setToolTip(ToolTip());
  tray->setIcon(BadgedIcon());
}

void TrayIcon::SetNextShow(const QString& text) {
  if (text == nextShow) {
    return;
  }
  nextShow = text;
  tray->setToolTip(ToolTip());
}

QString TrayIcon::ToolTip() const {
  const QString count = recording == 1 ? QStringLiteral("Driftharbour: 1 entry recording")
                                       : QStringLiteral("Driftharbour: %1 entries recording").arg(recording);
  return nextShow.isEmpty() ? count : count + QLatin1Char('\n') + nextShow;
}

QIcon TrayIcon::BadgedIcon() const {
  if (recording == 0) {
    return plainIcon;
  }
  constexpr int kSide = 64;
  QPixmap pixmap = plainIcon.pixmap(kSide, kSide);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect badge(kSide / 2, kSide / 2, kSide / 2, kSide / 2);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xc0, 0x20, 0x20));
  painter.drawEllipse(badge);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(recording > 9 ? kSide / 4 : kSide / 3);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(badge, Qt::AlignCenter, recording > 99 ? QStringLiteral("99+") : QString::number(recording));
  return QIcon(pixmap);
}

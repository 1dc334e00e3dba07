#include "ui/CSplashDlg.h"

#include <QFont>
#include <QTimer>

#include "ui/Banner.h"
#include "ui/DialogUnits.h"

CSplashDlg::CSplashDlg() {
  // Template size 267 x 75 dialog units of Arial 8 pt, filled by the banner.
  const DialogUnits units(QFont(QStringLiteral("Arial"), 8));
  const QSize size = units.Size(267, 75);
  setPixmap(Banner::Draw(size.width(), size.height()));
}

CSplashDlg::~CSplashDlg() = default;

void CSplashDlg::ShowBriefly(QWidget* owner) {
  if (owner != nullptr) {
    const QRect area = owner->frameGeometry();
    move(area.center() - rect().center());
  }
  show();
  raise();
  QTimer::singleShot(kShowMs, this, &QWidget::hide);
}

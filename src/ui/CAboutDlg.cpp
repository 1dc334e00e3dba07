#include "ui/CAboutDlg.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

#include "ui/Banner.h"
#include "ui/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("SHOUTcast Driftharbour"));
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  const DialogUnits units(font);
  setFixedSize(units.Size(267, 201));

  auto* picture = new QLabel(this);
  const QRect pictureArea = units.Rect(0, 0, 267, 81);
  picture->setGeometry(pictureArea);
  picture->setPixmap(Banner::Draw(pictureArea.width(), pictureArea.height()));

  auto* version = new QLabel(QStringLiteral("Version 1.0"), this);
  version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  version->setGeometry(units.Rect(0, 85, 265, 8));

  // The two notice buttons only show text; they run no command.
  auto* notice = new QPushButton(QStringLiteral("Driftharbour records internet radio streams into MP3 files."), this);
  notice->setGeometry(units.Rect(0, 105, 268, 25));
  notice->setAutoDefault(false);
  auto* contact = new QPushButton(
      QStringLiteral("Made by the Driftharbour developers.\nFree to use; it comes without any warranty."), this);
  contact->setGeometry(units.Rect(0, 135, 268, 25));
  contact->setAutoDefault(false);

  auto* done = new QPushButton(QStringLiteral("Done"), this);
  done->setObjectName(QStringLiteral("done"));
  done->setGeometry(units.Rect(0, 165, 268, 24));
  done->setDefault(true);
  connect(done, &QPushButton::clicked, this, &QDialog::accept);
  done->setFocus();
}

CAboutDlg::~CAboutDlg() = default;

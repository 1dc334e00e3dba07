#include "ui/CAboutDlg.h"

#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "ui/Banner.h"
#include "ui/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("SHOUTcast Driftharbour"));
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);

  picture = new QLabel(this);
  version = new QLabel(QStringLiteral("Version 1.0"), this);
  version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // The two notice buttons only show text; they run no command.
  notice = new QPushButton(QStringLiteral("Driftharbour records internet radio streams into MP3 files."), this);
  notice->setAutoDefault(false);
  contact = new QPushButton(
      QStringLiteral("Made by the Driftharbour developers.\nFree to use; it comes without any warranty."), this);
  contact->setAutoDefault(false);

  done = new QPushButton(QStringLiteral("Done"), this);
  done->setObjectName(QStringLiteral("done"));
  done->setDefault(true);
  connect(done, &QPushButton::clicked, this, &QDialog::accept);

  setFont(font);  // lays the box out (changeEvent)
  LayOut();
  done->setFocus();
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && done != nullptr) {
    LayOut();
  }
}

void CAboutDlg::LayOut() {
  const DialogUnits units(font());
  // The template's places, then as much more as the texts ask for.
  QRect noticeArea = units.Rect(0, 105, 268, 25);
  QRect contactArea = units.Rect(0, 135, 268, 25);
  QRect doneArea = units.Rect(0, 165, 268, 24);
  const int gap = units.Y(5);
  int width = std::max({units.X(267), notice->sizeHint().width(), contact->sizeHint().width(),
                        done->sizeHint().width()});
  noticeArea.setWidth(std::max(noticeArea.width(), width));
  noticeArea.setHeight(std::max(noticeArea.height(), notice->sizeHint().height()));
  contactArea.moveTop(noticeArea.bottom() + 1 + gap);
  contactArea.setWidth(noticeArea.width());
  contactArea.setHeight(std::max(contactArea.height(), contact->sizeHint().height()));
  doneArea.moveTop(contactArea.bottom() + 1 + gap);
  doneArea.setWidth(noticeArea.width());
  doneArea.setHeight(std::max(doneArea.height(), done->sizeHint().height()));
  width = noticeArea.width();

  const QRect pictureArea(0, 0, width, units.Y(81));
  picture->setGeometry(pictureArea);
  picture->setPixmap(Banner::Draw(pictureArea.width(), pictureArea.height()));
  version->setGeometry(0, units.Y(85), width - units.X(2), std::max(units.Y(8), version->sizeHint().height()));
  notice->setGeometry(noticeArea);
  contact->setGeometry(contactArea);
  done->setGeometry(doneArea);
  setFixedSize(std::max(units.X(267), width), std::max(units.Y(201), doneArea.bottom() + 1 + units.Y(12)));
}

#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Answers the next message boxes, one answer each, in order, and collects
// their texts in seen (which must outlive the answers); other modal windows
// (a dialog under a box) are left alone. Call it before the code that shows
// the boxes.
inline void AnswerBoxes(QList<QMessageBox::StandardButton> answers, QStringList* seen) {
  auto* poll = new QTimer;  // deletes itself after the last answer
  QObject::connect(poll, &QTimer::timeout, [poll, answers, seen]() mutable {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) {
      return;
    }
    box->setProperty("answered", true);
    seen->append(box->text());
    box->button(answers.takeFirst())->click();
    if (answers.isEmpty()) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(5);
}

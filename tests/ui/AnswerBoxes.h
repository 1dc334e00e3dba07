#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <utility>

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

// Runs act once the next modal window is open (polling the event loop that
// its exec() runs).
inline void WhenModalOpens(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;  // deletes itself once act ran
  QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    }
  });
  poll->start(5);
}

struct BoxSeen {
  QString title;
  QString text;
};

// Answers the next message box with button and reports what it showed in
// seen (which must outlive the answer).
inline void AnswerMessageBox(QMessageBox::StandardButton button, BoxSeen* seen) {
  WhenModalOpens([button, seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box != nullptr);
    seen->title = box->windowTitle();
    seen->text = box->text();
    box->button(button)->click();
  });
}

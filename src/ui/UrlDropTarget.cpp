#include "ui/UrlDropTarget.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <utility>

UrlDropTarget::UrlDropTarget(QWidget* watched, QObject* parent)
    : QObject(parent), target(watched), dropTimer(new QTimer(this)) {
  dropTimer->setSingleShot(true);
  dropTimer->setInterval(0);
  connect(dropTimer, &QTimer::timeout, this, [this] { emit urlsDropped(std::exchange(droppedTexts, {})); });
  target->installEventFilter(this);
}

UrlDropTarget::~UrlDropTarget() = default;

QStringList UrlDropTarget::DroppedTexts(const QMimeData& data) {
  QStringList texts;
  if (data.hasUrls()) {
    for (const QUrl& url : data.urls()) {
      texts.append(url.toString());
    }
  } else if (data.hasText()) {
    texts = data.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  return texts;
}

bool UrlDropTarget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != target) {
    return QObject::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (drag->mimeData() == nullptr || DroppedTexts(*drag->mimeData()).isEmpty()) {
        return false;
      }
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (drop->mimeData() == nullptr) {
        return false;
      }
      const QStringList texts = DroppedTexts(*drop->mimeData());
      if (texts.isEmpty()) {
        return false;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      // The source waits for the drop to end; questions come after it.
      droppedTexts.append(texts);
      dropTimer->start();
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

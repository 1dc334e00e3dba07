#pragma once

#include <QObject>
#include <QStringList>

class QMimeData;
class QTimer;
class QWidget;

// Takes drops of URLs on a widget (the server list's viewport): a drag that
// carries URLs (text/uri-list) or plain text is accepted as a copy, and the
// dropped texts (each URL, or each non-empty line of the text) are announced
// with urlsDropped once the drop has ended, since the source waits for the
// drop while any question asked about the texts would be open. Whoever
// receives them decides what to add (a local playlist file among them
// stands for the streams it names).
//
// Ownership: target is watched, not owned, and must outlive this object
// (give it, or one of its parents, as parent). User-interface thread only.
class UrlDropTarget : public QObject {
  Q_OBJECT

 public:
  UrlDropTarget(QWidget* target, QObject* parent);
  ~UrlDropTarget() override;

  // The texts a drop of data carries: each URL, or each non-empty line of
  // the plain text.
  static QStringList DroppedTexts(const QMimeData& data);

 signals:
  void urlsDropped(const QStringList& texts);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* const target;
  QTimer* const dropTimer;  // announces droppedTexts once the drop has ended
  QStringList droppedTexts;
};

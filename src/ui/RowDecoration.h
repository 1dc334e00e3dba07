#pragma once

#include <QBrush>
#include <QDateTime>
#include <QString>

class QTreeWidgetItem;
class ServerRowPresenter;

// What the window adds to a server list row after the entry's presenter
// wrote it (RowStatus): the State cell's text and tool tip, a title cell
// that names a file which could not be written, the show an entry records
// for in the State cell's tool tip, the URL cell's tool tip
// naming the stream a playlist or HLS led to, and grey texts for what the
// server announced while the entry is not connected. It also keeps, on the
// row, when the entry was last seen failing to connect.
//
// The presenter's own texts are never lost: a decorated title cell keeps
// the presenter's title beside what it shows, and gives it back once the
// problem is gone.
//
// Stateless; user-interface thread (it touches tree items).
class RowDecoration {
 public:
  // Decorates item after presenter wrote it. notLive: the brush for texts
  // of an entry that is not connected. showNote: a line the State cell's
  // tool tip adds (the show the entry records now; ScheduleText), or empty.
  static void Apply(QTreeWidgetItem& item, const ServerRowPresenter& presenter, const QBrush& notLive,
                    const QString& showNote = {});
  // When the window last saw the row's entry fail to connect; invalid when
  // it never did.
  static QDateTime LastTry(const QTreeWidgetItem& item);
  // "Stream: URL (station)" for an entry recording through a playlist or
  // HLS; empty otherwise.
  static QString SourceText(const ServerRowPresenter& presenter);

 private:
  // The title cell of a row whose file could not be written keeps the
  // presenter's title and adds the problem (empty: takes it away).
  static void ShowWriterProblem(QTreeWidgetItem& item, const QString& problem);
};

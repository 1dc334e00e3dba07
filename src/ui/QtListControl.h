#pragma once

#include <QList>
#include <QObject>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/ListControl.h"
#include "base/Mutex.h"
#include "ui/WakeupPipe.h"

class QTreeWidget;

// The server list's ListControl over a QTreeWidget in report style. Row
// presenters call it from the streams' worker threads at full stream speed;
// it never makes them wait for the user-interface thread: every change is
// recorded in a pending set, the first one since the last apply wakes the
// user-interface thread through a pipe, and its event loop applies all of
// them at once (ApplyPending). No Qt object crosses between the threads. A
// cell written many times before that turn is applied once, with its last
// text, and a column width is fitted at most once per turn, so fifty entries
// recording at once cannot flood the window.
//
// Column widths settle: a column is fitted to its header and contents until
// it first shows a non-empty cell (never made narrower by that, and never
// wider than the other columns leave room for in the visible list), and
// stays as it is from then on, so that the columns do not jump while titles
// and counters change. A column the user drags to another width, and one
// given a width by SettleColumn, is settled at once.
//
// RowCount and InsertRow answer from the control's own row count, which
// already includes rows not yet shown. Texts are bytes; the window shows them
// as UTF-8 when they are valid UTF-8, else as Windows-1252 (DisplayText).
//
// Ownership: the tree widget is borrowed; it must have its columns and must
// outlive this object, which must in turn outlive every presenter attached
// to it (in the main view it is declared before the settings store).
//
// Threads: the ListControl operations run on any thread. RemoveRow,
// ApplyPending and the constructor and destructor run on the thread of the
// tree widget (the user-interface thread), which alone touches the widget.
//
// Lock: `mutex` guards rowCount, pending and applyPosted; the presenters'
// worker threads take it in the ListControl operations, the user-interface
// thread in RowCount, RemoveRow and ApplyPending. It is taken after a
// presenter's lock and never held while the widget is touched or a signal
// is emitted.
class QtListControl : public QObject, public ListControl {
  Q_OBJECT

 public:
  // columns: how many columns tree has (at most 32); cells and fits beyond
  // them are ignored.
  QtListControl(QTreeWidget* tree, int columns, QObject* parent = nullptr);
  ~QtListControl() override;

  int RowCount() override EXCLUDES(mutex);
  int InsertRow(int index, const std::string& text) override EXCLUDES(mutex);
  // Writes outside the rows or columns are ignored.
  void SetCellText(int row, int column, const std::string& text) override EXCLUDES(mutex);
  void FitColumnWidth(int column) override EXCLUDES(mutex);

  // User-interface thread: applies what is pending, then removes the row
  // from the widget and the count. Rows below it move up one. False when
  // there is no such row.
  bool RemoveRow(int row) EXCLUDES(mutex);
  // User-interface thread: applies every pending change now and announces
  // the rows whose cells were written.
  void ApplyPending() EXCLUDES(mutex);

  // User-interface thread: fits an unsettled column to its header and
  // contents now, narrower too (the starting widths).
  void FitColumn(int column);
  // User-interface thread: gives column this width (when width > 0) and
  // keeps it from being fitted again; false outside the columns.
  bool SettleColumn(int column, int width = 0);
  // User-interface thread: the widest column can be without the list
  // scrolling sideways, the other columns as wide as they are (the last,
  // which stretches, as wide as its header).
  int Room(int column) const;
  // User-interface thread: the width the columns can take without
  // scrolling sideways, a vertical scroll bar allowed for.
  int VisibleWidth() const;
  bool ColumnSettled(int column) const;

 signals:
  // Emitted by ApplyPending with the rows (in ascending order) that had
  // cells written, for whoever decorates rows after the presenters.
  void rowsWritten(const QList<int>& rows);

 private:
  struct Changes {
    std::vector<std::pair<int, std::string>> inserts;  // in call order
    std::map<std::pair<int, int>, std::string> cells;  // (row, column) -> text
    uint32_t fitColumns = 0;                           // bit per column
  };

  // Wakes the user-interface thread for one ApplyPending unless it has been
  // woken for one already; mutex held.
  void PostApplyLocked() REQUIRES(mutex);
  Changes TakeChangesLocked() REQUIRES(mutex);
  // Applies changes to the widget; returns the rows with written cells.
  QList<int> Apply(const Changes& changes);
  // Fits an unsettled column (never narrowing it unless mayNarrow);
  // settles it once it shows a non-empty cell.
  void Fit(int column, bool mayNarrow = false);
  // A section the header resized: the user's drags settle their column.
  void OnSectionResized(int column);

  // Constant after construction.
  QTreeWidget* const tree;  // not owned
  const int columnCount;

  WakeupPipe wakeup;

  // User-interface thread only.
  uint32_t settledColumns = 0;  // bit per column
  bool resizing = false;        // a width change of our own is under way

  Mutex mutex;  // guards the three below; any thread
  int rowCount GUARDED_BY(mutex) = 0;
  Changes pending GUARDED_BY(mutex);
  bool applyPosted GUARDED_BY(mutex) = false;
};

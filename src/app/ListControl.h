#pragma once

#include <string>

// The report-style list a ServerRowPresenter writes its row into: rows
// addressed by index, appended at the end, a text per cell, and columns whose
// width can be fitted to the wider of header and contents. The window layer
// implements it over its list widget; tests use an in-memory one.
//
// Threading contract, binding on every implementation: the calls arrive on
// any thread, mostly on a stream's worker while that stream's observer lock
// and the presenter's lock are held, and the user-interface thread takes
// those same locks (announcing "Disconnected" on a stop, renumbering rows
// after a deletion). An implementation must therefore never make the caller
// wait for the user-interface thread: no blocking cross-thread call, no wait
// for a repaint. Post the change to the user-interface thread and return.
// Calls from different threads may overlap; an implementation guards its own
// state.
//
// Because updates may be applied later, RowCount() and InsertRow() answer
// from the implementation's own bookkeeping at once: a row inserted by
// InsertRow() is counted by the next RowCount() even before it is visible.
//
// A cell of a row that does not exist (any more) is silently ignored: after
// a deletion a presenter may still write to its old index for a moment.
// Errors may be thrown; the presenter swallows them.
class ListControl {
 public:
  virtual ~ListControl() = default;

  // Number of rows, including inserted rows not yet shown.
  virtual int RowCount() = 0;
  // Inserts a row before index (index == RowCount() appends) with text in
  // column 0; returns the new row's index, or -1 when no row was inserted.
  virtual int InsertRow(int index, const std::string& text) = 0;
  // Sets the text of one cell.
  virtual void SetCellText(int row, int column, const std::string& text) = 0;
  // Fits the column's width to the wider of its header and its contents.
  virtual void FitColumnWidth(int column) = 0;
};

#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/ListControl.h"
#include "base/Mutex.h"

// The server list of the headless recorder: a ListControl that only keeps
// the texts the row presenters write. The recorder's lines come from its
// ConsoleReporters, which see the same events; the presenters still need a
// list to write to, and the texts stay readable (CellText).
//
// Threads: the presenters call the ListControl operations on the streams'
// workers (and on the main thread); they only update the rows and never wait
// for anything else. CellText and RemoveRow run on the main thread.
//
// `mutex` guards the rows; taken by every operation (the workers, after a
// presenter's lock, and the main thread), never across a call out.
class ConsoleListControl : public ListControl {
 public:
  static constexpr int kColumnCount = 7;

  int RowCount() override EXCLUDES(mutex);
  // Inserts a row at index (0..RowCount()); -1 for any other index.
  int InsertRow(int index, const std::string& text) override EXCLUDES(mutex);
  // Ignored for a row or column that does not exist.
  void SetCellText(int row, int column, const std::string& text) override EXCLUDES(mutex);
  void FitColumnWidth(int column) override;

  // The text of one cell; empty for a cell that does not exist.
  std::string CellText(int row, int column) const EXCLUDES(mutex);
  // Deletes a row, the rows below moving up; the second step of removing an
  // entry (SettingsStore::RemoveRow). False for a row that does not exist.
  bool RemoveRow(int row) EXCLUDES(mutex);

 private:
  using Row = std::array<std::string, kColumnCount>;

  mutable Mutex mutex;
  std::vector<Row> rows GUARDED_BY(mutex);
};

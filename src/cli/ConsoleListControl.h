#pragma once

#include <array>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ui/ListControl.h"

// The server list of the headless recorder: a ListControl that turns the
// row presenters' updates into console lines. A change of a row's state,
// bit rate, current title or station name queues one line,
// "[n] URL: <column header>: <text>" (n counting rows from 1; an empty title
// or station name queues nothing); the other texts are only kept, for the
// progress lines.
//
// Threads: the presenters call the ListControl operations on the streams'
// workers (and on the main thread); they only update the rows and queue, under
// `mutex`, and never wait for anything else, so a slow terminal never holds
// up a recording. The main thread takes the lines with TakeLines and asks
// for ProgressLines. At most kMaxQueuedLines wait; past that the oldest go
// and are counted.
class ConsoleListControl : public ListControl {
 public:
  static constexpr size_t kMaxQueuedLines = 1024;
  static constexpr int kColumnCount = 7;

  int RowCount() override;
  // Inserts a row at index (0..RowCount()); -1 for any other index.
  int InsertRow(int index, const std::string& text) override;
  // Ignored for a row or column that does not exist.
  void SetCellText(int row, int column, const std::string& text) override;
  void FitColumnWidth(int column) override;

  // The lines queued since the last call, oldest first.
  std::vector<std::string> TakeLines();
  // Per row: "[n] <title, or the state without one>: <bytes of this title>
  // / <bytes in all> in all".
  std::vector<std::string> ProgressLines() const;
  // The text of one cell; empty for a cell that does not exist.
  std::string CellText(int row, int column) const;

 private:
  using Row = std::array<std::string, kColumnCount>;

  void Queue(std::string line);

  mutable std::mutex mutex;  // guards everything below
  std::vector<Row> rows;
  std::deque<std::string> lines;
  size_t droppedLines = 0;
};

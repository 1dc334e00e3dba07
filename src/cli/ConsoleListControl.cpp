#include "cli/ConsoleListControl.h"

#include <iterator>

#include "ui/ServerRowPresenter.h"

namespace {

// The header of a column whose changes are printed, or null.
const char* PrintedColumnName(int column) {
  switch (column) {
    case ServerRowPresenter::kStateColumn:
      return "State";
    case ServerRowPresenter::kBitrateColumn:
      return "Bitrate";
    case ServerRowPresenter::kTitleColumn:
      return "Current Title";
    case ServerRowPresenter::kStationNameColumn:
      return "Stream Title";
    default:
      return nullptr;
  }
}

std::string RowPrefix(int row) { return "[" + std::to_string(row + 1) + "]"; }

}  // namespace

int ConsoleListControl::RowCount() {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(rows.size());
}

int ConsoleListControl::InsertRow(int index, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < 0 || index > static_cast<int>(rows.size())) {
    return -1;
  }
  Row row;
  row[ServerRowPresenter::kUrlColumn] = text;
  rows.insert(rows.begin() + index, std::move(row));
  return index;
}

void ConsoleListControl::SetCellText(int row, int column, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 || column >= kColumnCount) {
    return;
  }
  std::string& cell = rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
  if (cell == text) {
    return;  // the presenter rewrites every column on every event
  }
  cell = text;
  const char* name = PrintedColumnName(column);
  if (name == nullptr || (text.empty() && column != ServerRowPresenter::kStateColumn)) {
    return;
  }
  Queue(RowPrefix(row) + " " + rows[static_cast<size_t>(row)][ServerRowPresenter::kUrlColumn] + ": " + name +
        ": " + text);
}

void ConsoleListControl::FitColumnWidth(int) {}

void ConsoleListControl::Queue(std::string line) {
  if (lines.size() >= kMaxQueuedLines) {
    lines.pop_front();
    ++droppedLines;
  }
  lines.push_back(std::move(line));
}

std::vector<std::string> ConsoleListControl::TakeLines() {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> taken;
  if (droppedLines > 0) {
    taken.push_back("(" + std::to_string(droppedLines) + " older lines dropped)");
    droppedLines = 0;
  }
  taken.insert(taken.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
  return taken;
}

std::vector<std::string> ConsoleListControl::ProgressLines() const {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> progress;
  progress.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::string& title = row[ServerRowPresenter::kTitleColumn];
    const std::string shown = title.empty() ? row[ServerRowPresenter::kStateColumn] : "\"" + title + "\"";
    progress.push_back(RowPrefix(static_cast<int>(i)) + " " + shown + ": " + row[ServerRowPresenter::kReceivedColumn] +
                       " / " + row[ServerRowPresenter::kReceivedCompleteColumn] + " in all");
  }
  return progress;
}

std::string ConsoleListControl::CellText(int row, int column) const {
  std::lock_guard<std::mutex> lock(mutex);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 || column >= kColumnCount) {
    return {};
  }
  return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

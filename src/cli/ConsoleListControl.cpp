#include "cli/ConsoleListControl.h"

#include <utility>

#include "app/ServerRowPresenter.h"

int ConsoleListControl::RowCount() {
  MutexLock lock(mutex);
  return static_cast<int>(rows.size());
}

int ConsoleListControl::InsertRow(int index, const std::string& text) {
  MutexLock lock(mutex);
  if (index < 0 || index > static_cast<int>(rows.size())) {
    return -1;
  }
  Row row;
  row[ServerRowPresenter::kUrlColumn] = text;
  rows.insert(rows.begin() + index, std::move(row));
  return index;
}

void ConsoleListControl::SetCellText(int row, int column, const std::string& text) {
  MutexLock lock(mutex);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 || column >= kColumnCount) {
    return;
  }
  rows[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
}

void ConsoleListControl::FitColumnWidth(int) {}

std::string ConsoleListControl::CellText(int row, int column) const {
  MutexLock lock(mutex);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 || column >= kColumnCount) {
    return {};
  }
  return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

bool ConsoleListControl::RemoveRow(int row) {
  MutexLock lock(mutex);
  if (row < 0 || row >= static_cast<int>(rows.size())) {
    return false;
  }
  rows.erase(rows.begin() + row);
  return true;
}

#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/ListControl.h"

// An in-memory list for presenter tests: rows of seven texts, a count of
// every call, and switches to make inserts fail or updates throw. Guarded by
// its own mutex, as a real list control guards its state.
class MemoryListControl : public ListControl {
 public:
  static constexpr int kColumns = 7;

  int RowCount() override {
    std::lock_guard lock(mutex);
    return static_cast<int>(rows.size());
  }

  int InsertRow(int index, const std::string& text) override {
    std::lock_guard lock(mutex);
    if (failInsert || index < 0 || index > static_cast<int>(rows.size())) {
      return -1;
    }
    std::vector<std::string> row(kColumns);
    row[0] = text;
    rows.insert(rows.begin() + index, row);
    return index;
  }

  void SetCellText(int row, int column, const std::string& text) override {
    std::lock_guard lock(mutex);
    if (throwOnUpdate) {
      throw std::runtime_error("list control gone");
    }
    ++cellWrites;
    if (row >= 0 && row < static_cast<int>(rows.size()) && column >= 0 && column < kColumns) {
      rows[row][column] = text;
    }
  }

  void FitColumnWidth(int column) override {
    std::lock_guard lock(mutex);
    if (column >= 0 && column < kColumns) {
      ++fits[column];
    }
  }

  std::string Cell(int row, int column) {
    std::lock_guard lock(mutex);
    return rows.at(row).at(column);
  }
  std::vector<std::string> Row(int row) {
    std::lock_guard lock(mutex);
    return rows.at(row);
  }
  void RemoveRow(int row) {
    std::lock_guard lock(mutex);
    rows.erase(rows.begin() + row);
  }
  int CellWrites() {
    std::lock_guard lock(mutex);
    return cellWrites;
  }
  int Fits(int column) {
    std::lock_guard lock(mutex);
    return fits[column];
  }
  void SetFailInsert(bool fail) {
    std::lock_guard lock(mutex);
    failInsert = fail;
  }
  void SetThrowOnUpdate(bool fail) {
    std::lock_guard lock(mutex);
    throwOnUpdate = fail;
  }

 private:
  std::mutex mutex;
  std::vector<std::vector<std::string>> rows;
  int cellWrites = 0;
  int fits[kColumns] = {};
  bool failInsert = false;
  bool throwOnUpdate = false;
};

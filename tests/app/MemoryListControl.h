#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ListControl.h"

// An in-memory list for presenter tests: rows of seven texts, counts of the
// calls, and switches that make inserts fail or updates throw. The overrides
// lock, as a real list guards itself; read the fields once writers are done.
struct MemoryListControl : ListControl {
  int RowCount() override {
    std::lock_guard lock(mutex);
    return static_cast<int>(rows.size());
  }
  int InsertRow(int index, const std::string& text) override {
    std::lock_guard lock(mutex);
    if (failInsert || index != static_cast<int>(rows.size())) {
      return -1;
    }
    rows.push_back({text, "", "", "", "", "", ""});
    return index;
  }
  void SetCellText(int row, int column, const std::string& text) override {
    std::lock_guard lock(mutex);
    if (throwOnUpdate) {
      throw std::runtime_error("list control gone");
    }
    ++cellWrites;
    if (row >= 0 && row < static_cast<int>(rows.size())) {
      rows[row].at(column) = text;
    }
  }
  void FitColumnWidth(int column) override {
    std::lock_guard lock(mutex);
    ++fits.at(column);
  }

  std::mutex mutex;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> fits = std::vector<int>(7);
  int cellWrites = 0;
  bool failInsert = false;
  bool throwOnUpdate = false;
};

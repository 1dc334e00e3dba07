#include "ui/QtListControl.h"

#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <memory>

#include "ui/DisplayText.h"

QtListControl::QtListControl(QTreeWidget* treeWidget, int columns, QObject* parent)
    : QObject(parent), tree(treeWidget), columnCount(columns < 0 ? 0 : (columns > 32 ? 32 : columns)) {
  connect(&wakeup, &WakeupPipe::woken, this, &QtListControl::ApplyPending);
  connect(tree->header(), &QHeaderView::sectionResized, this,
          [this](int column, int, int) { OnSectionResized(column); });
}

QtListControl::~QtListControl() = default;

int QtListControl::RowCount() {
  MutexLock lock(mutex);
  return rowCount;
}

int QtListControl::InsertRow(int index, const std::string& text) {
  MutexLock lock(mutex);
  if (index < 0 || index > rowCount) {
    return -1;
  }
  // Pending cell texts are keyed by the rows as they are numbered now; the
  // rows at and below the new one move down.
  if (index < rowCount) {
    std::map<std::pair<int, int>, std::string> moved;
    for (auto& [key, value] : pending.cells) {
      const int row = key.first >= index ? key.first + 1 : key.first;
      moved.emplace(std::make_pair(row, key.second), std::move(value));
    }
    pending.cells = std::move(moved);
  }
  pending.inserts.emplace_back(index, text);
  ++rowCount;
  PostApplyLocked();
  return index;
}

void QtListControl::SetCellText(int row, int column, const std::string& text) {
  MutexLock lock(mutex);
  if (row < 0 || row >= rowCount || column < 0 || column >= columnCount) {
    return;
  }
  auto [it, inserted] = pending.cells.try_emplace(std::make_pair(row, column), text);
  if (!inserted) {
    it->second = text;
  }
  PostApplyLocked();
}

void QtListControl::FitColumnWidth(int column) {
  MutexLock lock(mutex);
  if (column < 0 || column >= columnCount) {
    return;
  }
  pending.fitColumns |= uint32_t{1} << column;
  PostApplyLocked();
}

bool QtListControl::RemoveRow(int row) {
  Changes changes;
  {
    MutexLock lock(mutex);
    if (row < 0 || row >= rowCount) {
      return false;
    }
    // The pending changes are numbered as before the removal, so they go to
    // the widget first; whatever arrives from now on is numbered without
    // the row.
    changes = TakeChangesLocked();
    --rowCount;
  }
  const QList<int> written = Apply(changes);
  std::unique_ptr<QTreeWidgetItem> item(tree->takeTopLevelItem(row));
  if (!written.isEmpty()) {
    QList<int> moved;
    for (const int writtenRow : written) {
      if (writtenRow != row) {
        moved.append(writtenRow > row ? writtenRow - 1 : writtenRow);
      }
    }
    emit rowsWritten(moved);
  }
  return true;
}

void QtListControl::ApplyPending() {
  Changes changes;
  {
    MutexLock lock(mutex);
    changes = TakeChangesLocked();
  }
  const QList<int> written = Apply(changes);
  if (!written.isEmpty()) {
    emit rowsWritten(written);
  }
}

void QtListControl::PostApplyLocked() {
  if (applyPosted) {
    return;
  }
  applyPosted = true;
  // The caller goes on at once, whatever the window is doing.
  wakeup.Wake();
}

QtListControl::Changes QtListControl::TakeChangesLocked() {
  Changes taken = std::move(pending);
  pending = Changes{};
  applyPosted = false;
  return taken;
}

QList<int> QtListControl::Apply(const Changes& changes) {
  uint32_t changedColumns = 0;
  for (const auto& [index, text] : changes.inserts) {
    auto item = std::make_unique<QTreeWidgetItem>();
    item->setText(0, DisplayText::FromBytes(text));
    tree->insertTopLevelItem(index, item.release());
    changedColumns = ~uint32_t{0};
  }
  QList<int> written;
  for (const auto& [key, text] : changes.cells) {
    const auto [row, column] = key;
    QTreeWidgetItem* item = tree->topLevelItem(row);
    if (item == nullptr) {
      continue;
    }
    if (written.isEmpty() || written.back() != row) {
      written.append(row);
    }
    const QString shown = DisplayText::FromBytes(text);
    if (item->text(column) != shown) {
      item->setText(column, shown);
      changedColumns |= uint32_t{1} << column;
    }
  }
  // Counters change with every audio block; a width is only measured again
  // when its column's contents did change.
  const uint32_t fits = changes.fitColumns & changedColumns & ~settledColumns;
  for (int column = 0; column < columnCount; ++column) {
    if ((fits & (uint32_t{1} << column)) != 0) {
      Fit(column);
    }
  }
  return written;
}

int QtListControl::Room(int column) const {
  int others = 0;
  for (int other = 0; other < columnCount; ++other) {
    // The last column stretches into whatever is left; it needs only its
    // header.
    if (other != column) {
      others += other == columnCount - 1 ? tree->header()->sectionSizeHint(other) : tree->columnWidth(other);
    }
  }
  return std::max(VisibleWidth() - others, tree->header()->minimumSectionSize());
}

int QtListControl::VisibleWidth() const {
  // Leaves room for a vertical scroll bar, which more rows bring.
  return tree->maximumViewportSize().width() - tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, tree);
}

void QtListControl::Fit(int column, bool mayNarrow) {
  const int before = tree->columnWidth(column);
  resizing = true;
  tree->resizeColumnToContents(column);
  // A long text ends in "..." rather than pushing the list into scrolling
  // sideways.
  const int room = Room(column);
  if (tree->columnWidth(column) > room) {
    tree->setColumnWidth(column, room);
  }
  if (!mayNarrow && tree->columnWidth(column) < before) {
    tree->setColumnWidth(column, before);
  }
  resizing = false;
  for (int row = 0; row < tree->topLevelItemCount(); ++row) {
    if (!tree->topLevelItem(row)->text(column).isEmpty()) {
      settledColumns |= uint32_t{1} << column;
      break;
    }
  }
}

void QtListControl::FitColumn(int column) {
  if (column >= 0 && column < columnCount && !ColumnSettled(column)) {
    Fit(column, true);
  }
}

bool QtListControl::SettleColumn(int column, int width) {
  if (column < 0 || column >= columnCount) {
    return false;
  }
  if (width > 0) {
    resizing = true;
    tree->setColumnWidth(column, width);
    resizing = false;
  }
  settledColumns |= uint32_t{1} << column;
  return true;
}

bool QtListControl::ColumnSettled(int column) const {
  return column >= 0 && column < columnCount && (settledColumns & (uint32_t{1} << column)) != 0;
}

void QtListControl::OnSectionResized(int column) {
  if (!resizing && column >= 0 && column < columnCount) {
    settledColumns |= uint32_t{1} << column;
  }
}

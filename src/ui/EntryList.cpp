#include "ui/EntryList.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <initializer_list>

#include "app/ServerRowPresenter.h"
#include "app/SettingsStore.h"
#include "stream/StreamState.h"
#include "ui/DialogUnits.h"
#include "ui/FormControls.h"
#include "ui/RowDecoration.h"
#include "ui/RowStatus.h"
#include "ui/ScheduleText.h"

EntryList::EntryList(QWidget* form, const SettingsStore& settingsStore)
    : QObject(form),
      store(settingsStore),
      tree(new QTreeWidget(form)),
      hint(new QLabel(QStringLiteral(" Connect to server / Disconnect from server: just double click on a server!"),
                      form)),
      clickTimer(new QTimer(this)),
      listControl(tree, ServerRowPresenter::kColumnCount) {
  const DialogUnits units(form->font());
  tree->setGeometry(units.Rect(0, 0, 370, 75));
  hint->setGeometry(units.Rect(0, 75, 365, 8));

  // Report style: full-row selection of one row, no sorting, no editing,
  // headers that do nothing when clicked; the entry commands on a right
  // click.
  tree->setRootIsDecorated(false);
  tree->setItemsExpandable(false);
  tree->setExpandsOnDoubleClick(false);
  tree->setUniformRowHeights(true);
  tree->setAllColumnsShowFocus(true);
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  tree->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->setSortingEnabled(false);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  tree->header()->setSectionsClickable(false);
  tree->header()->setSectionsMovable(false);
  // Widths stay where they were set or dragged; the last column takes the
  // rest, and long texts end in "...".
  tree->header()->setStretchLastSection(true);
  tree->setTextElideMode(Qt::ElideRight);
  // Drops are URLs to add (UrlDropTarget); the list has no items to drag
  // around.
  tree->setDragDropMode(QAbstractItemView::DropOnly);
  tree->setDropIndicatorShown(false);
  tree->setAcceptDrops(true);
  tree->viewport()->setAcceptDrops(true);
  // The selection stays visible while another control has the focus.
  QPalette palette = tree->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  tree->setPalette(palette);
  tree->installEventFilter(this);
  tree->viewport()->installEventFilter(this);

  connect(&listControl, &QtListControl::rowsWritten, this, &EntryList::DecorateRows);
  clickTimer->setSingleShot(true);
  clickTimer->setInterval(0);
  connect(clickTimer, &QTimer::timeout, this, &EntryList::clicked);
  connect(tree, &QTreeWidget::itemSelectionChanged, this, &EntryList::selectionChanged);
  connect(tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    if (QTreeWidgetItem* item = tree->itemAt(position)) {
      tree->setCurrentItem(item);
    }
    emit contextMenuRequested(tree->viewport()->mapToGlobal(position));
  });
}

EntryList::~EntryList() = default;

QWidget* EntryList::Widget(AnchorControlId control) const {
  switch (control) {
    case FormControl::kServerList:
      return tree;
    case FormControl::kHint:
      return hint;
    default:
      return nullptr;
  }
}

void EntryList::InsertColumns() {
  tree->setColumnCount(ServerRowPresenter::kColumnCount);
  tree->setHeaderLabels({QStringLiteral("Server / URL"), QStringLiteral("State"), QStringLiteral("Bitrate"),
                         QStringLiteral("Received"), QStringLiteral("Current Title"),
                         QStringLiteral("Received Complete"), QStringLiteral("Stream Title")});
  SetInitialColumnWidths();
}

void EntryList::SetInitialColumnWidths() {
  const QFontMetrics metrics = tree->fontMetrics();
  // The cell's own margins, a little more than the style's so no text
  // touches the next column.
  const int padding = 3 * metrics.averageCharWidth();
  const auto widest = [&](std::initializer_list<QString> texts) {
    int width = 0;
    for (const QString& text : texts) {
      width = std::max(width, metrics.horizontalAdvance(text) + padding);
    }
    return width;
  };
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    tree->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    listControl.FitColumn(column);
  }
  // The state and the counters take known texts: their widths are settled
  // at once, so that no later text makes them jump.
  int stateWidth = widest({QString::fromLatin1(RowStatus::kWriteErrorState)});
  for (int state = static_cast<int>(StreamState::Disconnected);
       state <= static_cast<int>(StreamState::ErrorPreparingBuffer); ++state) {
    stateWidth = std::max(stateWidth, widest({QString::fromLatin1(StreamStateText(static_cast<StreamState>(state)))}));
  }
  const int countWidth = widest({QStringLiteral("999,999 MBytes")});
  const auto settle = [this](int column, int width) {
    listControl.SettleColumn(column, std::max(width, tree->columnWidth(column)));
  };
  settle(ServerRowPresenter::kStateColumn, stateWidth);
  settle(ServerRowPresenter::kBitrateColumn, widest({QStringLiteral("9999")}));
  settle(ServerRowPresenter::kReceivedColumn, countWidth);
  settle(ServerRowPresenter::kReceivedCompleteColumn, countWidth);
  // The whole header fits the list at its first size: every column but the
  // last (which stretches) gives up its share, and texts end in "...".
  const int last = ServerRowPresenter::kColumnCount - 1;
  const int lastWidth = tree->header()->sectionSizeHint(last);
  const int room = listControl.VisibleWidth() - lastWidth;
  int others = 0;
  for (int column = 0; column < last; ++column) {
    others += tree->columnWidth(column);
  }
  if (others > room && others > 0) {
    const int floor = 6 * metrics.averageCharWidth();
    for (int column = 0; column < last; ++column) {
      listControl.SettleColumn(column, std::max(floor, tree->columnWidth(column) * std::max(room, 0) / others));
    }
    // The stretching column would otherwise keep its fitted width.
    listControl.SettleColumn(last, lastWidth);
  }
}

std::vector<int> EntryList::ColumnWidths() const {
  std::vector<int> widths;
  widths.reserve(ServerRowPresenter::kColumnCount);
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    widths.push_back(tree->columnWidth(column));
  }
  return widths;
}

void EntryList::RestoreColumnWidths(const std::vector<int>& widths) {
  const int count = std::min(static_cast<int>(widths.size()), ServerRowPresenter::kColumnCount);
  for (int column = 0; column < count; ++column) {
    if (widths[static_cast<size_t>(column)] > 0) {
      listControl.SettleColumn(column, widths[static_cast<size_t>(column)]);
    }
  }
}

int EntryList::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = tree->selectedItems();
  if (selected.isEmpty()) {
    return -1;
  }
  return tree->indexOfTopLevelItem(selected.front());
}

QList<int> EntryList::SelectedRows() const {
  QList<int> rows;
  for (QTreeWidgetItem* item : tree->selectedItems()) {
    rows.append(tree->indexOfTopLevelItem(item));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void EntryList::ClearSelection() {
  tree->clearSelection();
  tree->setCurrentItem(nullptr);
}

QDateTime EntryList::LastTry(int row) const {
  const QTreeWidgetItem* item = row < 0 ? nullptr : tree->topLevelItem(row);
  return item != nullptr ? RowDecoration::LastTry(*item) : QDateTime();
}

QPoint EntryList::KeyboardMenuPosition() const {
  // Where Qt puts a menu opened by the Menu key: at the current row.
  if (const QTreeWidgetItem* item = tree->currentItem()) {
    return tree->visualItemRect(item).center();
  }
  return QPoint(0, 0);
}

void EntryList::DecorateRows(const QList<int>& rows) {
  const QBrush notLive(tree->palette().color(QPalette::Disabled, QPalette::Text));
  for (const int row : rows) {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    const ServerRowPresenter* presenter = store.RowAt(row);
    if (item != nullptr && presenter != nullptr) {
      RowDecoration::Apply(*item, *presenter, notLive, ScheduleText::StateNote(store, presenter->Stream()));
    }
  }
  emit rowsDecorated();
}

bool EntryList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) {
      emit deleteKeyPressed(key->key());
      return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space) &&
        key->modifiers() == Qt::NoModifier) {
      emit toggleKeyPressed();
      return true;
    }
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
      // The keyboard's other way to the context menu, besides the Menu key
      // (which Qt turns into a context menu event itself).
      emit contextMenuRequested(tree->viewport()->mapToGlobal(KeyboardMenuPosition()));
      return true;
    }
  } else if (watched == tree->viewport() &&
             (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
              event->type() == QEvent::MouseButtonDblClick)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
      return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonPress) {
      // A click beside the rows clears the selection.
      if (tree->itemAt(mouse->position().toPoint()) == nullptr) {
        ClearSelection();
      }
    } else if (event->type() == QEvent::MouseButtonRelease) {
      // Once the list has handled the click, so that the panel follows the
      // new selection.
      clickTimer->start();
    } else {
      emit doubleClicked();
    }
  }
  return QObject::eventFilter(watched, event);
}

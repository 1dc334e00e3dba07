#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPoint>

#include <vector>

#include "app/LayoutAnchor.h"
#include "ui/QtListControl.h"

class QLabel;
class QTimer;
class QTreeWidget;
class SettingsStore;

// The server list of the main form: a QTreeWidget in report style with one
// row per entry and seven columns, which the entries' presenters write
// through the QtListControl this object owns, and the hint line under it.
// It settles the columns' widths, answers which rows are selected, adds
// what the presenters do not write after each of their turns
// (RowDecoration), and turns keys and clicks on the list into signals for
// the form to act on: it changes no entry itself.
//
// Keys on the list: Enter or Space (no modifier) announce toggleKeyPressed;
// Delete or Backspace announce deleteKeyPressed; Shift+F10, like the Menu
// key, asks for the context menu at the current row. A click beside the rows
// clears the selection; once the list has handled a click, clicked follows,
// so that whoever shows the current row sees the new one.
//
// Ownership: a child of the form (QObject parent), whose widgets the tree
// and the hint are, so that the form's layout anchor places them. The store
// is borrowed and must outlive this object; the list control must outlive
// every presenter attached to it, which holds because the form destroys its
// store (a member) before Qt deletes this child.
//
// Threads: user-interface thread only, apart from the list control's
// ListControl operations (see QtListControl).
class EntryList : public QObject {
  Q_OBJECT

 public:
  // form: the widget the list and the hint go on. store: whose presenters
  // write the rows.
  EntryList(QWidget* form, const SettingsStore& store);
  ~EntryList() override;

  QTreeWidget* Tree() const { return tree; }
  QtListControl& Control() { return listControl; }
  // kServerList and kHint (FormControl); null for any other id.
  QWidget* Widget(AnchorControlId control) const;

  // Once: the columns' headers and starting widths.
  void InsertColumns();
  // The columns' widths in pixels, in column order.
  std::vector<int> ColumnWidths() const;
  // Gives each column a remembered width (0 or less: left as it is); those
  // stay as they are until the user drags them.
  void RestoreColumnWidths(const std::vector<int>& widths);

  // The row selected in the list, -1 when none.
  int SelectedRow() const;
  // Every selected row, in ascending order.
  QList<int> SelectedRows() const;
  // Selects nothing and leaves no current row.
  void ClearSelection();
  // When the window last saw the entry of row fail to connect; invalid
  // when never, or when there is no such row.
  QDateTime LastTry(int row) const;

 signals:
  // The selection changed, however: a click, the arrow keys, a removal.
  void selectionChanged();
  // A left click on the list has been handled.
  void clicked();
  void doubleClicked();
  void toggleKeyPressed();
  // key: Qt::Key_Delete or Qt::Key_Backspace.
  void deleteKeyPressed(int key);
  // A right click, at globalPosition (the row under it, if any, is the
  // current one now), or the Menu key or Shift+F10 (at the current row).
  void contextMenuRequested(const QPoint& globalPosition);
  // Rows the presenters wrote have been decorated.
  void rowsDecorated();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // After the presenters wrote rows: what RowDecoration adds to each.
  void DecorateRows(const QList<int>& rows);
  // Column widths from the header and the widest texts some columns show.
  void SetInitialColumnWidths();
  // In the viewport: the centre of the current row, else its top left.
  QPoint KeyboardMenuPosition() const;

  // Constant after construction. The widgets are owned by the form.
  const SettingsStore& store;
  QTreeWidget* const tree;
  QLabel* const hint;
  QTimer* const clickTimer;  // announces clicked once a click is handled

  QtListControl listControl;
};

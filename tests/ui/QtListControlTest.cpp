// The server list's ListControl: writers on other threads never wait for the
// window, many writes become one update per event-loop turn, and rows keep
// their addresses across inserts and removals, and columns settle.

#include <QHeaderView>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ui/DisplayText.h"
#include "ui/QtListControl.h"

namespace {

constexpr int kColumns = 7;

}  // namespace

class QtListControlTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    tree = std::make_unique<QTreeWidget>();
    // Wide enough that no fitted column runs out of room.
    tree->resize(2000, 200);
    tree->setColumnCount(kColumns);
    list = std::make_unique<QtListControl>(tree.get(), kColumns);
  }
  void cleanup() {
    list.reset();
    tree.reset();
  }

  void insertedRowsCountBeforeTheyAreShown() {
    QCOMPARE(list->InsertRow(0, "http://a"), 0);
    QCOMPARE(list->InsertRow(list->RowCount(), "http://b"), 1);
    QCOMPARE(list->RowCount(), 2);
    QCOMPARE(tree->topLevelItemCount(), 0);
    QCOMPARE(list->InsertRow(5, "past the end"), -1);
    QCOMPARE(list->InsertRow(-1, "before the start"), -1);

    QCoreApplication::processEvents();
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("http://b"));
  }

  void writersOnManyThreadsNeverWaitAndLastTextWins() {
    constexpr int kRows = 50;
    constexpr int kWritesPerRow = 2000;
    for (int row = 0; row < kRows; ++row) {
      list->InsertRow(row, "row " + std::to_string(row));
    }
    list->ApplyPending();
    QSignalSpy applied(list.get(), &QtListControl::rowsWritten);

    // The window's thread does not run its event loop while the writers
    // work: a writer that waited for it would never finish.
    std::vector<std::thread> writers;
    for (int row = 0; row < kRows; ++row) {
      writers.emplace_back([this, row] {
        for (int write = 1; write <= kWritesPerRow; ++write) {
          list->SetCellText(row, 3, std::to_string(write) + " Bytes");
          for (int column = 0; column < kColumns; ++column) {
            list->FitColumnWidth(column);
          }
        }
      });
    }
    for (auto& writer : writers) {
      writer.join();
    }
    QCOMPARE(tree->topLevelItem(7)->text(3), QString());

    QCoreApplication::processEvents();
    QCOMPARE(applied.count(), 1);
    QCOMPARE(applied.front().front().value<QList<int>>().size(), kRows);
    for (int row = 0; row < kRows; ++row) {
      QCOMPARE(tree->topLevelItem(row)->text(3), QStringLiteral("2000 Bytes"));
    }
    QVERIFY(tree->columnWidth(3) >= tree->fontMetrics().horizontalAdvance(QStringLiteral("2000 Bytes")));
  }

  void writesOutsideTheRowsAreIgnored() {
    list->InsertRow(0, "only");
    list->SetCellText(-1, 1, "x");
    list->SetCellText(1, 1, "x");
    list->SetCellText(0, kColumns, "x");
    list->SetCellText(0, -1, "x");
    list->FitColumnWidth(kColumns);
    list->ApplyPending();
    QCOMPARE(tree->topLevelItemCount(), 1);
    for (int column = 1; column < kColumns; ++column) {
      QCOMPARE(tree->topLevelItem(0)->text(column), QString());
    }
  }

  void pendingCellsFollowTheirRowWhenARowIsInsertedAbove() {
    list->InsertRow(0, "first");
    list->SetCellText(0, 1, "Connected");
    list->InsertRow(0, "new first");
    list->ApplyPending();
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("new first"));
    QCOMPARE(tree->topLevelItem(0)->text(1), QString());
    QCOMPARE(tree->topLevelItem(1)->text(1), QStringLiteral("Connected"));
  }

  void removalAppliesPendingWritesToTheOldRowsThenMovesRowsUp() {
    for (const char* url : {"a", "b", "c"}) {
      list->InsertRow(list->RowCount(), url);
    }
    list->SetCellText(1, 1, "written to b");
    list->SetCellText(2, 1, "written to c");
    QVERIFY(list->RemoveRow(1));
    QCOMPARE(list->RowCount(), 2);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("c"));
    QCOMPARE(tree->topLevelItem(1)->text(1), QStringLiteral("written to c"));

    // From now on row 1 is c.
    list->SetCellText(1, 2, "128");
    QCoreApplication::processEvents();
    QCOMPARE(tree->topLevelItem(1)->text(2), QStringLiteral("128"));
    QVERIFY(!list->RemoveRow(2));
    QVERIFY(!list->RemoveRow(-1));
  }

  void aColumnIsFittedUntilItsFirstTextThenStays() {
    list->InsertRow(0, "row");
    list->SetCellText(0, 4, "");
    list->FitColumnWidth(4);
    list->ApplyPending();
    QVERIFY(!list->ColumnSettled(4));  // nothing to fit yet
    list->SetCellText(0, 4, "First title, wide enough");
    list->FitColumnWidth(4);
    list->ApplyPending();
    QVERIFY(list->ColumnSettled(4));
    const int width = tree->columnWidth(4);
    QVERIFY(width >= tree->fontMetrics().horizontalAdvance(QStringLiteral("First title, wide enough")));
    list->SetCellText(0, 4, std::string(200, 'w'));
    list->FitColumnWidth(4);
    list->ApplyPending();
    QCOMPARE(tree->columnWidth(4), width);

    // The user's width is kept, whatever comes next.
    tree->header()->resizeSection(2, 41);
    QVERIFY(list->ColumnSettled(2));
    list->SetCellText(0, 2, "a rather long bit rate text");
    list->FitColumnWidth(2);
    list->ApplyPending();
    QCOMPARE(tree->columnWidth(2), 41);
  }

  void textsShowAsUtf8OrElseWindows1252_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("Artist - Title") << QStringLiteral("Artist - Title");
    QTest::newRow("utf-8") << QByteArray("Caf\xc3\xa9 \xe2\x82\xac") << QStringLiteral("Caf\u00e9 \u20ac");
    QTest::newRow("utf-8 four bytes") << QByteArray("\xf0\x9f\x8e\xb5") << QStringLiteral("\U0001F3B5");
    QTest::newRow("latin-1 byte") << QByteArray("Caf\xe9") << QStringLiteral("Caf\u00e9");
    QTest::newRow("1252 specials") << QByteArray("\x80\x93\x96\x99\x9f") << QStringLiteral("\u20ac\u201c\u2013\u2122\u0178");
    QTest::newRow("1252 undefined byte") << QByteArray("\x81") << QStringLiteral("\u0081");
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QStringLiteral("\u00c0\u00af");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QStringLiteral("\u00ed\u00a0\u20ac");
    QTest::newRow("cut sequence") << QByteArray("ab\xe2\x82") << QStringLiteral("ab\u00e2\u201a");
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("\u00f4\u0090\u20ac\u20ac");
  }
  void textsShowAsUtf8OrElseWindows1252() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const std::string text(bytes.constData(), static_cast<size_t>(bytes.size()));
    list->InsertRow(0, text);
    list->SetCellText(0, 4, text);
    list->ApplyPending();
    QCOMPARE(tree->topLevelItem(0)->text(0), shown);
    QCOMPARE(tree->topLevelItem(0)->text(4), shown);
  }

 private:
  std::unique_ptr<QTreeWidget> tree;
  std::unique_ptr<QtListControl> list;
};

QTEST_MAIN(QtListControlTest)
#include "QtListControlTest.moc"

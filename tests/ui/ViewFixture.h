#pragma once

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>

#include "app/SettingsStore.h"
#include "ui/CDriftharbourView.h"
#include "ui/CMainFrame.h"

// The main window for one view test: shown on the offscreen platform with a
// settings file of its own in a temporary directory, and what the tests do
// to it as a user would (clicks on rows, entries added). A test class
// derives from QObject and from this, and calls OpenWindow from init() and
// CloseWindow from cleanup(). User-interface thread only.
class ViewFixture {
 protected:
  void OpenWindow() {
    QVERIFY(directory.isValid());
    QApplication::clipboard()->clear();
    settingsPath = directory.filePath(QStringLiteral("Driftharbour.ini")).toStdString();
    // Each test starts without the list an earlier one saved.
    std::filesystem::remove(settingsPath);
    frame = std::make_unique<CMainFrame>(settingsPath);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
  }
  void CloseWindow() { frame.reset(); }

  CDriftharbourView* View() const { return frame->View(); }
  QTreeWidget* List() const { return View()->ServerList(); }
  QString Cell(int row, int column) const {
    QTreeWidgetItem* item = List()->topLevelItem(row);
    return item == nullptr ? QStringLiteral("<no row>") : item->text(column);
  }
  // Adds stopped entries with the default directory and both switches on.
  void AddEntries(std::initializer_list<const char*> urls) {
    for (const char* url : urls) {
      QVERIFY(View()->Store().AddServer(url, "", true, true));
    }
    QCoreApplication::processEvents();
  }
  // The centre of row; below the rows when there is no such row.
  QPoint RowCentre(int row) const {
    QTreeWidgetItem* item = List()->topLevelItem(row);
    return item == nullptr ? QPoint(5, List()->viewport()->height() - 5) : List()->visualItemRect(item).center();
  }
  void Select(int row) {
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    QCoreApplication::processEvents();
  }
  void Doubleclick(int row) {
    Select(row);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    QCoreApplication::processEvents();
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  QTemporaryDir directory;
  std::string settingsPath;
  std::unique_ptr<CMainFrame> frame;
};

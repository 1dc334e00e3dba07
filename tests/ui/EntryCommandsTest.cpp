// The main window's commands on the offscreen platform: the context menu
// and toolbar commands on the selected entry (start, stop, copy, open its
// folder, listen, remove), Add Server with the clipboard's text, its rule
// and its question about a URL listed already, and saving the server list.
// Servers are 127.0.0.1 ports nobody listens on; nothing is opened on the
// desktop.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <string>

#include "AnswerBoxes.h"
#include "ViewFixture.h"
#include "app/ServerRowPresenter.h"
#include "stream/ServerStream.h"
#include "ui/CAddServerDlg.h"
#include "ui/EntryCommands.h"

class EntryCommandsTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

  void theContextMenuAndToolbarCommandsActOnTheSelectedEntry() {
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    const std::string downloads = directory.filePath(QStringLiteral("not/yet")).toStdString();
    QVERIFY(View()->Store().SetEntryDirectory(1, downloads));
    QList<QUrl> opened;
    EntryCommands* commands = View()->Commands();
    commands->SetUrlOpener([&opened](const QUrl& url) {
      opened.append(url);
      return true;
    });

    // A right click on a row makes it the current one and offers every command.
    QContextMenuEvent click(QContextMenuEvent::Mouse, RowCentre(1), List()->viewport()->mapToGlobal(RowCentre(1)));
    QApplication::sendEvent(List()->viewport(), &click);
    QTRY_VERIFY(commands->ContextMenu()->isVisible());
    QCOMPARE(View()->SelectedRow(), 1);
    for (QAction* action : commands->Actions()) {
      QVERIFY(commands->ContextMenu()->actions().contains(action));
      QVERIFY(frame->EntryToolBar()->actions().contains(action));
    }
    commands->ContextMenu()->hide();
    QVERIFY(commands->StartAction()->isEnabled());
    QVERIFY(!commands->StopAction()->isEnabled());

    commands->StartAction()->trigger();
    QVERIFY(!View()->Store().StreamAt(1)->IsStopped());
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QVERIFY(!commands->StartAction()->isEnabled());
    commands->StopAction()->trigger();
    QVERIFY(View()->Store().StreamAt(1)->IsStopped());

    commands->CopyUrlAction()->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:1/b"));

    // The folder is made first: the desktop cannot show one that is not there.
    commands->OpenFolderAction()->trigger();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.back(), QUrl::fromLocalFile(QString::fromStdString(downloads)));
    QVERIFY(std::filesystem::is_directory(downloads));

    // The player gets a playlist naming the stream, not a web page.
    commands->ListenAction()->trigger();
    QCOMPARE(opened.size(), 2);
    QVERIFY(opened.back().isLocalFile());
    QVERIFY(opened.back().path().endsWith(QStringLiteral(".m3u")));
    const std::string playlist = ReadFile(opened.back().toLocalFile().toStdString());
    QVERIFY2(playlist.find("\nhttp://127.0.0.1:1/b\n") != std::string::npos, playlist.c_str());

    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Yes, &seen);
    commands->RemoveAction()->trigger();
    QCOMPARE(seen.text, QStringLiteral("Do you want to delete 1 item from your picture list?"));
    QCOMPARE(View()->Store().EntryCount(), 1);
    QCOMPARE(Cell(0, 0), QStringLiteral("http://127.0.0.1:1/a"));
    for (QAction* action : commands->Actions()) {
      QVERIFY(!action->isEnabled());  // nothing selected
    }
  }

  void addServerTakesTheClipboardTextWhole() {
    const QString copied = QStringLiteral("http://127.0.0.1:8000/stream");
    QApplication::clipboard()->setText(copied);
    QString shown = QStringLiteral("<no dialog>");
    WhenModalOpens([&shown](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      QVERIFY(dialog != nullptr);
      shown = dialog->UrlField()->text();
      QTest::keyClick(dialog, Qt::Key_Return);
    });
    QTest::keyClick(frame.get(), Qt::Key_F3);
    QCOMPARE(shown, copied);
    QCOMPARE(List()->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), copied);
    QCOMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QCOMPARE(View()->Store().RowAt(0)->DownloadDirectory(), View()->Store().DefaultDownloadDirectory());
  }

  void addServerTrimsCompletesOrRefuses_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("added");  // null: refused, the dialog stays open
    QTest::newRow("blanks around") << QStringLiteral("  http://127.0.0.1:8000/stream \t")
                                   << QStringLiteral("http://127.0.0.1:8000/stream");
    QTest::newRow("no scheme, port") << QStringLiteral("127.0.0.1:8000/live")
                                     << QStringLiteral("http://127.0.0.1:8000/live");
    QTest::newRow("no scheme, name") << QStringLiteral("radio.example/stream")
                                     << QStringLiteral("http://radio.example/stream");
    QTest::newRow("https") << QStringLiteral("https://127.0.0.1/a") << QStringLiteral("https://127.0.0.1/a");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/a") << QString();
    QTest::newRow("file") << QStringLiteral("file:/music/a.mp3") << QString();
    QTest::newRow("words") << QStringLiteral("  just some words \t") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no host") << QStringLiteral("http:///stream") << QString();
  }
  void addServerTrimsCompletesOrRefuses() {
    QFETCH(QString, typed);
    QFETCH(QString, added);
    CAddServerDlg dialog(frame.get());
    dialog.show();
    dialog.UrlField()->setText(typed);
    BoxSeen seen;
    if (added.isNull()) {
      AnswerMessageBox(QMessageBox::Ok, &seen);
    }
    dialog.findChild<QPushButton*>(QStringLiteral("addServer"))->click();
    QCOMPARE(dialog.Url(), added.isNull() ? QString() : added);
    QCOMPARE(dialog.isVisible(), added.isNull());
    if (added.isNull()) {
      QCOMPARE(seen.title, QStringLiteral("Add Server"));
      QVERIFY2(seen.text.contains(QStringLiteral("URL")), qPrintable(seen.text));
    }
  }

  void addServerCancelledAddsNothingAndADuplicateOnlyWhenConfirmed() {
    QApplication::clipboard()->setText(QStringLiteral("http://127.0.0.1:1/same"));
    WhenModalOpens([](QWidget* modal) {
      auto* dialog = qobject_cast<CAddServerDlg*>(modal);
      dialog->UrlField()->setText(QStringLiteral("edited"));
      dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    });
    frame->AddServerAction()->trigger();
    QCOMPARE(List()->topLevelItemCount(), 0);

    // The first goes in at once; the same URL again asks, and No keeps the
    // dialog open for another address.
    WhenModalOpens([](QWidget* modal) {
      qobject_cast<CAddServerDlg*>(modal)->findChild<QPushButton*>(QStringLiteral("addServer"))->click();
    });
    frame->AddServerAction()->trigger();
    QCOMPARE(List()->topLevelItemCount(), 1);
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
      QStringList seen;
      bool stillOpen = false;
      WhenModalOpens([&seen, &stillOpen, answer](QWidget* modal) {
        auto* dialog = qobject_cast<CAddServerDlg*>(modal);
        AnswerBoxes({answer}, &seen);
        dialog->findChild<QPushButton*>(QStringLiteral("addServer"))->click();
        stillOpen = dialog->isVisible();
        if (stillOpen) {
          dialog->reject();
        }
      });
      frame->AddServerAction()->trigger();
      QCOMPARE(seen.size(), 1);
      QVERIFY(seen.front().contains(QStringLiteral("already in the server list")));
      QCOMPARE(stillOpen, answer == QMessageBox::No);
    }
    QCOMPARE(List()->topLevelItemCount(), 2);
    QCOMPARE(Cell(1, 0), QStringLiteral("http://127.0.0.1:1/same"));
    QVERIFY(View()->Store().StreamAt(0) != View()->Store().StreamAt(1));
    Doubleclick(1);
    QVERIFY(View()->Store().StreamAt(0)->IsStopped());
    QVERIFY(!View()->Store().StreamAt(1)->IsStopped());
    Doubleclick(1);
  }

  void saveServerListWritesTheFileAndSaysSo() {
    AddEntries({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"});
    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Ok, &seen);
    QTest::keySequence(frame.get(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(seen.title, QStringLiteral("Driftharbour"));
    QCOMPARE(seen.text, QStringLiteral("Serverlist saved!"));
    const std::string text = ReadFile(settingsPath);
    QVERIFY(text.find("Server_0=http://127.0.0.1:1/a\r\n") != std::string::npos);
    QVERIFY(text.find("Server_1=http://127.0.0.1:1/b\r\n") != std::string::npos);
  }

  void saveThatFailsSaysSo() {
    frame.reset();
    settingsPath = directory.filePath(QStringLiteral("missing/dir/Driftharbour.ini")).toStdString();
    frame = std::make_unique<CMainFrame>(settingsPath);
    BoxSeen seen;
    AnswerMessageBox(QMessageBox::Ok, &seen);
    frame->SaveServerListAction()->trigger();
    QCOMPARE(seen.text, QStringLiteral("Serverlist couldn\u00b4t be saved!"));
    QVERIFY(!std::filesystem::exists(settingsPath));
  }
};

QTEST_MAIN(EntryCommandsTest)
#include "EntryCommandsTest.moc"

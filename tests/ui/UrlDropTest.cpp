// Drops on the main window's server list, on the offscreen platform: URLs
// (text/uri-list) and plain text lines are added as Add Server would add
// them, a local playlist file stands for the streams it names, and what
// cannot be added is named in one message. Nothing is contacted.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include "AnswerBoxes.h"
#include "ViewFixture.h"
#include "stream/ServerStream.h"
#include "ui/CAddServerDlg.h"

class UrlDropTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(playlists.isValid());
    WritePlaylist(QStringLiteral("station.pls"),
                  "[playlist]\nFile1=http://127.0.0.1:1/a\nFile2=mms://127.0.0.1/old\nFile3=http://127.0.0.1:1/b\n");
    WritePlaylist(QStringLiteral("old.pls"), "[playlist]\nFile1=mms://127.0.0.1/old\n");
  }
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }

  void droppedUrlsAreAddedAsAddServerWould_data() {
    QTest::addColumn<bool>("asUriList");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("uri-list") << true << QStringList{"http://127.0.0.1:1/x", "https://127.0.0.1:1/y"}
                              << QStringList{"http://127.0.0.1:1/x", "https://127.0.0.1:1/y"};
    QTest::newRow("plain text lines") << false << QStringList{"  127.0.0.1:1/x \r", "", "http://127.0.0.1:1/y"}
                                      << QStringList{"http://127.0.0.1:1/x", "http://127.0.0.1:1/y"};
    QTest::newRow("a file among them") << true << QStringList{"file:///music/song.mp3", "http://127.0.0.1:1/x"}
                                       << QStringList{"http://127.0.0.1:1/x"};
    QTest::newRow("a local playlist") << true << QStringList{PlaylistUrl(QStringLiteral("station.pls"))}
                                      << QStringList{"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"};
    QTest::newRow("a playlist naming no stream") << true << QStringList{PlaylistUrl(QStringLiteral("old.pls"))}
                                                 << QStringList{};
  }
  void droppedUrlsAreAddedAsAddServerWould() {
    QFETCH(bool, asUriList);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, added);
    QMimeData data;
    if (asUriList) {
      QList<QUrl> urls;
      for (const QString& text : dropped) {
        urls.append(QUrl(text));
      }
      data.setUrls(urls);
    } else {
      data.setText(dropped.join(QLatin1Char('\n')));
    }
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    const bool refusal = added.size() < dropped.size() - dropped.count(QString());
    QStringList seen;
    if (refusal) {
      AnswerBoxes({QMessageBox::Ok}, &seen);
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(seen.size(), refusal ? 1 : 0);
    QTRY_COMPARE(List()->topLevelItemCount(), added.size());
    for (int row = 0; row < added.size(); ++row) {
      QCOMPARE(Cell(row, 0), added[row]);
      QVERIFY(View()->Store().StreamAt(row)->IsStopped());
    }
  }

  void aLocalPlaylistPastedIntoAddServerAddsTheStreamsItNames() {
    CAddServerDlg dialog(View());
    dialog.UrlField()->setText(playlists.filePath(QStringLiteral("station.pls")));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Urls(), (QStringList{"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"}));
  }

 private:
  void WritePlaylist(const QString& name, const char* text) {
    QFile file(playlists.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QString PlaylistUrl(const QString& name) const {
    return QUrl::fromLocalFile(playlists.filePath(name)).toString();
  }

  QTemporaryDir playlists;
};

QTEST_MAIN(UrlDropTest)
#include "UrlDropTest.moc"

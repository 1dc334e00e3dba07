// The main window's detail panel on the offscreen platform: it acts on
// nothing when nothing is selected, its switches and options change the
// selected entry (its presenter and its writer) at once while the entry is
// stopped and never while it runs, Browse keeps the chosen path exactly,
// and Tab runs from the list down the panel. Servers are 127.0.0.1 ports
// nobody listens on.

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <string>
#include <utility>

#include "ViewFixture.h"
#include "app/ServerRowPresenter.h"
#include "recording/RecordingOptions.h"
#include "recording/RecordingWriter.h"
#include "ui/DetailPanel.h"
#include "ui/FolderBrowser.h"

namespace {

// Answers the folder chooser for the user and counts the questions.
class ScriptedFolderBrowser : public FolderBrowser {
 public:
  ScriptedFolderBrowser(QString answer, int* asked, QString* title, QString* start)
      : answer(std::move(answer)), asked(asked), title(title), start(start) {}
  QString Browse(QWidget*, const QString& question, const QString& startingPoint) override {
    ++*asked;
    *title = question;
    *start = startingPoint;
    return answer;
  }

 private:
  QString answer;
  int* asked;
  QString* title;
  QString* start;
};

// One switch of the panel: its handler and where the entry keeps its state.
struct PanelSwitch {
  void (DetailPanel::*handler)();
  bool (*ofPresenter)(const ServerRowPresenter&);
  bool (*ofWriter)(const RecordingWriter&);
};

PanelSwitch SwitchFor(int control) {
  switch (control) {
    case CDriftharbourView::kFileSplitting:
      return {&DetailPanel::OnFileSplitting, [](const ServerRowPresenter& p) { return p.FileSplitting(); },
              [](const RecordingWriter& w) { return w.FileSplitting(); }};
    case CDriftharbourView::kSmartSplitting:
      return {&DetailPanel::OnSmartSplitting, [](const ServerRowPresenter& p) { return p.SmartSplitting(); },
              [](const RecordingWriter& w) { return w.SmartSplitting(); }};
    case CDriftharbourView::kCutAtSilence:
      return {&DetailPanel::OnCutAtSilence, [](const ServerRowPresenter& p) { return p.Options().cutAtSilence; },
              [](const RecordingWriter& w) { return w.Options().cutAtSilence; }};
    case CDriftharbourView::kTags:
      return {&DetailPanel::OnTags, [](const ServerRowPresenter& p) { return p.Options().tags; },
              [](const RecordingWriter& w) { return w.Options().tags; }};
    default:
      return {&DetailPanel::OnKeepPartialApart,
              [](const ServerRowPresenter& p) { return p.Options().keepPartialApart; },
              [](const RecordingWriter& w) { return w.Options().keepPartialApart; }};
  }
}

}  // namespace

class DetailPanelTest : public QObject, private ViewFixture {
  Q_OBJECT

 private slots:
  void init() {
    OpenWindow();
    browserAsked = 0;
    browserTitle.clear();
  }
  void cleanup() { CloseWindow(); }

  void commandsOnAnEmptyListDoNothing() {
    Doubleclick(0);
    QTest::keyClick(List(), Qt::Key_Delete);
    UseFolderBrowser(QStringLiteral("/somewhere"));
    Panel()->OnBrowse();
    Panel()->OnFileSplitting();
    Panel()->OnSmartSplitting();
    QCOMPARE(List()->topLevelItemCount(), 0);
    QCOMPARE(browserAsked, 0);
    for (const auto control : {CDriftharbourView::kBrowse, CDriftharbourView::kFileSplitting,
                               CDriftharbourView::kSmartSplitting, CDriftharbourView::kDirectoryField}) {
      QVERIFY(!View()->Control(control)->isEnabled());
    }
  }

  void aSwitchChangesTheEntryAtOnceOnlyWhileItIsStopped_data() {
    QTest::addColumn<int>("control");
    QTest::newRow("file splitting") << int(CDriftharbourView::kFileSplitting);
    QTest::newRow("smart splitting") << int(CDriftharbourView::kSmartSplitting);
    QTest::newRow("cut at silence") << int(CDriftharbourView::kCutAtSilence);
    QTest::newRow("write tags") << int(CDriftharbourView::kTags);
    QTest::newRow("keep partial songs apart") << int(CDriftharbourView::kKeepPartialApart);
  }
  void aSwitchChangesTheEntryAtOnceOnlyWhileItIsStopped() {
    QFETCH(int, control);
    const PanelSwitch panelSwitch = SwitchFor(control);
    AddEntries({"http://127.0.0.1:1/a"});
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    const bool before = panelSwitch.ofPresenter(*presenter);
    QVERIFY(View()->ServerListChanged());
    QVERIFY(View()->SaveServerListQuietly());
    QVERIFY(!View()->ServerListChanged());

    // Stopped: a click reaches the entry and its writer at once.
    Select(0);
    // On its box: the widget is wider than its text, and a click beside the
    // text does nothing.
    QTest::mouseClick(Switch(control), Qt::LeftButton, {}, QPoint(5, Switch(control)->height() / 2));
    QCOMPARE(panelSwitch.ofPresenter(*presenter), !before);
    QCOMPARE(panelSwitch.ofWriter(*presenter->Writer()), !before);
    QVERIFY(View()->ServerListChanged());

    // Running: the switch is locked, and a click that reaches the handler
    // anyway (the panel can be stale) changes nothing; the panel shows the
    // entry's state back.
    Doubleclick(0);
    QVERIFY(!Switch(control)->isEnabled());
    Switch(control)->setChecked(before);
    (Panel()->*panelSwitch.handler)();
    QCOMPARE(panelSwitch.ofPresenter(*presenter), !before);
    QCOMPARE(panelSwitch.ofWriter(*presenter->Writer()), !before);
    QCOMPARE(Switch(control)->isChecked(), !before);

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
  }

  void browseAsksNothingWhileTheEntryRuns() {
    AddEntries({"http://127.0.0.1:1/stream"});
    UseFolderBrowser(QStringLiteral("/somewhere/else"));
    ServerRowPresenter* presenter = View()->Store().RowAt(0);
    const std::string directory = presenter->DownloadDirectory();
    Doubleclick(0);
    QVERIFY(!View()->Control(CDriftharbourView::kBrowse)->isEnabled());

    // A click that reaches the handler anyway (the panel can be stale).
    Panel()->OnBrowse();
    QCOMPARE(browserAsked, 0);
    QCOMPARE(presenter->DownloadDirectory(), directory);

    Doubleclick(0);
    QTRY_COMPARE(Cell(0, 1), QStringLiteral("Disconnected"));
  }

  void browseTakesEffectAtOnceWhileDisconnected() {
    AddEntries({"http://127.0.0.1:1/a"});
    Select(0);
    ServerRowPresenter* presenter = View()->Store().RowAt(0);

    // The chosen path is kept exactly, trailing separator included, and the
    // writer records there from its next file on.
    UseFolderBrowser(QStringLiteral("/srv/radio/"));
    QTest::mouseClick(View()->Control(CDriftharbourView::kBrowse), Qt::LeftButton);
    QCOMPARE(browserAsked, 1);
    QCOMPARE(browserTitle, QStringLiteral("Please select your download directory!"));
    QCOMPARE(browserStart, QDir::currentPath());
    QCOMPARE(presenter->DownloadDirectory(), std::string("/srv/radio/"));
    QCOMPARE(presenter->Writer()->Directory(), std::string("/srv/radio/"));
    QCOMPARE(qobject_cast<QLineEdit*>(View()->Control(CDriftharbourView::kDirectoryField))->text(),
             QStringLiteral("/srv/radio/"));

    // Cancelling the chooser keeps the directory.
    UseFolderBrowser(QString());
    Panel()->OnBrowse();
    QCOMPARE(browserAsked, 2);
    // The chooser opens where the entry records now.
    QCOMPARE(browserStart, FolderBrowser::StartingPoint(QStringLiteral("/srv/radio/")));
    QCOMPARE(presenter->DownloadDirectory(), std::string("/srv/radio/"));
  }

  void theChooserOpensAtTheNearestDirectoryThatExists_data() {
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << "" << "<cwd>";
    QTest::newRow("relative") << "." << "<cwd>";
    QTest::newRow("existing") << "<tmp>/a" << "<tmp>/a";
    QTest::newRow("existing, slash") << "<tmp>/a/" << "<tmp>/a";
    QTest::newRow("not made yet") << "<tmp>/a/b/c" << "<tmp>/a";
    QTest::newRow("below a file") << "<tmp>/file/x" << "<tmp>";
  }
  void theChooserOpensAtTheNearestDirectoryThatExists() {
    QFETCH(QString, directory);
    QFETCH(QString, expected);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkdir(QStringLiteral("a")));
    QFile file(root.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    for (QString* text : {&directory, &expected}) {
      text->replace(QStringLiteral("<tmp>"), root.path()).replace(QStringLiteral("<cwd>"), QDir::currentPath());
    }
    QCOMPARE(FolderBrowser::StartingPoint(directory), expected);
  }

  void tabRunsFromTheListDownThePanel() {
    AddEntries({"http://127.0.0.1:1/a"});
    Select(0);
    List()->setFocus();
    const QList<QWidget*> expected = {
        View()->Control(CDriftharbourView::kDirectoryField), View()->Control(CDriftharbourView::kBrowse),
        View()->Control(CDriftharbourView::kFileSplitting),  View()->Control(CDriftharbourView::kSmartSplitting),
        View()->Control(CDriftharbourView::kCutAtSilence),   View()->Control(CDriftharbourView::kTags),
        View()->Control(CDriftharbourView::kKeepPartialApart)};
    QWidget* at = List();
    for (QWidget* next : expected) {
      at = at->nextInFocusChain();
      while (at->focusPolicy() == Qt::NoFocus || at->parentWidget() != View()) {
        at = at->nextInFocusChain();
      }
      QCOMPARE(at, next);
    }
  }

 private:
  DetailPanel* Panel() const { return View()->Panel(); }
  QCheckBox* Switch(int control) const { return qobject_cast<QCheckBox*>(View()->Control(control)); }
  void UseFolderBrowser(QString answer) {
    Panel()->SetFolderBrowserFactory([this, answer] {
      return std::make_unique<ScriptedFolderBrowser>(answer, &browserAsked, &browserTitle, &browserStart);
    });
  }

  int browserAsked = 0;
  QString browserTitle;
  QString browserStart;
};

QTEST_MAIN(DetailPanelTest)
#include "DetailPanelTest.moc"

// The installed tree: `cmake --install` of this build into a temporary
// prefix puts both programs in bin/, a launcher that desktop-file-validate
// accepts (which opens playlist files), the icon it names in every hicolor
// size and an AppStream description that appstreamcli accepts under
// share/, and both programs answer
// --help (the window --version too) without a graphical session, where the
// window otherwise says in one line that it needs one.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include "ProgramRun.h"

namespace {

using Outcome = ProgramOutcome;

// Runs program with arguments without any display.
Outcome Run(const QString& program, const QStringList& arguments) { return RunProgram(program, arguments); }

}  // namespace

class InstalledTreeTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(prefix.isValid());
    const Outcome install = Run(QStringLiteral(DRIFTHARBOUR_CMAKE_COMMAND),
                                {QStringLiteral("--install"), QStringLiteral(DRIFTHARBOUR_BUILD_DIR),
                                 QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(install.status == 0, qPrintable(install.out + install.err));
  }

  void bothProgramsAnswerWithoutADisplay_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expected");
    QTest::newRow("window --help") << "driftharbour" << "--help" << "usage: driftharbour [URL...]";
    QTest::newRow("window --version") << "driftharbour" << "--version" << "driftharbour 1.0\n";
    QTest::newRow("recorder --help") << "driftharbour-record" << "--help" << "usage: driftharbour-record";
  }
  void bothProgramsAnswerWithoutADisplay() {
    QFETCH(QString, program);
    QFETCH(QString, argument);
    QFETCH(QString, expected);
    const Outcome outcome = Run(Installed(QStringLiteral("bin/") + program), {argument});
    QCOMPARE(outcome.status, 0);
    QVERIFY2(outcome.out.startsWith(expected), qPrintable(outcome.out + outcome.err));
  }

  void theWindowWithoutADisplaySaysSoInOneLine() {
    const Outcome outcome = Run(Installed(QStringLiteral("bin/driftharbour")), {QStringLiteral("http://127.0.0.1:1/")});
    QCOMPARE(outcome.status, 1);
    QVERIFY(outcome.out.isEmpty());
    QCOMPARE(outcome.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(outcome.err.contains(QStringLiteral("graphical session")) &&
                 outcome.err.contains(QStringLiteral("driftharbour-record")),
             qPrintable(outcome.err));
  }

  void theLauncherValidatesAndItsIconIsThere() {
    const QString launcher = Installed(QStringLiteral("share/applications/driftharbour.desktop"));
    QVERIFY(QFile::exists(launcher));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    QVERIFY2(!validator.isEmpty(), "desktop-file-validate (desktop-file-utils) is missing");
    const Outcome validation = Run(validator, {launcher});
    QVERIFY2(validation.status == 0 && validation.out.isEmpty(), qPrintable(validation.out + validation.err));

    QFile file(launcher);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(QStringLiteral("\nExec=driftharbour %U\n")));
    QVERIFY(text.contains(QStringLiteral("\nIcon=driftharbour\n")));
    for (const char* type : {"audio/x-scpls;", "audio/x-mpegurl;", "application/xspf+xml;"}) {
      QVERIFY2(text.contains(QLatin1String(type)), type);
    }

    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QImage png(Installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/driftharbour.png").arg(size)));
      QCOMPARE(png.size(), QSize(size, size));
    }

    QFile icon(Installed(QStringLiteral("share/icons/hicolor/scalable/apps/driftharbour.svg")));
    QVERIFY(icon.open(QIODevice::ReadOnly));
    QXmlStreamReader svg(&icon);
    QVERIFY(svg.readNextStartElement());
    QCOMPARE(svg.name(), QStringLiteral("svg"));
    while (!svg.atEnd()) {
      svg.readNext();
    }
    QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));
  }

  void theAppStreamDescriptionValidates() {
    const QString metainfo = Installed(QStringLiteral("share/metainfo/driftharbour.metainfo.xml"));
    QVERIFY(QFile::exists(metainfo));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (validator.isEmpty()) {
      QSKIP("appstreamcli (package appstream) is missing here; scripts/setup.sh installs it");
    }
    const Outcome validation = Run(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
    QVERIFY2(validation.status == 0, qPrintable(validation.out + validation.err));
  }

 private:
  QString Installed(const QString& relative) const { return QDir(prefix.path()).filePath(relative); }

  QTemporaryDir prefix;
};

QTEST_APPLESS_MAIN(InstalledTreeTest)
#include "InstalledTreeTest.moc"

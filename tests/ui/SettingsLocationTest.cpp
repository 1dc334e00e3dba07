// Where the window keeps Driftharbour.ini: beside the executable while that
// directory is writable, else in the user's XDG configuration directory.

#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include <filesystem>
#include <string>

#include "app/SettingsLocation.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

class SettingsLocationTest : public QObject {
  Q_OBJECT

 private slots:
  void theFileStaysBesideAWritableProgramElseGoesToTheConfigDirectory_data() {
    QTest::addColumn<bool>("programDirectoryWritable");
    QTest::addColumn<QString>("xdgConfigHome");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    const QString beside = QStringLiteral("/opt/dh/bin/Driftharbour.ini");
    QTest::newRow("writable") << true << "/home/u/cfg" << "/home/u" << beside;
    QTest::newRow("read-only, XDG") << false << "/home/u/cfg" << "/home/u"
                                    << "/home/u/cfg/driftharbour/Driftharbour.ini";
    QTest::newRow("read-only, XDG with slash") << false << "/home/u/cfg/" << ""
                                               << "/home/u/cfg/driftharbour/Driftharbour.ini";
    QTest::newRow("read-only, HOME") << false << "" << "/home/u" << "/home/u/.config/driftharbour/Driftharbour.ini";
    QTest::newRow("read-only, relative XDG ignored") << false << "cfg" << "/home/u"
                                                     << "/home/u/.config/driftharbour/Driftharbour.ini";
    QTest::newRow("read-only, HOME is /") << false << "" << "/" << "/.config/driftharbour/Driftharbour.ini";
    QTest::newRow("read-only, nowhere else") << false << "" << "" << beside;
  }
  void theFileStaysBesideAWritableProgramElseGoesToTheConfigDirectory() {
    QFETCH(bool, programDirectoryWritable);
    QFETCH(QString, xdgConfigHome);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    std::string asked;
    const std::string path = SettingsLocation::PathFor(
        "/opt/dh/bin/driftharbour", {xdgConfigHome.toStdString(), home.toStdString()},
        [&](const std::string& directory) {
          asked = directory;
          return programDirectoryWritable;
        });
    QCOMPARE(QString::fromStdString(path), expected);
    QCOMPARE(asked, std::string("/opt/dh/bin/"));
  }

  void aReadOnlyProgramDirectoryOnDiskSendsTheFileToAPrivateConfigDirectory() {
    TempDir dir;
    const fs::path bin = dir.Path() / "bin";
    fs::create_directories(bin);
    const std::string program = (bin / "driftharbour").string();
    const SettingsLocation::Environment environment{(dir.Path() / "config").string(), "/nonexistent"};
    QCOMPARE(SettingsLocation::PathFor(program, environment), (bin / "Driftharbour.ini").string());

    chmod(bin.c_str(), 0555);
    if (geteuid() == 0) {
      chmod(bin.c_str(), 0755);
      QSKIP("root writes to a read-only directory anyway; the rows above cover the rule");
    }
    const std::string path = SettingsLocation::PathFor(program, environment);
    chmod(bin.c_str(), 0755);
    QCOMPARE(path, (dir.Path() / "config" / "driftharbour" / "Driftharbour.ini").string());
  }

  void theConfigDirectoryIsMadePrivateWhenMissing() {
    TempDir dir;
    const fs::path config = dir.Path() / "config" / "driftharbour";
    QVERIFY(SettingsLocation::PrepareDirectory((config / "Driftharbour.ini").string()));
    QVERIFY(fs::is_directory(config));
    QCOMPARE(fs::status(config).permissions(), fs::perms::owner_all);
    // Already there: nothing to do, and nothing changed.
    fs::permissions(config, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    QVERIFY(SettingsLocation::PrepareDirectory((config / "Driftharbour.ini").string()));
    QCOMPARE(fs::status(config).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    // Below a plain file it can never exist.
    WriteFileBytes(dir.Path() / "plain", "x");
    QVERIFY(!SettingsLocation::PrepareDirectory((dir.Path() / "plain" / "sub" / "Driftharbour.ini").string()));
  }
};

QTEST_APPLESS_MAIN(SettingsLocationTest)
#include "SettingsLocationTest.moc"

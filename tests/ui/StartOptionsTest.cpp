// The window program's command line, read before Qt starts: options nobody
// knows are refused (the program then prints the usage and ends with 2),
// Qt's own options and their values are left alone, and the display Qt
// would try is named so that it can be tried first.

#include <QtTest>

#include <map>
#include <string>
#include <vector>

#include "ui/StartOptions.h"

using Words = std::vector<std::string>;
Q_DECLARE_METATYPE(Words)

namespace {

StartOptions ParseWords(const Words& words) {
  std::vector<const char*> argv{"driftharbour"};
  for (const std::string& word : words) {
    argv.push_back(word.c_str());
  }
  return StartOptions::Parse(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

class StartOptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void unknownOptionsAreRefusedAndQtsAreLeftAlone_data() {
    QTest::addColumn<Words>("arguments");
    QTest::addColumn<QString>("unknown");
    QTest::addColumn<Words>("words");
    const std::string url = "http://127.0.0.1:1/a";
    QTest::newRow("a URL") << Words{url} << "" << Words{url};
    QTest::newRow("--bogus") << Words{"--bogus", url} << "--bogus" << Words{url};
    QTest::newRow("the first of two") << Words{"-q", "--z"} << "-q" << Words{};
    QTest::newRow("a flag with a value") << Words{"--help=1"} << "--help=1" << Words{};
    QTest::newRow("Qt's style and its value") << Words{"-style", "fusion", url} << "" << Words{url};
    QTest::newRow("Qt's platform, joined") << Words{"-platform=offscreen", url} << "" << Words{url};
    QTest::newRow("Qt's flag") << Words{"-reverse", url} << "" << Words{url};
    QTest::newRow("a lone dash is a word") << Words{"-"} << "" << Words{"-"};
    QTest::newRow("after --, dashes are words") << Words{"--", "-odd-name.pls"} << "" << Words{"-odd-name.pls"};
  }
  void unknownOptionsAreRefusedAndQtsAreLeftAlone() {
    QFETCH(Words, arguments);
    QFETCH(QString, unknown);
    QFETCH(Words, words);
    const StartOptions options = ParseWords(arguments);
    QCOMPARE(QString::fromStdString(options.unknown), unknown);
    QCOMPARE(options.words, words);
  }

  void theXDisplayIsTriedOnlyWhereQtWouldGo_data() {
    QTest::addColumn<Words>("arguments");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("tried");
    QTest::newRow("DISPLAY alone") << Words{} << ":99" << "" << "" << ":99";
    QTest::newRow("a Wayland session") << Words{} << ":99" << "wayland-0" << "" << "";
    QTest::newRow("xcb named") << Words{} << ":99" << "wayland-0" << "xcb" << ":99";
    QTest::newRow("offscreen named") << Words{} << ":99" << "" << "offscreen" << "";
    QTest::newRow("-platform given") << Words{"-platform", "offscreen"} << ":99" << "" << "" << "";
    QTest::newRow("-display given") << Words{"-display", ":7"} << ":99" << "" << "" << ":7";
    QTest::newRow("no display") << Words{} << "" << "" << "" << "";
  }
  void theXDisplayIsTriedOnlyWhereQtWouldGo() {
    QFETCH(Words, arguments);
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(QString, platform);
    QFETCH(QString, tried);
    const std::map<std::string, std::string> environment{{"DISPLAY", display.toStdString()},
                                                         {"WAYLAND_DISPLAY", wayland.toStdString()},
                                                         {"QT_QPA_PLATFORM", platform.toStdString()}};
    const StartOptions::Lookup lookup = [&environment](const char* name) -> const char* {
      const auto found = environment.find(name);
      return found == environment.end() || found->second.empty() ? nullptr : found->second.c_str();
    };
    QCOMPARE(QString::fromStdString(ParseWords(arguments).XDisplayToTry(lookup)), tried);
  }
};

QTEST_APPLESS_MAIN(StartOptionsTest)
#include "StartOptionsTest.moc"

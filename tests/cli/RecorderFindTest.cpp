// The recorder's --find against the loopback directory: the table it
// prints, the options it refuses, and a station found by name and recorded
// end to end without its URL ever being typed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/RecorderOptions.h"
#include "cli/StationFinder.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/FakeDirectory.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"
#include "text/ByteText.h"

namespace {

TEST(RecorderFindTest, SearchOptionsAreCheckedBeforeAnythingIsAsked) {
  const struct {
    std::vector<std::string> arguments;
    const char* error;  // "" when accepted
  } rows[] = {
      {{"--find", "jazz", "--tag", "smooth", "--country", "FR", "--codec", "AAC", "--limit", "5"}, ""},
      {{"--find", "jazz", "--pick", "3", "--dir", "/tmp", "--directory", "127.0.0.1:8080"}, ""},
      {{"--find", "  "}, "--find needs a text"},
      {{"--tag", "jazz", "http://a/"}, "--tag needs --find"},
      {{"--pick", "1", "http://a/"}, "--pick needs --find"},
      {{"--find", "jazz", "http://a/"}, "either --find or URLs"},
      {{"--find", "jazz", "--pick", "0"}, "--pick takes a number from 1"},
      {{"--find", "jazz", "--limit", "100000"}, "--limit takes a number from 1 to 500"},
      {{"--find", "jazz", "--directory", "ftp://x/"}, "--directory"},
  };
  for (const auto& row : rows) {
    const RecorderArguments parsed = ParseRecorderArguments(row.arguments);
    EXPECT_NE(parsed.error.find(row.error), std::string::npos) << row.arguments[0] << ": " << parsed.error;
    if (std::string(row.error).empty()) {
      EXPECT_EQ(parsed.error, "") << row.arguments[0];
    }
  }
  const RecorderOptions picked = ParseRecorderArguments({"--find", "jazz", "--pick", "30"}).options;
  EXPECT_EQ(picked.query.limit, 30) << "the K-th station must be among those asked for";
  EXPECT_EQ(ParseRecorderArguments({"--find", "x", "--directory", "127.0.0.1:8080"}).options.directoryUrl,
            "http://127.0.0.1:8080");
}

TEST(RecorderFindTest, TableEscapesControlsAndCutsLongNames) {
  DirectoryStation station;
  station.name = "Evil\x1b[2J Radio with a name far too long for its column";
  station.url = "http://a/\x07";
  station.codec = "MP3";
  station.bitrate = 128;
  station.countryCode = "DE";
  station.votes = 7;
  const std::vector<std::string> table = StationFinder::Table({station, station});
  ASSERT_EQ(table.size(), 3u);
  for (const std::string& line : table) {
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    EXPECT_EQ(line.find('\x07'), std::string::npos) << line;
  }
  EXPECT_EQ(table[1].rfind(" 1  Evil\\x1b[2J Radio", 0), 0u) << table[1];
  EXPECT_NE(table[1].find("\u2026  MP3       128  DE            7  http://a/\\x07"), std::string::npos) << table[1];
  // Every row lines up under the header.
  EXPECT_EQ(ByteText::Utf8Length(table[1].substr(0, table[1].find("http"))),
            ByteText::Utf8Length(table[0].substr(0, table[0].find("URL"))));
}

// The real recorder, with the directory's cache in a temporary directory.
class RecorderFindRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No thread reads the environment while the tests run.
    setenv("XDG_CACHE_HOME", home.Path().c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  }

  // Runs the recorder to its end (a SIGTERM once stopWhen holds, when
  // given); its standard output and error go to output and errors. Returns
  // the exit status, or -1 when it hung.
  int Run(std::vector<std::string> arguments, const std::function<bool()>& stopWhen = {}) {
    arguments.insert(arguments.begin(), DRIFTHARBOUR_RECORD_PATH);
    const std::string errorFile = home.File("errors");
    const int errorFd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t child = SpawnChild(arguments, home.File("output"), errorFd);
    close(errorFd);
    if (child < 0) {
      return -1;
    }
    int status = 0;
    if (stopWhen && Eventually(stopWhen)) {
      kill(child, SIGTERM);
    }
    if (!Eventually([&] { return waitpid(child, &status, WNOHANG) == child; })) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    output = ReadFileBytes(home.File("output"));
    errors = ReadFileBytes(errorFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TempDir home;
  FakeDirectory directory;
  std::string output;
  std::string errors;
};

TEST_F(RecorderFindRunTest, FindListsTheMatchesAndCountsNoClick) {
  directory.ServeStations({{"uuid-1", "Jazz FM", "http://127.0.0.1:9/jazz"}, {"uuid-2", "Blues", "http://b/"}});
  EXPECT_EQ(Run({"--find", "jazz", "--directory", directory.Url()}), 0) << errors;
  EXPECT_NE(output.find(" 1  Jazz FM"), std::string::npos) << output;
  EXPECT_NE(output.find("http://127.0.0.1:9/jazz"), std::string::npos) << output;
  EXPECT_NE(output.find(" 2  Blues"), std::string::npos) << output;
  EXPECT_EQ(directory.Clicks("uuid-1"), 0u);

  directory.ServeStations({});
  EXPECT_EQ(Run({"--find", "nothing", "--directory", directory.Url()}), 1);
  EXPECT_NE(errors.find("no station found for \"nothing\""), std::string::npos) << errors;

  RefusingPort offline;
  EXPECT_EQ(Run({"--find", "jazz", "--directory", offline.Url()}), 1);
  EXPECT_NE(errors.find("the station directory could not be reached: "), std::string::npos) << errors;
}

TEST_F(RecorderFindRunTest, PickRecordsTheStationUnderItsDirectoryName) {
  IcyTestServer station;  // no icy-name: the directory names it
  const std::string audio = TestBytes(4000);
  station.Push({"ICY 200 OK\r\ncontent-type:audio/mpeg\r\n\r\n", audio, IcyResponse::kEverything, true});
  directory.ServeStations({{"uuid-other", "Other", "http://127.0.0.1:9/"},
                           {"uuid-harbour", "Harbour Jazz", station.Url("/live")}});
  const std::filesystem::path recordings = home.Path() / "recordings";

  const std::filesystem::path file = recordings / "Harbour Jazz.mp3";
  EXPECT_EQ(Run({"--find", "jazz", "--pick", "2", "--directory", directory.Url(), "--dir", recordings.string()},
                [&] { return ReadFileBytes(file).size() == audio.size(); }),
            0)
      << output << errors;
  EXPECT_EQ(ReadFileBytes(file), audio) << output << errors;
  EXPECT_EQ(directory.Clicks("uuid-harbour"), 1u);
  EXPECT_EQ(directory.Clicks("uuid-other"), 0u);

  EXPECT_EQ(Run({"--find", "jazz", "--pick", "3", "--directory", directory.Url()}), 1);
  EXPECT_NE(errors.find("only 2 stations found"), std::string::npos) << errors;
}

}  // namespace

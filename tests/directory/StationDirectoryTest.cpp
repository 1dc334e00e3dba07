// The directory client against the loopback fake: what a search sends,
// falling back from server to server, the hour's cache and the day's server
// list, the click counted only when asked, the one error for every failure,
// and the window's worker where the newest search wins.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "directory/DirectoryWorker.h"
#include "directory/StationDirectory.h"
#include "support/Eventually.h"
#include "support/FakeDirectory.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

const FakeStation kJazz{"uuid-jazz", "Jazz FM", "http://127.0.0.1:9/jazz", "AAC", 96, "FR", "jazz", 70, 900};
const FakeStation kBlues{"uuid-blues", "Blues Radio", "http://127.0.0.1:9/blues"};

class StationDirectoryTest : public ::testing::Test {
 protected:
  StationDirectory::Settings Settings(const std::string& directoryUrl = {}) {
    StationDirectory::Settings settings;
    settings.directoryUrl = directoryUrl;
    settings.serverListUrl = bootstrap.Url();
    settings.cacheDirectory = cacheDir.Path() / "cache";
    settings.now = [this] { return StationDirectory::Clock::time_point(std::chrono::seconds(clockSeconds.load())); };
    settings.seed = 1;
    settings.stallSeconds = 1;
    return settings;
  }
  void AdvanceClock(std::chrono::seconds by) { clockSeconds += by.count(); }

  // Expects a search to fail with the one message and reason in it.
  void ExpectUnreachable(StationDirectory& directory, const std::string& reason) {
    try {
      directory.Search({.name = "x"});
      ADD_FAILURE() << "no error; expected " << reason;
    } catch (const DirectoryError& error) {
      const std::string text = error.what();
      EXPECT_EQ(text.rfind(StationDirectory::kUnreachable, 0), 0u) << text;
      EXPECT_NE(text.find(reason), std::string::npos) << text;
    }
  }

  TempDir cacheDir;
  FakeDirectory bootstrap;  // all.api: the server list
  std::atomic<int64_t> clockSeconds{1'700'000'000};
};

TEST_F(StationDirectoryTest, SearchSendsItsTextsFiltersAndUserAgentAndCountsNoClick) {
  FakeDirectory server;
  server.ServeStations({kJazz, kBlues});
  StationDirectory directory(Settings(server.Url() + "/"));
  const auto stations =
      directory.Search({.name = "Jazz & Blues", .tag = "smooth jazz", .countryCode = "FR", .codec = "AAC", .limit = 5});

  ASSERT_EQ(stations.size(), 2u);
  EXPECT_EQ(stations[0].name, "Jazz FM");
  EXPECT_EQ(stations[0].url, kJazz.url);
  EXPECT_EQ(stations[0].bitrate, 96);
  EXPECT_EQ(stations[0].votes, 70);
  EXPECT_EQ(stations[0].clickCount, 900);
  EXPECT_EQ(server.SearchTarget(),
            "/json/stations/search?name=Jazz%20%26%20Blues&tag=smooth%20jazz&countrycode=FR&codec=AAC"
            "&limit=5&offset=0&hidebroken=true&order=clickcount&reverse=true");
  EXPECT_NE(server.SearchRequest().find("User-Agent: " + StationDirectory::UserAgent() + "\r\n"), std::string::npos)
      << server.SearchRequest();
  EXPECT_EQ(StationDirectory::UserAgent().rfind("Driftharbour/", 0), 0u);
  EXPECT_EQ(server.Clicks(kJazz.uuid) + server.Clicks(kBlues.uuid), 0u);
  EXPECT_EQ(bootstrap.ServerLists(), 0u) << "a directory URL replaces the server list";

  directory.CountClick(kJazz.uuid);
  EXPECT_EQ(server.Clicks(kJazz.uuid), 1u);
  EXPECT_EQ(server.Clicks(kBlues.uuid), 0u);
}

TEST_F(StationDirectoryTest, EveryStartingServerFallsBackToOneThatAnswers) {
  RefusingPort refusing;
  FakeDirectory busy;
  busy.ServeSearch(FakeDirectory::Unavailable());
  FakeDirectory notJson;
  notJson.ServeSearch(FakeDirectory::JsonAnswer("<html>maintenance</html>"));
  FakeDirectory good;
  good.ServeStations({kJazz});
  bootstrap.ServeServers({"127.0.0.1:" + std::to_string(refusing.Port()), busy.HostName(), notJson.HostName(),
                          good.HostName()});
  for (uint32_t seed = 0; seed < 8; ++seed) {
    StationDirectory::Settings settings = Settings();
    settings.cacheDirectory.clear();
    settings.seed = seed;
    StationDirectory directory(settings);
    ASSERT_EQ(directory.Search({.name = "jazz"}).size(), 1u) << "seed " << seed;
    // The server that answered is asked first from now on.
    EXPECT_EQ(directory.ServerOrder().front(), good.Url()) << "seed " << seed;
  }
  const size_t asked = good.Searches();
  EXPECT_EQ(asked, 8u);
}

TEST_F(StationDirectoryTest, AnswersAreKeptForAnHourAndTheServerListForADay) {
  bootstrap.ServeStations({kJazz});
  {
    StationDirectory directory(Settings());
    directory.Search({.name = "jazz"});
    directory.Search({.name = "jazz"});
    EXPECT_EQ(bootstrap.Searches(), 1u);
    directory.Search({.name = "blues"});
    EXPECT_EQ(bootstrap.Searches(), 2u);
  }
  // Another process (the recorder after the window) finds both on disk.
  StationDirectory later(Settings());
  EXPECT_EQ(later.Search({.name = "jazz"}).at(0).name, "Jazz FM");
  EXPECT_EQ(bootstrap.Searches(), 2u);
  EXPECT_EQ(bootstrap.ServerLists(), 1u);

  AdvanceClock(61min);
  later.Search({.name = "jazz"});
  EXPECT_EQ(bootstrap.Searches(), 3u);
  EXPECT_EQ(bootstrap.ServerLists(), 1u);

  AdvanceClock(24h);
  later.Search({.name = "jazz"});
  EXPECT_EQ(bootstrap.ServerLists(), 2u);
}

TEST_F(StationDirectoryTest, AnUnreachableServerListLeavesTheListsOwnHost) {
  bootstrap.Server().Route("/json/servers", FakeDirectory::Unavailable());
  bootstrap.ServeStations({kBlues});
  StationDirectory directory(Settings());
  EXPECT_EQ(directory.Search({.name = "blues"}).size(), 1u);
  EXPECT_EQ(directory.ServerOrder(), std::vector<std::string>{bootstrap.Url()});
}

TEST_F(StationDirectoryTest, EveryFailureIsTheOneMessageWithItsReason) {
  const struct {
    const char* what;
    IcyResponse answer;
    const char* reason;
  } rows[] = {
      {"busy", FakeDirectory::Unavailable(), "503"},
      {"not JSON", FakeDirectory::JsonAnswer("Service temporarily down"), "not JSON"},
      {"huge", FakeDirectory::JsonAnswer("[" + std::string(StationDirectory::kMaxAnswerBytes, ' ') + "]"),
       "larger than 4 MiB"},
      {"stalled", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", "[{", IcyResponse::kEverything, true}, "stalled"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeDirectory server;
    server.ServeSearch(row.answer);
    StationDirectory directory(Settings(server.Url()));
    ExpectUnreachable(directory, row.reason);
  }
  RefusingPort nobody;
  StationDirectory offline(Settings(nobody.Url()));
  ExpectUnreachable(offline, "refused");
}

TEST_F(StationDirectoryTest, ASlowButSteadyAnswerIsReadWhole) {
  FakeDirectory server;
  IcyResponse slow = FakeDirectory::JsonAnswer(FakeDirectory::StationsJson({kJazz, kBlues}));
  slow.pieceSize = 200;
  slow.pieceDelay = 20ms;
  server.ServeSearch(slow);
  StationDirectory directory(Settings(server.Url()));
  EXPECT_EQ(directory.Search({.name = "x"}).size(), 2u);
}

TEST_F(StationDirectoryTest, WorkerReportsOnlyTheNewestSearchAndCountsClicks) {
  FakeDirectory server;
  server.ServeStations({kJazz});
  std::mutex mutex;
  std::vector<uint64_t> reported;
  std::string lastError;
  DirectoryWorker worker(Settings(server.Url()), [&](uint64_t id, std::vector<DirectoryStation>, std::string error) {
    std::lock_guard<std::mutex> lock(mutex);
    reported.push_back(id);
    lastError = error;
  });
  // The first search hangs on a stalled answer until the second one calls
  // it off.
  server.ServeSearch({"HTTP/1.1 200 OK\r\n\r\n", "[", IcyResponse::kEverything, true});
  worker.Search({.name = "ja"});
  ASSERT_TRUE(Eventually([&] { return server.Searches() == 1; }));
  server.ServeStations({kJazz});
  const uint64_t newest = worker.Search({.name = "jazz"});
  worker.CountClicks({kJazz.uuid});
  ASSERT_TRUE(Eventually([&] { return server.Clicks(kJazz.uuid) == 1; }));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(reported, std::vector<uint64_t>{newest});
  EXPECT_EQ(lastError, "");
}

TEST_F(StationDirectoryTest, WorkerStopsPromptlyWithATransferHanging) {
  FakeDirectory server;
  server.ServeSearch({"HTTP/1.1 200 OK\r\n\r\n", "[", IcyResponse::kEverything, true});
  StationDirectory::Settings settings = Settings(server.Url());
  settings.stallSeconds = 600;
  auto worker = std::make_unique<DirectoryWorker>(settings, [](uint64_t, auto, auto) {});
  worker->Search({.name = "x"});
  ASSERT_TRUE(Eventually([&] { return server.Searches() == 1; }));
  EXPECT_TRUE(ReturnsWithin([&] { worker.reset(); }));
}

}  // namespace

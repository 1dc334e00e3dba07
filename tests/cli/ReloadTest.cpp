// Reading the server list again while it records: what stays, what stops,
// what restarts, and that what stays loses no byte.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/ReloadPlan.h"
#include "cli/EntryIds.h"
#include "cli/RecorderMetrics.h"
#include "cli/SettingsRecorder.h"
#include "stream/ServerStream.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using StoredServer = SettingsStore::StoredServer;

StoredServer Server(const std::string& url, const std::string& directory = "d") {
  StoredServer server;
  server.url = url;
  server.directory = directory;
  return server;
}

// "unchanged 1>0; changed 2>1; removed 0; added 2", for readable tables.
std::string Describe(const ReloadPlan& plan) {
  std::string text;
  const auto pairs = [&](const char* name, const std::vector<ReloadPlan::Pair>& list) {
    text += name;
    for (const auto& pair : list) {
      text += " " + std::to_string(pair.running) + ">" + std::to_string(pair.wanted);
    }
  };
  const auto indexes = [&](const char* name, const std::vector<size_t>& list) {
    text += name;
    for (const size_t i : list) {
      text += " " + std::to_string(i);
    }
  };
  pairs("unchanged", plan.unchanged);
  pairs("; changed", plan.changed);
  indexes("; removed", plan.removed);
  indexes("; added", plan.added);
  return text;
}

TEST(ReloadTest, EntriesPairUpByWhatTheyRecordNotByTheirNumber) {
  StoredServer tagged = Server("b");
  tagged.options.tags = true;
  StoredServer otherBuffer = Server("b");
  otherBuffer.readSize = 8192;
  otherBuffer.syncIntervalSeconds = 0;
  StoredServer unsplit = Server("b");
  unsplit.fileSplitting = false;
  struct Row {
    const char* what;
    std::vector<StoredServer> running;
    std::vector<StoredServer> wanted;
    const char* plan;
  };
  const std::vector<Row> rows = {
      {"the same list", {Server("a"), Server("b")}, {Server("a"), Server("b")}, "unchanged 0>0 1>1; changed; removed; added"},
      {"the first entry removed", {Server("a"), Server("b"), Server("c")}, {Server("b"), Server("c")},
       "unchanged 1>0 2>1; changed; removed 0; added"},
      {"reordered", {Server("a"), Server("b")}, {Server("b"), Server("a")}, "unchanged 1>0 0>1; changed; removed; added"},
      {"another directory", {Server("a"), Server("b")}, {Server("a"), Server("b", "e")},
       "unchanged 0>0; changed 1>1; removed; added"},
      {"tags turned on", {Server("b")}, {tagged}, "unchanged; changed 0>0; removed; added"},
      {"File Splitting off", {Server("b")}, {unsplit}, "unchanged; changed 0>0; removed; added"},
      {"read size and sync interval", {Server("b")}, {otherBuffer}, "unchanged 0>0; changed; removed; added"},
      {"another URL", {Server("a")}, {Server("z")}, "unchanged; changed; removed 0; added 0"},
      {"one URL twice", {Server("a", "1"), Server("a", "2")}, {Server("a", "2"), Server("a", "3")},
       "unchanged 1>0; changed 0>1; removed; added"},
      {"an empty list", {Server("a"), Server("b")}, {}, "unchanged; changed; removed 0 1; added"},
      {"from nothing", {}, {Server("a")}, "unchanged; changed; removed; added 0"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Describe(ReloadPlan::Between(row.running, row.wanted)), row.plan) << row.what;
  }
}

std::string Ini(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text = "[Server]\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    text += "Server_" + std::to_string(i) + "=" + entries[i].first + "\n";
    text += "Download_" + std::to_string(i) + "=" + entries[i].second + "\n";
  }
  return text;
}

size_t RequestsFor(const IcyTestServer& server, const std::string& path) {
  size_t count = 0;
  for (const auto& request : server.Requests()) {
    count += request.rfind("GET " + path + " ", 0) == 0 ? 1 : 0;
  }
  return count;
}

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const auto& line : lines) {
    if (line == wanted) {
      return true;
    }
  }
  return false;
}

TEST(ReloadTest, UnchangedEntryRecordsOnByteForByteWhileTheOthersStopRestartAndStart) {
  IcyTestServer server;
  const std::string audio = TestBytes(40000);
  // Paced over more than a second and then held open, so that the reload
  // falls into the middle of every recording and nothing reconnects.
  IcyResponse response{"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Tune"}}),
                       IcyResponse::kEverything, true};
  response.pieceSize = 1000;
  response.pieceDelay = 40ms;
  server.Push(response);
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  WriteFileBytes(file, Ini({{server.Url("/gone"), dir.File("gone")},
                            {server.Url("/keep"), dir.File("keep")},
                            {server.Url("/change"), dir.File("change-a")}}));

  SettingsRecorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  recorder.StartAll();
  const std::string kept = dir.File("keep/Tune.mp3");
  ASSERT_TRUE(Eventually([&] {
    return !ReadFileBytes(kept).empty() && !ReadFileBytes(dir.File("gone/Tune.mp3")).empty() &&
           !ReadFileBytes(dir.File("change-a/Tune.mp3")).empty();
  }));
  const ServerStream* keptStream = recorder.Streams().at(1).second;

  WriteFileBytes(file, Ini({{server.Url("/keep"), dir.File("keep")},
                            {server.Url("/change"), dir.File("change-b")},
                            {server.Url("/new"), dir.File("new")}}));
  const auto result = recorder.Reload();
  ASSERT_TRUE(result.read);
  EXPECT_EQ(result.unchanged, 1u);
  EXPECT_EQ(result.restarted, 1u);
  EXPECT_EQ(result.stopped, 1u);
  EXPECT_EQ(result.added, 1u);
  ASSERT_LT(ReadFileBytes(kept).size(), audio.size()) << "the reload came after the recording: the test proves nothing";
  EXPECT_EQ(recorder.StartWaiting(10), 0u);

  // The kept entry is the same stream, still running, now numbered 1.
  const auto streams = recorder.Streams();
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_EQ(streams[0].first, 1);
  EXPECT_EQ(streams[0].second, keptStream);
  EXPECT_FALSE(keptStream->IsStopped());

  for (const char* path : {"keep/Tune.mp3", "change-b/Tune.mp3", "new/Tune.mp3"}) {
    EXPECT_TRUE(Eventually([&] { return ReadFileBytes(dir.File(path)).size() >= audio.size(); })) << path;
  }
  recorder.StopAll();
  const auto lines = recorder.TakeLines();

  EXPECT_TRUE(ReadFileBytes(kept) == audio) << "the kept recording lost or doubled bytes";
  EXPECT_EQ(RequestsFor(server, "/keep"), 1u);
  EXPECT_EQ(RequestsFor(server, "/change"), 2u);
  EXPECT_EQ(RequestsFor(server, "/new"), 1u);
  EXPECT_EQ(RequestsFor(server, "/gone"), 1u);
  // What stopped was closed as a stop closes it: everything received so far.
  for (const char* path : {"gone/Tune.mp3", "change-a/Tune.mp3"}) {
    const std::string recorded = ReadFileBytes(dir.File(path));
    EXPECT_FALSE(recorded.empty()) << path;
    EXPECT_TRUE(recorded == audio.substr(0, recorded.size())) << path;
  }
  EXPECT_TRUE(ReadFileBytes(dir.File("change-b/Tune.mp3")) == audio);
  const auto label = [&](const std::string& path, const char* directory) {
    return "[" + EntryIds::Of(server.Url(path), dir.File(directory)) + "] " + server.Url(path);
  };
  EXPECT_TRUE(Contains(lines, label("/gone", "gone") + ": Disconnected"));
  EXPECT_TRUE(Contains(lines, label("/new", "new") + ": Connected"));
}

TEST(ReloadTest, AnUnreadableFileChangesNothing) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  WriteFileBytes(file, Ini({{"http://127.0.0.1:9/a", dir.File("a")}}));
  SettingsRecorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  const auto before = recorder.Streams();
  std::filesystem::remove(file);
  EXPECT_FALSE(recorder.Reload().read);
  EXPECT_EQ(recorder.Streams(), before);
}

// The entry label of every URL on the metrics page.
std::map<std::string, std::string> LabelsByUrl(const RecorderMetrics& metrics) {
  std::map<std::string, std::string> labels;
  const auto families = metrics.Collect();
  for (const auto& metric : families.front().metric) {
    labels[metric.label.at(1).value] = metric.label.at(0).value;  // {entry, url}
  }
  return labels;
}

TEST(ReloadTest, ARenumberedEntryKeepsItsMetricsLabelAndConsolePrefix) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string a = "http://127.0.0.1:9/a", b = "http://127.0.0.1:9/b", rec = dir.File("rec");
  WriteFileBytes(file, Ini({{a, rec}, {b, rec}}));
  RecorderMetrics metrics;
  SettingsRecorder recorder;
  recorder.SetMetrics(&metrics);
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  const auto labels = LabelsByUrl(metrics);
  EXPECT_EQ(labels.at(a), EntryIds::Of(a, rec));
  // A new entry above both, then the first one gone: a is 1, then 2, then 1.
  for (const std::vector<std::pair<std::string, std::string>>& list :
       {std::vector<std::pair<std::string, std::string>>{{"http://127.0.0.1:9/new", rec}, {a, rec}, {b, rec}},
        {{b, rec}, {a, rec}},
        {{a, rec}, {a, rec}}}) {  // one URL twice into one directory: told apart
    WriteFileBytes(file, Ini(list));
    ASSERT_TRUE(recorder.Reload().read);
    const auto after = LabelsByUrl(metrics);
    const auto ids = recorder.Ids();
    const auto lines = recorder.ProgressLines();
    ASSERT_EQ(ids.size(), list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("[" + ids[i] + "] ", 0), 0u) << lines[i];
      if (labels.count(list[i].first) == 0) {
        continue;  // the new one
      }
      const bool twin = i == 1 && list[0] == list[1];
      EXPECT_EQ(ids[i], labels.at(list[i].first) + (twin ? "-2" : "")) << i;
      if (list[0] != list[1]) {
        EXPECT_EQ(after.at(list[i].first), ids[i]);  // the metrics page names it alike
      }
    }
  }
  recorder.StopAll();
}

TEST(ReloadTest, AnIdTakenTwiceGetsASuffixUntilReleased) {
  EXPECT_NE(EntryIds::Of("ab", "c"), EntryIds::Of("a", "bc"));
  EntryIds ids;
  const std::string base = EntryIds::Of("u", "d");
  for (const auto& [take, id] : std::vector<std::pair<bool, std::string>>{
           {true, base}, {true, base + "-2"}, {true, base + "-3"}, {false, base}, {true, base}}) {
    if (take) {
      EXPECT_EQ(ids.Take("u", "d"), id);
    } else {
      ids.Release(id);
    }
  }
}

}  // namespace

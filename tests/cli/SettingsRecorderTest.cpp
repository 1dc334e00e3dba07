#include "cli/SettingsRecorder.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "recording/RecordingWriter.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"
#include "app/ServerRowPresenter.h"

namespace {

using namespace std::chrono_literals;

struct CurlEnvironment : ::testing::Environment {
  void SetUp() override { curl_global_init(CURL_GLOBAL_DEFAULT); }
  void TearDown() override { curl_global_cleanup(); }
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const auto& line : lines) {
    if (line == wanted) {
      return true;
    }
  }
  return false;
}

TEST(SettingsRecorderTest, EveryEntryRecordsWithItsOwnDirectoryAndSwitchesAndTheFileStaysUntouched) {
  IcyTestServer server;
  const std::string audio = TestBytes(30000);
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Tune"}}),
               IcyResponse::kEverything, true});
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string text = "// hand-written\n[Default]\nDownloadDirectory=" + dir.File("default") +
                           "\n[Server]\nServer_0=" + server.Url("/a") + "\nServer_1=" + server.Url("/b") +
                           "\nDownload_1=" + dir.File("b") + "\nFileSplitting_1=0\nSmartSplitting_0=0\n";
  WriteFileBytes(file, text);

  SettingsRecorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  ASSERT_EQ(recorder.EntryCount(), 2);
  const RecordingWriter* first = recorder.Store().RowAt(0)->Writer();
  const RecordingWriter* second = recorder.Store().RowAt(1)->Writer();
  EXPECT_EQ(first->Directory(), dir.File("default"));
  EXPECT_TRUE(first->FileSplitting());
  EXPECT_FALSE(first->SmartSplitting());
  EXPECT_EQ(second->Directory(), dir.File("b"));
  EXPECT_FALSE(second->FileSplitting());
  EXPECT_TRUE(second->SmartSplitting());

  recorder.StartAll();
  const std::string firstFile = dir.File("default/Tune.mp3");
  const std::string secondFile = dir.File("b/Tune.mp3");
  std::vector<std::string> lines;
  EXPECT_TRUE(Eventually([&] {
    const auto taken = recorder.TakeLines();
    lines.insert(lines.end(), taken.begin(), taken.end());
    return ReadFileBytes(firstFile).size() >= audio.size() && ReadFileBytes(secondFile).size() >= audio.size();
  }));
  recorder.StopAll();
  const auto taken = recorder.TakeLines();
  lines.insert(lines.end(), taken.begin(), taken.end());

  // The same lines as in URL mode.
  const auto ids = recorder.Ids();
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_TRUE(Contains(lines, "[" + ids[0] + "] " + server.Url("/a") + ": Connected"));
  EXPECT_TRUE(Contains(lines, "[" + ids[1] + "] " + server.Url("/b") + ": title \"Tune\""));
  for (const auto& path : {firstFile, secondFile}) {
    const std::string recorded = ReadFileBytes(path);
    EXPECT_TRUE(recorded == audio) << path << " is not the stream's audio";
  }
  EXPECT_EQ(ReadFileBytes(file), text);
}

}  // namespace

#include "cli/SettingsRecorder.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/ConsoleListControl.h"
#include "recording/RecordingWriter.h"
#include "support/TempDir.h"
#include "ui/ServerRowPresenter.h"

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

TEST(ConsoleListControlTest, OnlyChangedStatesTitlesAndNamesBecomeLines) {
  ConsoleListControl list;
  ServerRowPresenter presenter;
  ASSERT_TRUE(presenter.Attach(&list, "http://x/"));
  // The first write of the row announces the initial state once.
  EXPECT_EQ(list.TakeLines(), std::vector<std::string>{"[1] http://x/: State: Disconnected"});

  presenter.OnText(StreamEvent::State, "Connecting");
  presenter.OnText(StreamEvent::Name, "Radio");
  presenter.OnText(StreamEvent::Received, "1234567");
  presenter.OnText(StreamEvent::Title, "Song");
  presenter.OnText(StreamEvent::Title, "Song");
  presenter.OnText(StreamEvent::Title, "");
  EXPECT_EQ(list.TakeLines(), (std::vector<std::string>{"[1] http://x/: State: Connecting",
                                                        "[1] http://x/: Stream Title: Radio",
                                                        "[1] http://x/: Current Title: Song"}));
  EXPECT_EQ(list.ProgressLines(), std::vector<std::string>{"[1] Connecting: 1,234 MBytes / 0 Bytes in all"});

  list.SetCellText(7, 1, "nowhere");
  list.SetCellText(0, 9, "nowhere");
  EXPECT_EQ(list.InsertRow(5, "gap"), -1);
  EXPECT_TRUE(list.TakeLines().empty());
}

TEST(ConsoleListControlTest, FloodKeepsTheNewestLinesAndCountsTheRest) {
  ConsoleListControl list;
  ASSERT_EQ(list.InsertRow(0, "u"), 0);
  for (size_t i = 0; i < ConsoleListControl::kMaxQueuedLines + 5; ++i) {
    list.SetCellText(0, ServerRowPresenter::kStateColumn, std::to_string(i));
  }
  const auto lines = list.TakeLines();
  ASSERT_EQ(lines.size(), ConsoleListControl::kMaxQueuedLines + 1);
  EXPECT_EQ(lines.front(), "(5 older lines dropped)");
  EXPECT_EQ(lines.back(), "[1] u: State: " + std::to_string(ConsoleListControl::kMaxQueuedLines + 4));
}

TEST(SettingsRecorderTest, EveryEntryRecordsWithItsOwnDirectoryAndSwitchesAndTheFileStaysUntouched) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string text =
      "// hand-written\n[Default]\nDownloadDirectory=" + dir.File("default") +
      "\n[Server]\nServer_0=http://127.0.0.1:9/a\nServer_1=http://127.0.0.1:9/b\n"
      "Download_1=" + dir.File("b") + "\nFileSplitting_1=0\nSmartSplitting_0=0\n";
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
  std::vector<std::string> lines;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!Contains(lines, "[2] http://127.0.0.1:9/b: State: Error on connecting") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    const auto taken = recorder.TakeLines();
    lines.insert(lines.end(), taken.begin(), taken.end());
  }
  EXPECT_TRUE(Contains(lines, "[1] http://127.0.0.1:9/a: State: Connecting"));
  EXPECT_TRUE(Contains(lines, "[2] http://127.0.0.1:9/b: State: Error on connecting"));
  recorder.StopAll();
  EXPECT_EQ(ReadFileBytes(file), text);
}

TEST(SettingsRecorderTest, UnreadableOrEmptyFileIsRefusedWithAReason) {
  TempDir dir;
  std::string error;
  SettingsRecorder missing;
  EXPECT_FALSE(missing.Load(dir.File("none.ini"), error));
  EXPECT_NE(error.find("none.ini"), std::string::npos) << error;

  WriteFileBytes(dir.File("empty.ini"), "[Server]\nServer_1=gap-before-me\n");
  SettingsRecorder empty;
  EXPECT_FALSE(empty.Load(dir.File("empty.ini"), error));
  EXPECT_NE(error.find("no server"), std::string::npos) << error;
}

}  // namespace

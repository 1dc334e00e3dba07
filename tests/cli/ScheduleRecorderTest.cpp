// Recording shows on a schedule: the real recorder against the loopback
// server, and the service's reload of a show that is on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/Recorder.h"
#include "cli/RecorderMetrics.h"
#include "cli/RecorderOptions.h"
#include "cli/SettingsRecorder.h"
#include "stream/ServerStream.h"
#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using SystemClock = std::chrono::system_clock;

// An instant as UTC text in the form strftime gives it.
std::string Utc(SystemClock::time_point instant, const char* format) {
  const std::time_t seconds = SystemClock::to_time_t(instant);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Starts the recorder with its output going to a file; its pid.
pid_t StartRecorder(const std::vector<std::string>& arguments, const std::string& outputFile) {
  std::vector<std::string> command{DRIFTHARBOUR_RECORD_PATH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return SpawnChild(std::move(command), ChildOptions{outputFile, true, {}});
}

// A show of three seconds, two seconds after the recorder starts, with no
// pre-roll or post-roll: the recorder connects when it begins and stops
// when it ends, and its one file holds that span of the station's audio.
TEST(ScheduleRecorderTest, AShowOfAFewSecondsIsRecordedJustThen) {
  constexpr int kBytesPerSecond = 8000;
  constexpr int kShowSeconds = 3;
  IcyTestServer server;
  const std::string audio = TestBytes(20 * kBytesPerSecond);
  IcyResponse response{"ICY 200 OK\r\n\r\n", audio, IcyResponse::kEverything, true};
  response.pieceSize = kBytesPerSecond / 10;
  response.pieceDelay = 100ms;
  server.Push(response);
  TempDir dir;

  const auto start = std::chrono::ceil<std::chrono::seconds>(SystemClock::now()) + 2s;
  const std::string show = "Test=" + Utc(start, "%F %T") + "+" + std::to_string(kShowSeconds) + "s@UTC";
  const pid_t recorder = StartRecorder({"--dir", dir.Path().string(), "--buffer", "800", "--pre-roll", "0",
                                        "--post-roll", "0", "--schedule", show, server.Url("/live")},
                                       dir.File("output.txt"));
  ASSERT_GT(recorder, 0);
  ASSERT_TRUE(server.WaitForRequests(1, 30s));
  const auto connected = SystemClock::now();
  // It runs until stopped; the show's end is in its lines.
  EXPECT_TRUE(Eventually([&] {
    return ReadFileBytes(dir.Path() / "output.txt").find("show Test ends") != std::string::npos;
  }));
  kill(recorder, SIGTERM);
  int status = 0;
  waitpid(recorder, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string output = ReadFileBytes(dir.Path() / "output.txt");

  EXPECT_LT(std::chrono::abs(connected - start), 1s) << output;
  const std::string recorded = ReadFileBytes(dir.Path() / ("Test " + Utc(start, "%F %H%M") + ".mp3"));
  EXPECT_GE(recorded.size(), static_cast<size_t>((kShowSeconds - 1) * kBytesPerSecond)) << output;
  EXPECT_LE(recorded.size(), static_cast<size_t>((kShowSeconds + 1) * kBytesPerSecond)) << output;
  EXPECT_TRUE(recorded == audio.substr(0, recorded.size())) << "the file is not the station's audio";
  EXPECT_NE(output.find("next: Test, "), std::string::npos) << output;
  EXPECT_NE(output.find("show Test ends"), std::string::npos) << output;
  EXPECT_EQ(server.ConnectionCount(), 1u) << output;
}

// The service reads its schedules from the file; a reload that keeps a
// show that is on keeps its recording, one that moves it ends it.
TEST(ScheduleRecorderTest, AReloadKeepsARunningShowWhileItIsStillPlanned) {
  IcyTestServer server;
  IcyResponse response{"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(TestBytes(40000), 1000, {}),
                       IcyResponse::kEverything, true};
  response.pieceSize = 1000;
  response.pieceDelay = 40ms;
  server.Push(response);
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  // A show that began a minute ago: the recorder joins it late.
  const auto begun = std::chrono::floor<std::chrono::minutes>(SystemClock::now()) - 1min;
  const auto write = [&](const std::string& schedule) {
    WriteFileBytes(file, "[Default]\r\nDownloadDirectory=" + dir.Path().string() + "\r\n[Server]\r\nServer_0=" +
                             server.Url("/live") + "\r\nDownload_0=" + dir.File("a") + "\r\nSchedule_0_0=" + schedule +
                             "\r\nSchedule_0_1=Bad|Mox|07:00|1h|UTC\r\n");
  };
  write("On|daily|" + Utc(begun, "%H:%M") + "|2h|UTC");

  SettingsRecorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.Load(file, error)) << error;
  recorder.StartAll();
  std::vector<std::string> lines = recorder.TakeLines();
  EXPECT_TRUE(Contains(lines, "Driftharbour.ini line 7: Schedule_0_1=Bad|Mox|07:00|1h|UTC: days 'Mox'")) << lines[0];
  const ServerStream* stream = recorder.Streams().at(0).second;
  EXPECT_FALSE(stream->IsStopped());
  const auto showFile = dir.Path() / "a" / ("On " + Utc(begun, "%F %H%M") + ".mp3");
  ASSERT_TRUE(Eventually([&] { return !ReadFileBytes(showFile).empty(); }));

  write("On|daily|" + Utc(begun, "%H:%M") + "|3h|UTC");
  EXPECT_EQ(recorder.Reload().unchanged, 1u);
  lines = recorder.TakeLines();
  EXPECT_FALSE(Contains(lines, "show On ends")) << lines.size();
  EXPECT_EQ(recorder.Streams().at(0).second, stream);
  EXPECT_FALSE(stream->IsStopped());

  write("On|daily|" + Utc(begun + 30min, "%H:%M") + "|3h|UTC");
  EXPECT_EQ(recorder.Reload().unchanged, 1u);
  lines = recorder.TakeLines();
  EXPECT_TRUE(Contains(lines, "show On ends"));
  EXPECT_TRUE(Contains(lines, "next: On, "));
  EXPECT_TRUE(stream->IsStopped());
  // Joined late: its file is kept apart.
  EXPECT_FALSE(ReadFileBytes(dir.Path() / "a" / "incomplete" / showFile.filename()).empty());
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(ScheduleRecorderTest, MetricsTellEachScheduledEntrysNextShow) {
  TempDir dir;
  const auto metrics = std::make_shared<RecorderMetrics>();
  Recorder recorder;
  recorder.SetMetrics(metrics.get());
  Schedule once;
  std::string error;
  ASSERT_TRUE(ParseScheduleOption("Once=2030-01-01 10:00+1h@UTC", once, error)) << error;
  recorder.AddEntry({"http://127.0.0.1:9/a", dir.Path().string(), true, true, 0, -1, {}, 1, "", {once}});
  recorder.AddEntry({"http://127.0.0.1:9/b", dir.Path().string(), true, true, 0, -1, {}, 2});
  std::map<std::string, double> figures;
  for (const auto& family : metrics->Collect()) {
    for (const auto& metric : family.metric) {
      figures[family.name + "/" + metric.label.at(0).value] = metric.value;
    }
  }
  // The recording starts at the pre-roll, a minute before 10:00 UTC.
  EXPECT_EQ(figures["driftharbour_show_next_start_seconds/1"], 1893491940.0);
  EXPECT_EQ(figures.count("driftharbour_shows_missed_total/1"), 1u);
  EXPECT_EQ(figures.count("driftharbour_show_next_start_seconds/2"), 0u);  // no schedules, no show figures
}

TEST(ScheduleRecorderTest, ScheduleOptionsAreReadAndCheckedBeforeAnythingRecords) {
  const RecorderArguments parsed = ParseRecorderArguments(
      {"--schedule", "A=Mon-Fri 07:00+2h@Europe/Berlin", "--schedule", "B=2027-01-01 00:00+30m", "--pre-roll", "0",
       "--post-roll", "300", "http://127.0.0.1:9/"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  ASSERT_EQ(parsed.options.schedules.size(), 2u);
  EXPECT_EQ(parsed.options.schedules[1].kind, Schedule::Kind::Once);
  EXPECT_EQ(parsed.options.preRollSeconds, 0);
  EXPECT_EQ(parsed.options.postRollSeconds, 300);
  EXPECT_EQ(ParseRecorderArguments({"u"}).options.preRollSeconds, -1);

  const struct {
    std::vector<std::string> arguments;
    const char* reason;
  } wrong[] = {
      {{"--schedule", "A=Mon 25:00+1h", "u"}, "--schedule: start '25:00'"},
      {{"--schedule", "A=Mon 07:00+1h@Nowhere", "u"}, "unknown time zone 'Nowhere'"},
      {{"--pre-roll", "-1", "u"}, "--pre-roll takes seconds"},
      {{"--post-roll", "3601", "u"}, "--post-roll takes seconds"},
      {{"--settings", "f.ini", "--schedule", "A=Mon 07:00+1h"}, "--schedule does not apply with --settings"},
  };
  for (const auto& row : wrong) {
    const std::string error = ParseRecorderArguments(row.arguments).error;
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
}

}  // namespace

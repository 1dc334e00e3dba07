// The recorder's exit paths, on the real executable.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "cli/EntryIds.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// A port on 127.0.0.1 where nothing listens (the recorder keeps retrying).
const char* kUnreachableUrl = "http://127.0.0.1:9/stream";

struct Child {
  pid_t pid = -1;
  UniqueFd output;  // the child's standard output and error
};

// toJournal: the child's output stands in for systemd's journal stream, as
// JOURNAL_STREAM tells it.
Child Spawn(const std::vector<std::string>& arguments, bool toJournal = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    struct stat status {};
    if (toJournal && fstat(pipeFds[1], &status) == 0) {
      const std::string stream = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
      setenv("JOURNAL_STREAM", stream.c_str(), 1);
    } else {
      unsetenv("JOURNAL_STREAM");
    }
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    std::string program = DRIFTHARBOUR_RECORD_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  return {pid, UniqueFd(pipeFds[0])};
}

// Reads the child's output into output until it holds text; false when the
// bound passes first.
bool ReadUntil(const Child& child, const std::string& text, std::string& output,
               std::chrono::seconds bound = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (output.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    pollfd readable{child.output.Get(), POLLIN, 0};
    if (poll(&readable, 1, 100) <= 0) {
      continue;
    }
    char buffer[4096];
    const ssize_t n = read(child.output.Get(), buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    output.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// Waits for the child (bounded, so a hang fails instead of blocking CI) and
// collects its output. Returns the exit status, or -1 when it did not exit.
int Finish(const Child& child, std::string& output, std::chrono::seconds bound = 30s) {
  int status = 0;
  pid_t done = 0;
  Eventually([&] { return (done = waitpid(child.pid, &status, WNOHANG)) != 0; }, bound);
  if (done == 0) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
  }
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(child.output.Get(), buffer, sizeof buffer)) > 0) {
    output.append(buffer, static_cast<size_t>(n));
  }
  if (done == 0 || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

TEST(RecorderExitTest, UsageErrorExitsWithTwoAndSaysWhy) {
  struct Row {
    std::vector<std::string> arguments;
    std::string why;
  };
  for (const Row& row : {Row{{"--buffer", "lots", kUnreachableUrl}, "--buffer"}, Row{{}, "no URL"}}) {
    std::string output;
    EXPECT_EQ(Finish(Spawn(row.arguments), output), 2) << output;
    EXPECT_NE(output.find(row.why), std::string::npos) << output;
    EXPECT_NE(output.find("usage:"), std::string::npos) << output;
  }
}

TEST(RecorderExitTest, HelpPrintsTheUsage) {
  std::string output;
  EXPECT_EQ(Finish(Spawn({"--help"}), output), 0);
  EXPECT_EQ(output.rfind("usage:", 0), 0u) << output;
}

TEST(RecorderExitTest, StatusIsOneAndTheLastLineSaysWhenAUrlRecordedNothing) {
  IcyTestServer server;
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(TestBytes(5000), 1000, {{0, "Song"}}),
               IcyResponse::kEverything, true});
  IcyTestServer missing;  // answers 404 to everything
  TempDir dir;
  std::string output;
  EXPECT_EQ(Finish(Spawn({"--dir", dir.Path().string(), "--duration", "2", server.Url("/a"), missing.Url("/b"),
                          kUnreachableUrl}),
                   output),
            1);
  EXPECT_NE(output.find("[3] http://127.0.0.1:9/stream: Connecting"), std::string::npos) << output;
  // One line for the failure, not one per attempt.
  EXPECT_EQ(output.find("Error on connecting: connection refused;"),
            output.rfind("Error on connecting: connection refused;")) << output;
  const std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
  EXPECT_EQ(last, "driftharbour-record: nothing recorded from " + missing.Url("/b") +
                      " (HTTP 404 Not Found), http://127.0.0.1:9/stream (connection refused)\n")
      << output;

  output.clear();
  EXPECT_EQ(Finish(Spawn({"--dir", dir.Path().string(), "--duration", "1", server.Url("/a")}), output), 0) << output;
}

TEST(RecorderExitTest, SignalsStopEveryStream) {
  for (int signalNumber : {SIGINT, SIGTERM}) {
    TempDir dir;
    const Child child = Spawn({"--dir", dir.Path().string(), kUnreachableUrl, kUnreachableUrl});
    std::string output;
    // Once the streams run: a signal before main() blocks it would simply
    // end the process.
    EXPECT_TRUE(ReadUntil(child, "[2] ", output)) << output;
    kill(child.pid, signalNumber);
    // Nothing could be recorded: status 1, but no crash and no hang.
    EXPECT_EQ(Finish(child, output), 1) << "signal " << signalNumber << "\n" << output;
    EXPECT_NE(output.find("[2] "), std::string::npos) << output;
  }
}

TEST(RecorderExitTest, SignalClosesTheFileWithEveryByteReceived) {
  IcyTestServer server;
  const std::string audio = TestBytes(20000);
  // The whole stream, then silence: the recorder is stopped mid-connection.
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Song"}}),
               IcyResponse::kEverything, true});
  TempDir dir;
  const Child child = Spawn({"--dir", dir.Path().string(), server.Url("/stream")});
  const auto file = dir.Path() / "Song.mp3";
  EXPECT_TRUE(Eventually([&] { return ReadFileBytes(file).size() >= audio.size() - 1000; }));
  kill(child.pid, SIGTERM);
  std::string output;
  EXPECT_EQ(Finish(child, output), 0) << output;
  const std::string recorded = ReadFileBytes(file);
  ASSERT_GE(recorded.size(), audio.size() - 1000) << output;
  EXPECT_TRUE(recorded == audio.substr(audio.size() - recorded.size())) << "the file is not the stream's audio";
  EXPECT_NE(output.find("title \"Song\""), std::string::npos) << output;
}

TEST(RecorderExitTest, FileThatCannotBeCreatedIsReportedEvenWhenQuiet) {
  IcyTestServer server;
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n",
               InterleaveMetadata(TestBytes(5000), 1000, {{0, "Song"}}), IcyResponse::kEverything, true});
  TempDir dir;
  // A regular file where the download directory should be.
  WriteFileBytes(dir.Path() / "blocked", "x");
  std::string output;
  EXPECT_EQ(Finish(Spawn({"--quiet", "--dir", (dir.Path() / "blocked").string(), "--duration", "2", server.Url()}), output),
            1);
  EXPECT_NE(output.find("cannot record to"), std::string::npos) << output;
  EXPECT_EQ(output.find("Connecting"), std::string::npos) << output;
}

}  // namespace

namespace {

TEST(RecorderExitTest, SettingsFileIsRecordedNeverRewrittenAndRefusedWhenUseless) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string text = "[Server]\r\nServer_0=http://127.0.0.1:9/stream\r\nDownload_0=" + dir.File("rec") + "\r\n";
  WriteFileBytes(file, text);
  std::string output;
  EXPECT_EQ(Finish(Spawn({"--settings", file, "--duration", "1"}), output), 1);
  const std::string id = EntryIds::Of("http://127.0.0.1:9/stream", dir.File("rec"));
  EXPECT_NE(output.find("[" + id + "] http://127.0.0.1:9/stream: Connecting"), std::string::npos) << output;
  EXPECT_EQ(ReadFileBytes(file), text);

  output.clear();
  EXPECT_EQ(Finish(Spawn({"--settings", dir.File("missing.ini")}), output), 1);
  EXPECT_NE(output.find("cannot read the settings file"), std::string::npos) << output;

  output.clear();
  WriteFileBytes(file, "[Server]\nServer_1=after-a-gap\n");
  EXPECT_EQ(Finish(Spawn({"--settings", file}), output), 1);
  EXPECT_NE(output.find("lists no server"), std::string::npos) << output;
}

}  // namespace

namespace {

TEST(RecorderExitTest, HangUpReadsTheSettingsAgainAndTheJournalGetsOneLinePerEventWithItsLevel) {
  TempDir dir;
  const std::string file = dir.File("Driftharbour.ini");
  const std::string entry = "[Server]\nServer_0=http://127.0.0.1:9/a\nDownload_0=" + dir.File("rec") + "\n";
  WriteFileBytes(file, entry);
  const Child child = Spawn({"--settings", file}, true);
  std::string output;
  ASSERT_TRUE(ReadUntil(child, "retrying every second", output)) << output;
  WriteFileBytes(file, entry + "Server_1=http://127.0.0.1:9/b\nDownload_1=" + dir.File("rec") + "\n");
  kill(child.pid, SIGHUP);
  // The new entry's first attempt fails before the stop, so that the last
  // line gives its reason (under ThreadSanitizer the stop could come first).
  const auto label = [&](const char* url) { return "[" + EntryIds::Of(url, dir.File("rec")) + "] " + url; };
  EXPECT_TRUE(ReadUntil(child, label("http://127.0.0.1:9/b") + ": Error on connecting", output)) << output;
  kill(child.pid, SIGTERM);
  EXPECT_EQ(Finish(child, output), 1) << output;

  for (const std::string& line : std::vector<std::string>{
           "<6>" + label("http://127.0.0.1:9/a") + ": Connecting\n",
        "<4>" + label("http://127.0.0.1:9/a") + ": Error on connecting: connection refused; retrying every second\n",
        "<5>reloaded " + file + ": 1 unchanged, 0 restarted, 0 stopped, 1 added\n",
        "<3>driftharbour-record: nothing recorded from http://127.0.0.1:9/a (connection refused), "
        "http://127.0.0.1:9/b (connection refused)\n"}) {
    EXPECT_NE(output.find(line), std::string::npos) << line << "\nnot in\n" << output;
  }
  // No terminal redraw, no progress lines: only events.
  EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
  EXPECT_EQ(output.find(" in all"), std::string::npos) << output;
  size_t lineStart = 0;
  for (size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', lineStart)) {
    EXPECT_EQ(output[lineStart], '<') << output.substr(lineStart, end - lineStart);
    lineStart = end + 1;
  }
}

}  // namespace

// The recorder maps FFmpeg (the media module) only for a stream that needs
// it, TagLib (the tag module) only once it tags a file, and prometheus-cpp
// (the metrics module) only with --metrics, date/tz (the time zone module)
// only for a schedule; what needs a module that is not there says which
// file is missing. On the real
// executable, read from /proc/PID/maps.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Eventually.h"
#include "support/HlsFixture.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kModule = "libdriftharbour-media.so";
constexpr const char* kTagModule = "libdriftharbour-tags.so";
constexpr const char* kMetricsModule = "libdriftharbour-metrics.so";
constexpr const char* kZonesModule = "libdriftharbour-zones.so";

// Runs the recorder with arguments, its output in outputFile; mediaDir, when
// not empty, replaces the folder the module is looked for in. Returns once
// the child runs the recorder: before its exec it is a copy of this test,
// which maps FFmpeg itself.
pid_t StartRecorder(const std::vector<std::string>& arguments, const std::string& outputFile,
                    const std::string& mediaDir) {
  std::vector<std::string> command{DRIFTHARBOUR_RECORD_PATH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ChildOptions options{outputFile, true, {}};
  if (!mediaDir.empty()) {
    options.environment.push_back("DRIFTHARBOUR_MEDIA_DIR=" + mediaDir);
  }
  return SpawnChild(std::move(command), options);
}

std::string MapsOf(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str();
}

bool MapsFfmpeg(pid_t pid) {
  const std::string maps = MapsOf(pid);
  return maps.find(kModule) != std::string::npos || maps.find("libavcodec") != std::string::npos;
}

// (The media module brings TagLib along too, for the ID3 tags in HLS
// segments.)
bool MapsTagModule(pid_t pid) { return MapsOf(pid).find(kTagModule) != std::string::npos; }

bool MapsMetricsModule(pid_t pid) { return MapsOf(pid).find(kMetricsModule) != std::string::npos; }

bool MapsZonesModule(pid_t pid) { return MapsOf(pid).find(kZonesModule) != std::string::npos; }

TEST(MediaModuleLoadTest, ModulesLoadOnlyWhenAStreamNeedsThem) {
  struct Row {
    const char* name;
    bool hls;
    std::vector<std::string> options;
    bool emptyModuleFolder;
    bool maps;            // whether the process ends up mapping FFmpeg
    const char* says;     // in the output, when not null
    bool tags = false;    // whether it ends up mapping the tag module
    bool metrics = false;  // and the metrics module
    bool zones = false;    // and the time zone module
    int exitsWith = -1;    // the status it ends with by itself; -1: it runs until stopped
  };
  const Row rows[] = {
      {"plain ICY", false, {}, false, false, nullptr},
      {"plain ICY cut at silence", false, {"--cut-at-silence"}, false, true, nullptr},
      {"plain ICY cut at silence without the module", false, {"--cut-at-silence"}, true, false, kModule},
      {"HLS", true, {}, false, true, nullptr},
      {"HLS without the module", true, {}, true, false, kModule},
      {"plain ICY tagged", false, {"--tags"}, false, false, nullptr, true},
      {"plain ICY tagged without the module", false, {"--tags"}, true, false, kTagModule},
      {"plain ICY with metrics", false, {"--metrics", "127.0.0.1:0"}, false, false, nullptr, false, true},
      {"metrics without the module", false, {"--metrics", "127.0.0.1:0"}, true, false, kMetricsModule, false, false,
       false, 1},
      // (Once it waits for the show, it has set its signals up.)
      {"a schedule", false, {"--schedule", "A=Mon-Fri 07:00+2h@Europe/Berlin"}, false, false, "next: A", false, false,
       true},
      {"a schedule without the module", false, {"--schedule", "A=Mon-Fri 07:00+2h@Europe/Berlin"}, true, false,
       kZonesModule, false, false, false, 2},
  };
  for (const Row& row : rows) {
    IcyTestServer server;
    TempDir dir;
    std::string url;
    std::unique_ptr<LiveHlsStation> station;
    if (row.hls) {
      station = std::make_unique<LiveHlsStation>(server, "/live",
                                                 PackedAdtsSegments(SyntheticAdtsFrames(30, 1), 3), 3, 2);
      url = station->PlaylistUrl();
    } else {
      server.Push({"ICY 200 OK\r\ncontent-type:audio/mpeg\r\nicy-metaint:1000\r\n\r\n",
                   InterleaveMetadata(TestBytes(20000), 1000, {{0, "Song"}, {12000, "Next"}}),
                   IcyResponse::kEverything, true, 1000, std::chrono::milliseconds(100), 13000});
      // (Paced after "Next": the audio after it shows what became of "Song",
      // which the syncer finishes meanwhile.)
      url = server.Url("/stream");
    }
    TempDir empty;
    const std::string outputFile = (dir.Path() / "output.txt").string();
    std::vector<std::string> arguments{"--dir", dir.Path().string()};
    arguments.insert(arguments.end(), row.options.begin(), row.options.end());
    arguments.push_back(url);
    const pid_t pid = StartRecorder(arguments, outputFile, row.emptyModuleFolder ? empty.Path().string() : "");
    ASSERT_GT(pid, 0);

    if (row.says != nullptr) {
      EXPECT_TRUE(Eventually([&] { return ReadFileBytes(outputFile).find(row.says) != std::string::npos; }))
          << row.name << ":\n" << ReadFileBytes(outputFile);
    } else if (row.maps) {
      EXPECT_TRUE(Eventually([&] { return MapsFfmpeg(pid); })) << row.name;
    } else if (row.tags) {
      EXPECT_TRUE(Eventually([&] { return MapsTagModule(pid); })) << row.name;
    } else {
      // By the time the next song's audio reaches its file, a stream that
      // needed FFmpeg would have loaded it, and the first file is closed.
      EXPECT_TRUE(Eventually([&] { return ReadFileBytes(dir.Path() / "Next.mp3").size() >= 4000; })) << row.name;
    }
    EXPECT_EQ(MapsFfmpeg(pid), row.maps) << row.name << ":\n" << ReadFileBytes(outputFile);
    EXPECT_EQ(MapsTagModule(pid), row.tags) << row.name;
    EXPECT_EQ(MapsMetricsModule(pid), row.metrics) << row.name;
    EXPECT_EQ(MapsZonesModule(pid), row.zones) << row.name;
    if (row.exitsWith < 0) {
      kill(pid, SIGTERM);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << row.name << ": ended by signal " << WTERMSIG(status);
    if (row.exitsWith >= 0 && WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), row.exitsWith) << row.name;
    }
  }
}

}  // namespace

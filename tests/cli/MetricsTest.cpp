// The /metrics page after a short recording, scraped over HTTP.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "cli/MetricsEndpoint.h"
#include "cli/Recorder.h"
#include "cli/RecorderMetrics.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// The page at url as a real client gets it; "" unless it answers 200.
std::string Get(const std::string& url) {
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::string body;
  curl_write_callback append = [](char* bytes, size_t size, size_t count, void* user) -> size_t {
    static_cast<std::string*>(user)->append(bytes, size * count);
    return size * count;
  };
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 10L);
  long status = 0;
  if (curl_easy_perform(easy.get()) != CURLE_OK ||
      curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
    return {};
  }
  return body;
}

// Every sample of a text-format page, by "name{labels}".
std::map<std::string, double> Samples(const std::string& page) {
  std::map<std::string, double> samples;
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t space = line.rfind(' ');
    if (line.empty() || line[0] == '#' || space == std::string::npos) {
      continue;
    }
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

std::string Key(const std::string& name, int entry, const std::string& url) {
  return name + "{entry=\"" + std::to_string(entry) + "\",url=\"" + url + "\"}";
}

TEST(MetricsTest, AScrapeShowsEveryFigureOfEveryEntryAndTheCountsByState) {
  IcyTestServer server;
  const std::string audio = TestBytes(30000);
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Tune"}}),
               IcyResponse::kEverything, true});
  RefusingPort refusing;
  TempDir dir;
  WriteFileBytes(dir.Path() / "blocked", "x");  // a file where a directory should be

  auto metrics = std::make_shared<RecorderMetrics>();
  MetricsEndpoint endpoint("127.0.0.1", 0, metrics);
  ASSERT_NE(endpoint.Port(), 0);
  Recorder recorder;
  recorder.SetMetrics(metrics.get());
  const std::string recording = server.Url("/a");
  const std::string failing = refusing.Url("/b");
  const std::string blocked = server.Url("/c");
  recorder.AddEntry({recording, dir.File("rec"), true, true, 0, -1, {}, 1});
  recorder.AddEntry({failing, dir.File("rec"), true, true, 0, -1, {}, 2});
  recorder.AddEntry({blocked, dir.File("blocked"), true, true, 0, -1, {}, 5});
  recorder.StartAll();

  std::map<std::string, double> samples;
  const auto value = [&](const std::string& key) { return samples.count(key) ? samples[key] : -1; };
  EXPECT_TRUE(Eventually([&] {
    samples = Samples(Get(endpoint.Url()));
    return value(Key("driftharbour_stream_written_bytes_total", 1, recording)) == audio.size() &&
           value(Key("driftharbour_stream_received_bytes_total", 5, blocked)) == audio.size() &&
           value(Key("driftharbour_stream_reconnects_total", 2, failing)) >= 1 &&
           // Between two attempts, not in the moment of a retry.
           value(Key("driftharbour_stream_state", 2, failing)) == 5;
  })) << "last scrape:\n" << Get(endpoint.Url());

  struct Row {
    const char* name;
    int entry;
    std::string url;
    double expected;
  };
  const double bytes = static_cast<double>(audio.size());
  for (const Row& row : {Row{"driftharbour_stream_state", 1, recording, 4},
                         Row{"driftharbour_stream_received_bytes_total", 1, recording, bytes},
                         Row{"driftharbour_stream_written_bytes_total", 1, recording, bytes},
                         Row{"driftharbour_stream_files_written_total", 1, recording, 1},
                         Row{"driftharbour_stream_reconnects_total", 1, recording, 0},
                         Row{"driftharbour_stream_write_errors_total", 1, recording, 0},
                         Row{"driftharbour_stream_state", 2, failing, 5},
                         Row{"driftharbour_stream_received_bytes_total", 2, failing, 0},
                         Row{"driftharbour_stream_written_bytes_total", 2, failing, 0},
                         Row{"driftharbour_stream_state", 5, blocked, 4},
                         Row{"driftharbour_stream_written_bytes_total", 5, blocked, 0},
                         Row{"driftharbour_stream_files_written_total", 5, blocked, 0}}) {
    EXPECT_EQ(value(Key(row.name, row.entry, row.url)), row.expected) << row.name << " of entry " << row.entry;
  }
  EXPECT_GE(value(Key("driftharbour_stream_write_errors_total", 5, blocked)), 1);
  // Every entry has the figure; one that never had audio counts from its start.
  for (const auto& [entry, url] : {std::pair{1, recording}, std::pair{2, failing}, std::pair{5, blocked}}) {
    EXPECT_GE(value(Key("driftharbour_stream_seconds_since_audio", entry, url)), 0) << entry;
  }
  EXPECT_GT(value(Key("driftharbour_stream_seconds_since_audio", 2, failing)), 0);
  EXPECT_EQ(value("driftharbour_streams{state=\"connected\"}"), 2);
  EXPECT_EQ(value("driftharbour_streams{state=\"error_on_connecting\"}"), 1);
  EXPECT_EQ(value("driftharbour_streams{state=\"disconnected\"}"), 0);

  const std::string page = Get(endpoint.Url());
  EXPECT_NE(page.find("# TYPE driftharbour_stream_received_bytes_total counter"), std::string::npos);
  EXPECT_NE(page.find("# TYPE driftharbour_stream_state gauge"), std::string::npos);

  recorder.StopAll();
  samples = Samples(Get(endpoint.Url()));
  EXPECT_EQ(value("driftharbour_streams{state=\"disconnected\"}"), 3);
}

TEST(MetricsTest, AnEndpointThatCannotListenSaysSo) {
  auto metrics = std::make_shared<RecorderMetrics>();
  MetricsEndpoint first("127.0.0.1", 0, metrics);
  EXPECT_THROW(MetricsEndpoint("127.0.0.1", first.Port(), metrics), std::runtime_error);
}

}  // namespace

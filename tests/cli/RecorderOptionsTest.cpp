#include "cli/RecorderOptions.h"

#include <gtest/gtest.h>

namespace {

RecorderArguments Parse(std::vector<std::string> arguments) { return ParseRecorderArguments(arguments); }

TEST(RecorderOptionsTest, DefaultsRecordEveryUrlWithBothSwitchesOn) {
  const auto parsed = Parse({"http://127.0.0.1:8000/a", "http://127.0.0.1:8000/b"});
  ASSERT_TRUE(parsed.error.empty());
  EXPECT_EQ(parsed.options.urls.size(), 2u);
  EXPECT_EQ(parsed.options.directory, ".");
  EXPECT_TRUE(parsed.options.fileSplitting);
  EXPECT_TRUE(parsed.options.smartSplitting);
  EXPECT_EQ(parsed.options.readSize, 0);
  EXPECT_EQ(parsed.options.durationSeconds, 0);
}

TEST(RecorderOptionsTest, EveryOptionIsRead) {
  const auto parsed = Parse({"--dir", "/tmp/x", "--no-file-splitting", "--no-smart-splitting", "--buffer", "8192",
                             "--duration", "60", "--sync-interval", "0", "--quiet", "--", "-odd-url"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  EXPECT_EQ(parsed.options.directory, "/tmp/x");
  EXPECT_FALSE(parsed.options.fileSplitting);
  EXPECT_FALSE(parsed.options.smartSplitting);
  EXPECT_EQ(parsed.options.readSize, 8192);
  EXPECT_EQ(parsed.options.durationSeconds, 60);
  EXPECT_EQ(parsed.options.syncIntervalSeconds, 0);
  EXPECT_TRUE(parsed.options.quiet);
  ASSERT_EQ(parsed.options.urls.size(), 1u);
  EXPECT_EQ(parsed.options.urls[0], "http://-odd-url");
}

TEST(RecorderOptionsTest, CuttingTaggingAndPartialSongsAreOffUnlessAskedFor) {
  EXPECT_EQ(Parse({"u"}).options.recording, RecordingOptions{});
  const auto parsed = Parse({"--cut-at-silence=2.5:10", "--split-offset", "-1500", "--tags", "--keep-partial-apart",
                             "--min-length", "40", "u"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  const RecordingOptions& options = parsed.options.recording;
  EXPECT_TRUE(options.cutAtSilence);
  EXPECT_EQ(options.searchBeforeMs, 2500);
  EXPECT_EQ(options.searchAfterMs, 10000);
  EXPECT_EQ(options.splitOffsetMs, -1500);
  EXPECT_TRUE(options.tags);
  EXPECT_TRUE(options.keepPartialApart);
  EXPECT_EQ(options.minLengthSeconds, 40);
  EXPECT_FALSE(options.learnTitleLag);
  const RecordingOptions byDefault = Parse({"--cut-at-silence", "u"}).options.recording;
  EXPECT_EQ(byDefault.searchBeforeMs, 6000);
  EXPECT_EQ(byDefault.searchAfterMs, 4000);
  EXPECT_TRUE(byDefault.learnTitleLag);
}

// Each wrong command line, and what its one-line reason must name.
TEST(RecorderOptionsTest, WrongArgumentsGiveAOneLineReasonNamingTheFault) {
  struct Row {
    std::vector<std::string> arguments;
    std::string named;
  };
  const Row rows[] = {
      {{}, "no URL given"},
      {{"--dir"}, "--dir needs a value"},
      {{"--dir", "", "u"}, "--dir needs a directory"},
      {{"--buffer", "0", "u"}, "--buffer takes"},
      {{"--buffer", "-5", "u"}, "--buffer takes"},
      {{"--buffer", "64k", "u"}, "--buffer takes"},
      {{"--duration", "", "u"}, "--duration takes"},
      {{"--duration", "1.5", "u"}, "--duration takes"},
      {{"--sync-interval", "-1", "u"}, "--sync-interval takes"},
      {{"--sync-interval", "86401", "u"}, "--sync-interval takes"},
      {{"--cut-at-silence=3", "u"}, "--cut-at-silence takes"},
      {{"--cut-at-silence=-1:6", "u"}, "--cut-at-silence takes"},
      {{"--cut-at-silence=3:61", "u"}, "--cut-at-silence takes"},
      {{"--split-offset", "1s", "u"}, "--split-offset takes"},
      {{"--min-length", "-2", "u"}, "--min-length takes"},
      {{"--tags", "--settings", "a.ini"}, "--tags does not apply with --settings"},
      {{"--frobnicate", "u"}, "unknown option --frobnicate"},
      {{"--settings", "a.ini", "u"}, "either --settings or URLs"},
      {{"--settings", "a.ini", "--dir", "d"}, "--dir does not apply with --settings"},
      {{"--no-smart-splitting", "--settings", "a.ini"}, "--no-smart-splitting does not apply with --settings"},
      {{"--shard", "3/3", "u"}, "--shard takes"},
      {{"--shard", "-1/3", "u"}, "--shard takes"},
      {{"--shard", "1/0", "u"}, "--shard takes"},
      {{"--shard", "1", "u"}, "--shard takes"},
      {{"--shard", "1/3x", "u"}, "--shard takes"},
      {{"--metrics", "", "u"}, "--metrics takes"},
      {{"--metrics", "65536", "u"}, "--metrics takes"},
      {{"--metrics", "localhost:9100", "u"}, "--metrics takes"},
      {{"--metrics", "::1:9100", "u"}, "--metrics takes"},
      {{"--metrics", "[::1]9100", "u"}, "--metrics takes"},
      {{"--start-rate", "-1", "u"}, "--start-rate takes"},
  };
  for (const Row& row : rows) {
    const auto parsed = Parse(row.arguments);
    EXPECT_NE(parsed.error.find(row.named), std::string::npos)
        << testing::PrintToString(row.arguments) << " gave \"" << parsed.error << "\"";
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
  }
}

TEST(RecorderOptionsTest, ServiceOptionsApplyToBothFormsAndStayOffUnlessGiven) {
  const auto plain = Parse({"--settings", "a.ini"});
  ASSERT_TRUE(plain.error.empty()) << plain.error;
  EXPECT_EQ(plain.options.shard.Count(), 1);
  EXPECT_FALSE(plain.options.metrics);
  EXPECT_EQ(plain.options.startsPerSecond, StartPacer::kDefaultPerSecond);

  struct Row {
    std::string metrics;
    std::string address;
    uint16_t port;
  };
  for (const Row& row : {Row{"9464", "127.0.0.1", 9464}, Row{"0.0.0.0:9100", "0.0.0.0", 9100},
                         Row{"[::1]:0", "::1", 0}}) {
    for (const auto& tail : {std::vector<std::string>{"--settings", "a.ini"}, std::vector<std::string>{"u"}}) {
      std::vector<std::string> arguments = {"--shard", "2/3", "--metrics", row.metrics, "--start-rate", "0"};
      arguments.insert(arguments.end(), tail.begin(), tail.end());
      const auto parsed = Parse(arguments);
      ASSERT_TRUE(parsed.error.empty()) << parsed.error;
      EXPECT_EQ(parsed.options.shard.Text(), "2/3");
      EXPECT_TRUE(parsed.options.metrics);
      EXPECT_EQ(parsed.options.metricsAddress, row.address);
      EXPECT_EQ(parsed.options.metricsPort, row.port);
      EXPECT_EQ(parsed.options.startsPerSecond, 0);
    }
  }
}

TEST(RecorderOptionsTest, HelpAndVersionWinOverMissingUrls) {
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"--help"}).error.empty());
  EXPECT_TRUE(Parse({"--version"}).version);
  EXPECT_TRUE(Parse({"--version"}).error.empty());
  EXPECT_EQ(RecorderVersion().rfind("driftharbour-record ", 0), 0U);
}

TEST(RecorderOptionsTest, UrlsAreTakenAsTheWindowTakesThem) {
  const auto parsed = Parse({" 127.0.0.1:8000/s ", "https://radio.example/live"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  EXPECT_EQ(parsed.options.urls, (std::vector<std::string>{"http://127.0.0.1:8000/s", "https://radio.example/live"}));
  EXPECT_EQ(Parse({"http://a/", "ftp://radio.example/"}).error,
            "\"ftp://radio.example/\" is not an http or https URL: give http or https URLs");
  EXPECT_EQ(Parse({""}).error, "an empty URL: give http or https URLs");
}

}  // namespace

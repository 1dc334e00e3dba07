// Reading the directory's answers as volunteers' servers of several
// versions send them: fields missing, mistyped, numbers as strings.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "directory/DirectoryJson.h"

namespace {

struct OddStation {
  const char* what;
  const char* json;  // one station object
  DirectoryStation expected;
};

DirectoryStation Expect(std::string url, std::string name = "", int32_t bitrate = 0, int64_t votes = 0,
                        bool hls = false, bool lastCheckOk = true) {
  DirectoryStation station;
  station.url = std::move(url);
  station.name = std::move(name);
  station.bitrate = bitrate;
  station.votes = votes;
  station.hls = hls;
  station.lastCheckOk = lastCheckOk;
  return station;
}

TEST(DirectoryJsonTest, OddFieldsReadAsEmptyOrZeroAndNumbersAreClamped) {
  const OddStation rows[] = {
      {"url_resolved wins over url", R"({"url":"http://a/x.pls","url_resolved":"http://a/x"})",
       Expect("http://a/x")},
      {"empty url_resolved falls back to url", R"({"url":"http://a/x","url_resolved":" "})", Expect("http://a/x")},
      {"wrong types are empty", R"({"url":"http://a/","name":42,"bitrate":"fast","votes":[1],"hls":{}})",
       Expect("http://a/")},
      {"numbers as strings", R"({"url":"http://a/","bitrate":" 128 ","votes":"7","hls":"1","lastcheckok":"0"})",
       Expect("http://a/", "", 128, 7, true, false)},
      {"negative and fractional numbers", R"({"url":"http://a/","bitrate":-5,"votes":12.9})",
       Expect("http://a/", "", 0, 12)},
      {"numbers past their range", R"({"url":"http://a/","bitrate":1e300,"votes":18446744073709551615})",
       Expect("http://a/", "", INT32_MAX, INT64_MAX)},
      {"flags as booleans, blanks trimmed from the name",
       R"({"url":"http://a/","name":"  Radio  ","hls":true,"lastcheckok":false})",
       Expect("http://a/", "Radio", 0, 0, true, false)},
  };
  for (const OddStation& row : rows) {
    const auto stations = DirectoryJson::ParseStations(std::string("[") + row.json + "]");
    ASSERT_EQ(stations.size(), 1u) << row.what;
    EXPECT_EQ(stations[0], row.expected) << row.what;
  }
}

TEST(DirectoryJsonTest, EntriesWithoutAStreamAreLeftOut) {
  const auto stations = DirectoryJson::ParseStations(
      R"([{"name":"no url"}, 7, null, {"name":"kept","url":"http://b/"}, {"url":17}])");
  ASSERT_EQ(stations.size(), 1u);
  EXPECT_EQ(stations[0].name, "kept");
}

TEST(DirectoryJsonTest, AnswersThatAreNoListAreRefusedWithAReason) {
  const struct {
    const char* body;
    const char* reason;
  } rows[] = {
      {"<html>busy</html>", "not JSON"}, {"", "not JSON"}, {"[{\"url\":", "not JSON"}, {"{\"url\":\"x\"}", "not a list"}};
  for (const auto& row : rows) {
    try {
      DirectoryJson::ParseStations(row.body);
      ADD_FAILURE() << row.body;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(row.reason), std::string::npos) << row.body << ": " << error.what();
    }
  }
}

TEST(DirectoryJsonTest, ServerNamesAreHostsOnlyAndOnce) {
  const auto names = DirectoryJson::ParseServerNames(
      R"([{"name":"de1.api.radio-browser.info"},{"name":"de1.api.radio-browser.info"},)"
      R"({"name":"evil.example/path"},{"name":"user@host"},{"ip":"1.2.3.4"},{"name":"127.0.0.1:8080"}])");
  EXPECT_EQ(names, (std::vector<std::string>{"de1.api.radio-browser.info", "127.0.0.1:8080"}));
}

}  // namespace

#include "net/StreamUrl.h"

#include <gtest/gtest.h>

namespace {

using Problem = StreamUrl::Problem;

TEST(StreamUrlTest, AcceptsWhatAUserPastesAndRefusesAnythingButHttp) {
  struct Row {
    const char* text;
    Problem problem;
    const char* url;  // when accepted
  };
  const Row rows[] = {
      {"http://127.0.0.1:8000/stream", Problem::None, "http://127.0.0.1:8000/stream"},
      {"  HTTPS://radio.example/live\t\n", Problem::None, "HTTPS://radio.example/live"},
      {"radio.example:8000/live", Problem::None, "http://radio.example:8000/live"},
      {"127.0.0.1:8000", Problem::None, "http://127.0.0.1:8000"},
      {"http://[::1]:8000/s", Problem::None, "http://[::1]:8000/s"},
      {"notaurl", Problem::None, "http://notaurl"},
      {"", Problem::Empty, nullptr},
      {" \t ", Problem::Empty, nullptr},
      {"ftp://radio.example/a.mp3", Problem::NotHttp, nullptr},
      {"file:/music/list.pls", Problem::NotHttp, nullptr},
      {"mailto:radio@example.org", Problem::NotHttp, nullptr},
      {"http://", Problem::NoHost, nullptr},
      {"https:///path", Problem::NoHost, nullptr},
      {"http:radio.example", Problem::NotHttp, nullptr},
      {"http://radio example/", Problem::NotHttp, nullptr},
  };
  for (const Row& row : rows) {
    std::string url = "unchanged";
    EXPECT_EQ(StreamUrl::Normalize(row.text, url), row.problem) << row.text;
    EXPECT_EQ(url, row.url != nullptr ? row.url : "unchanged") << row.text;
  }
}

TEST(StreamUrlTest, SaysWhyInOneLine) {
  EXPECT_EQ(StreamUrl::Describe(Problem::NotHttp, " ftp://x/ "), "\"ftp://x/\" is not an http or https URL");
  EXPECT_EQ(StreamUrl::Describe(Problem::NoHost, "http://"), "\"http://\" names no server");
  EXPECT_EQ(StreamUrl::Describe(Problem::Empty, ""), "an empty URL");
  EXPECT_EQ(StreamUrl::Describe(Problem::None, "http://x/"), "");
}

}  // namespace

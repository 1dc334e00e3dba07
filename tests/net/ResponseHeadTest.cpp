#include "net/ResponseHead.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Step = ResponseHead::Step;

TEST(ResponseHeadTest, OnlyTheFinalResponsesBlockIsKept) {
  struct Row {
    const char* name;
    std::vector<std::string> lines;  // as curl's header callback hands them on
    bool endOfTransfer;              // body bytes or the end came next
    std::string block;               // "" when no final block
    long status;
    std::string contentType;
  };
  const Row rows[] = {
      {"icy with a bare LF", {"ICY 200 OK\n", "content-type:  audio/mpeg \t\r\n", "\r\n"}, false,
       "ICY 200 OK\r\ncontent-type:  audio/mpeg \t\r\n\r\n", 200, "audio/mpeg"},
      {"interim and followed redirect come first",
       {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 302 Found\r\n", "Location: /b\r\n", "Content-Type: text/html\r\n",
        "\r\n", "HTTP/1.1 200 OK\r\n", "\r\n", "X-Trailer: t\r\n"},
       false, "HTTP/1.1 200 OK\r\n\r\n", 200, ""},
      {"redirect curl did not follow", {"HTTP/1.0 301 Moved\r\n", "location: http://x/\r\n", "\r\n"}, true,
       "HTTP/1.0 301 Moved\r\nlocation: http://x/\r\n\r\n", 301, ""},
      {"3xx without a location is final", {"HTTP/1.1 302 Found\r\n", "Location: \t\r\n", "\r\n"}, false,
       "HTTP/1.1 302 Found\r\nLocation: \t\r\n\r\n", 302, ""},
      {"304 is final", {"HTTP/1.1 304 Not Modified\r\n", "Location: /x\r\n", "\r\n"}, false,
       "HTTP/1.1 304 Not Modified\r\nLocation: /x\r\n\r\n", 304, ""},
      {"no block at all", {"\r\n"}, true, "", 0, ""},
      {"a status without three digits", {"HTTP/1.1 20 OK\r\n", "\r\n"}, false, "HTTP/1.1 20 OK\r\n\r\n", 0, ""},
  };
  for (const Row& row : rows) {
    ResponseHead head(1024);
    for (const std::string& line : row.lines) {
      EXPECT_NE(head.Take(line), Step::TooLarge) << row.name;
    }
    if (row.endOfTransfer) {
      EXPECT_EQ(head.TakeSetAside(), !row.block.empty()) << row.name;
    }
    EXPECT_EQ(head.Complete(), !row.block.empty()) << row.name;
    EXPECT_EQ(head.Block(), row.block) << row.name;
    EXPECT_EQ(head.Status(), row.status) << row.name;
    EXPECT_EQ(head.StatusLine(), row.block.substr(0, row.block.find("\r\n"))) << row.name;
    EXPECT_EQ(head.ContentType(), row.contentType) << row.name;
  }
}

TEST(ResponseHeadTest, StepsTellRedirectsAndABlockBeyondTheBound) {
  ResponseHead head(60);
  EXPECT_EQ(head.Take("HTTP/1.1 307 Temporary Redirect\r\n"), Step::More);
  EXPECT_EQ(head.Take("Location: /next\r\n"), Step::More);
  EXPECT_EQ(head.Take("\r\n"), Step::Redirect);
  EXPECT_EQ(head.Take("HTTP/1.1 200 OK\r\n"), Step::More);
  EXPECT_EQ(head.Take("X-Padding: " + std::string(50, 'p') + "\r\n"), Step::TooLarge);
  EXPECT_FALSE(head.Complete());
}

}  // namespace

#include "net/HttpFetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/HttpConnection.h"
#include "support/IcyTestServer.h"

namespace {

using namespace std::chrono_literals;

// ReadBody reads into the string it returns and cuts the header block off
// its front: wherever the reads split the header's end, the body is the
// bytes after it, whole, and a body above the bound is refused.
TEST(HttpFetcherTest, ReadBodyGivesTheBytesAfterTheHeaderBlockWhereverReadsSplitIt) {
  struct Case {
    const char* name;
    size_t bodySize;
    size_t pieceSize;  // 0: all at once
    size_t maxBytes;
    bool tooLarge;
  };
  const Case cases[] = {
      {"small, at once", 100, 0, 1000, false},
      {"in pieces of three bytes", 50, 3, 1000, false},
      {"larger than the first room", 300 * 1024, 0, 1024 * 1024, false},
      {"exactly the bound", 70000, 0, 70000, false},
      {"empty", 0, 0, 10, false},
      {"one byte above the bound", 70001, 0, 70000, true},
  };
  for (const Case& row : cases) {
    IcyTestServer server;
    const std::string body = TestBytes(row.bodySize, 7);
    IcyResponse response{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n", body};
    response.pieceSize = row.pieceSize;
    response.pieceDelay = row.pieceSize > 0 ? 1ms : 0ms;
    server.Push(response);
    HttpConnection connection;
    connection.Open(server.Url("/file"), "");
    if (row.tooLarge) {
      EXPECT_THROW(HttpFetcher::ReadBody(connection, row.maxBytes, "too large"), ConnectionError) << row.name;
    } else {
      EXPECT_TRUE(HttpFetcher::ReadBody(connection, row.maxBytes, "too large") == body) << row.name;
    }
  }
}

}  // namespace

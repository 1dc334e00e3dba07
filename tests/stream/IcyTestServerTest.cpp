// The loopback server and its byte builders are what every stream test
// trusts; these tests pin down the parts a wrong stream test would not reveal.

#include "support/IcyTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "net/HttpConnection.h"

namespace {

using namespace std::chrono_literals;

std::string ReadAll(HttpConnection& connection) {
  std::string received;
  uint8_t buffer[4096];
  for (int32_t count; (count = connection.Read(buffer, sizeof buffer)) > 0;) {
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count));
  }
  return received;
}

std::string Fetch(IcyTestServer& server) {
  HttpConnection connection;
  connection.Open(server.Url(), "");
  return ReadAll(connection);
}

TEST(IcyTestServerTest, InterleavedBodyHasIcyLayout) {
  std::string title = StreamTitleText("x");  // "StreamTitle='x';StreamUrl='';", 29 bytes
  std::string expected = "AAAA" + std::string(1, '\2') + title + std::string(3, '\0') +  //
                         "BBBB" + std::string(1, '\0') +                                   //
                         "CCCC" + std::string(1, '\2') + StreamTitleText("y", "u") + std::string(2, '\0') +
                         "DD";
  EXPECT_EQ(InterleaveMetadata("AAAABBBBCCCCDD", 4, {{0, "x"}, {12, "y", "u"}}), expected);

  std::string repeated = InterleaveMetadata("AAAABBBB", 4, {{0, "x"}}, true);
  EXPECT_EQ(repeated, "AAAA" + MetadataBlock(title) + "BBBB" + MetadataBlock(title));
  EXPECT_EQ(MetadataBlock(""), std::string(1, '\0'));
  EXPECT_EQ(MetadataBlock(std::string(16, 't')), "\1" + std::string(16, 't'));
}

TEST(IcyTestServerTest, EachConnectionTakesNextScriptAndLastOneRepeats) {
  IcyTestServer server;
  server.Push({"ICY 200 OK\r\n\r\n", "first"});
  server.Push({"ICY 200 OK\r\n\r\n", "second"});
  EXPECT_EQ(Fetch(server), "ICY 200 OK\r\n\r\nfirst");
  EXPECT_EQ(Fetch(server), "ICY 200 OK\r\n\r\nsecond");
  EXPECT_EQ(Fetch(server), "ICY 200 OK\r\n\r\nsecond");
  EXPECT_EQ(server.ConnectionCount(), 3u);
  EXPECT_EQ(server.Requests().size(), 3u);
  EXPECT_EQ(server.Request(3), "");
}

TEST(IcyTestServerTest, CutAndPacedResponsesSendExactlyTheirBytes) {
  IcyTestServer server;
  IcyResponse cut{"ICY 200 OK\r\n\r\n", "0123456789"};
  cut.closeAfter = 14 + 4;
  server.Push(cut);
  EXPECT_EQ(Fetch(server), "ICY 200 OK\r\n\r\n0123");

  IcyResponse paced{"ICY 200 OK\r\n\r\n", TestBytes(3000)};
  paced.pieceSize = 1000;
  paced.pieceDelay = 20ms;
  server.Push(paced);
  EXPECT_EQ(Fetch(server), paced.head + paced.body);
}

TEST(IcyTestServerTest, DestructorEndsStallsAndBlockedSendsPromptly) {
  auto running = std::async(std::launch::async, [] {
    // Declared first, so they are still open when the server goes away.
    HttpConnection reader;  // opened, never read: the server's send blocks
    HttpConnection waiting;
    IcyTestServer server;
    IcyResponse huge{"ICY 200 OK\r\n\r\n", TestBytes(32 * 1024 * 1024)};
    server.Push(huge);
    reader.Open(server.Url(), "");
    IcyResponse silent;
    silent.stall = true;
    server.Push(silent);
    auto opening = std::async(std::launch::async, [&] { waiting.Open(server.Url(), ""); });
    server.WaitForRequests(2);
    waiting.Abort();
    opening.wait();
  });  // the server goes away while both connections are open
  EXPECT_EQ(running.wait_for(10s), std::future_status::ready);
}

}  // namespace

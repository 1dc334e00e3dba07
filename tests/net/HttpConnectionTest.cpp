#include "net/HttpConnection.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TlsTestServer.h"

namespace {

using namespace std::chrono_literals;

constexpr int32_t kReadSize = 50000;
// Far above anything a working abort needs; only there so that a broken one
// fails the test instead of hanging it.
constexpr auto kPromptly = 5s;

const std::string kIcyRequest = "Accept: text/*\r\nUser-Agent: winamp\r\nicy-metadata:1\r\n";

// The bytes that wait unread in the connection's sockets.
size_t WaitingBytes(const HttpConnection& connection) {
  size_t waiting = 0;
  for (const int fd : connection.OpenSockets()) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) == 0 && count > 0) {
      waiting += static_cast<size_t>(count);
    }
  }
  return waiting;
}

// Everything Read hands out until the end of the transfer, checking that no
// read returns more than asked for.
std::string ReadToEnd(HttpConnection& connection, int32_t size = kReadSize) {
  std::string received;
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  for (;;) {
    int32_t count = connection.Read(buffer.data(), size);
    EXPECT_LE(count, size);
    if (count <= 0) {
      return received;
    }
    received.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(count));
  }
}

// Reads exactly count bytes.
std::string ReadBytes(HttpConnection& connection, size_t count) {
  std::string received;
  std::vector<uint8_t> buffer(count);
  while (received.size() < count) {
    int32_t got = connection.Read(buffer.data(), static_cast<int32_t>(count - received.size()));
    if (got <= 0) {
      break;
    }
    received.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got));
  }
  return received;
}

std::string OpenAndReadAll(const IcyResponse& response, const std::string& path = "/stream") {
  IcyTestServer server;
  server.Push(response);
  HttpConnection connection;
  connection.Open(server.Url(path), kIcyRequest);
  return ReadToEnd(connection);
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// A redirect after which the server closes the connection, and says so:
// curl then makes a new connection instead of retrying the closed one.
IcyResponse ClosingRedirect(const std::string& location) {
  IcyResponse redirect = IcyResponse::Redirect(location);
  redirect.head.insert(redirect.head.size() - 2, "Connection: close\r\n");
  return redirect;
}

// What Open throws for url; "(no error)" when it succeeds.
std::string OpenFailure(HttpConnection& connection, const std::string& url) {
  try {
    connection.Open(url, kIcyRequest);
  } catch (const ConnectionError& error) {
    return error.what();
  }
  return "(no error)";
}

// What Read throws once the bytes before the failure are read; "(no error)"
// when the transfer ends normally.
std::string ReadFailure(HttpConnection& connection) {
  try {
    ReadToEnd(connection);
  } catch (const ConnectionError& error) {
    return error.what();
  }
  return "(no error)";
}

// False if running has not finished within kPromptly; the caller then
// releases the server's stalls, so the test ends either way.
bool FinishesPromptly(std::future<void>& running) { return running.wait_for(kPromptly) == std::future_status::ready; }

TEST(HttpConnectionTest, EveryProtocolHandsOnRawHeaderBlockThenBody) {
  std::string body = InterleaveMetadata(TestBytes(100), 16, {{0, "First"}, {48, "Second"}});

  std::string icyHead = "ICY 200 OK\r\nicy-name:Radio\r\nicy-br:128\r\nicy-metaint:16\r\n\r\n";
  EXPECT_EQ(OpenAndReadAll({icyHead, body}), icyHead + body);

  std::string icecastHead = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-metaint:16\r\n\r\n";
  EXPECT_EQ(OpenAndReadAll({icecastHead, body}), icecastHead + body);

  std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nicy-metaint:16\r\n\r\n";
  EXPECT_EQ(OpenAndReadAll({chunkedHead, ChunkedBody(body, 7)}), chunkedHead + body);
}

TEST(HttpConnectionTest, HeaderLinesEndedByBareLineFeedAreHandedOnWithCarriageReturn) {
  std::string body = TestBytes(40);
  EXPECT_EQ(OpenAndReadAll({"ICY 200 OK\nicy-name:Radio\nicy-metaint:16000\n\n", body}),
            "ICY 200 OK\r\nicy-name:Radio\r\nicy-metaint:16000\r\n\r\n" + body);
}

TEST(HttpConnectionTest, RedirectAndInterimResponsesDoNotReachTheReader) {
  std::string head = "HTTP/1.0 200 OK\r\nicy-metaint:8\r\nContent-Type:  audio/x-scpls \r\n\r\n";
  std::string body = TestBytes(30);
  {
    IcyTestServer server;
    server.Push(IcyResponse::Redirect("/final"));
    server.Push({head, body});
    HttpConnection connection;
    connection.Open(server.Url("/first"), kIcyRequest);
    EXPECT_EQ(connection.StatusCode(), 200);
    // What the final response says, and where it came from (relative
    // playlist entries resolve against it).
    EXPECT_EQ(connection.ContentType(), "audio/x-scpls");
    EXPECT_EQ(connection.EffectiveUrl(), server.Url("/final"));
    EXPECT_EQ(ReadToEnd(connection), head + body);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Request(1).rfind("GET /final ", 0), 0u);
    EXPECT_EQ(CountOf(server.Request(1), "icy-metadata:1\r\n"), 1u);
  }
  EXPECT_EQ(OpenAndReadAll({"HTTP/1.1 100 Continue\r\n\r\n" + head, body}), head + body);
}

TEST(HttpConnectionTest, StatusOutsideSuccessThrowsInOpen) {
  for (std::string status : {"404 Not Found", "401 Unauthorized", "503 Service Unavailable"}) {
    IcyTestServer server;
    server.Push({"HTTP/1.1 " + status + "\r\nContent-Length: 4\r\n\r\n", "oops"});
    HttpConnection connection;
    try {
      connection.Open(server.Url(), kIcyRequest);
      ADD_FAILURE() << status << " was taken for success";
    } catch (const ConnectionError& error) {
      EXPECT_EQ(std::string(error.what()), "HTTP " + status);
    }
    EXPECT_EQ(connection.StatusCode(), std::stol(status));
    EXPECT_EQ(connection.StatusLine(), "HTTP/1.1 " + status);
    uint8_t byte;
    EXPECT_THROW(connection.Read(&byte, 1), ConnectionError);
  }
}

TEST(HttpConnectionTest, RedirectLoopThrows) {
  IcyTestServer server;
  server.Push(IcyResponse::Redirect("/again"));
  HttpConnection connection;
  EXPECT_THROW(connection.Open(server.Url(), kIcyRequest), ConnectionError);
}

TEST(HttpConnectionTest, ResponsesWithoutUsableStatusLineThrowInOpen) {
  // With HTTP/0.9 accepted, these bytes would come out as body (audio).
  for (std::string garbage : {std::string("\x01\x02garbage\r\n\r\nmore bytes"), std::string("SOURCE OK\r\n\r\n"),
                              std::string("ICY 401 Service Unavailable\r\n\r\n")}) {
    IcyTestServer server;
    server.Push({garbage, ""});
    HttpConnection connection;
    EXPECT_THROW(connection.Open(server.Url(), kIcyRequest), ConnectionError) << garbage;
  }
  {
    IcyTestServer server;
    server.Push({"", ""});  // closed without a byte
    HttpConnection connection;
    EXPECT_THROW(connection.Open(server.Url(), kIcyRequest), ConnectionError);
  }
  {
    RefusingPort refusing;
    HttpConnection connection;
    EXPECT_THROW(connection.Open(refusing.Url(), kIcyRequest), ConnectionError);
  }
}

TEST(HttpConnectionTest, EndOfTransferReadsZeroEveryTime) {
  IcyTestServer server;
  std::string head = "HTTP/1.0 200 OK\r\nicy-metaint:16000\r\n\r\n";
  server.Push({head, "abc"});
  HttpConnection connection;
  connection.Open(server.Url(), kIcyRequest);
  EXPECT_EQ(ReadToEnd(connection), head + "abc");
  uint8_t buffer[16];
  EXPECT_EQ(connection.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(connection.Read(buffer, sizeof buffer), 0);
}

TEST(HttpConnectionTest, BrokenChunkedTransferThrowsAfterTheBytesThatArrived) {
  IcyTestServer server;
  std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string body = TestBytes(1000);
  std::string chunked = ChunkedBody(body, 100);
  IcyResponse response{head, chunked};
  response.closeAfter = head.size() + chunked.size() / 2;
  server.Push(response);
  HttpConnection connection;
  connection.Open(server.Url(), kIcyRequest);
  std::string received;
  std::vector<uint8_t> buffer(kReadSize);
  try {
    for (;;) {
      int32_t count = connection.Read(buffer.data(), kReadSize);
      ASSERT_GT(count, 0) << "a cut transfer was reported as a normal end";
      received.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(count));
    }
  } catch (const ConnectionError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("connection lost (", 0), 0u) << error.what();
  }
  ASSERT_GT(received.size(), head.size());
  EXPECT_EQ(received, (head + body).substr(0, received.size()));
}

TEST(HttpConnectionTest, HeaderBlockLargerThanLimitThrowsWithoutItsEnd) {
  std::string line = "x-filler: " + std::string(990, 'f') + "\r\n";
  std::string head = "ICY 200 OK\r\n";
  while (head.size() < 60 * 1024) {
    head += line;
  }
  // Just below the limit: accepted.
  EXPECT_EQ(OpenAndReadAll({head + "\r\n", "abc"}), head + "\r\n" + "abc");

  while (head.size() <= static_cast<size_t>(HttpConnection::kMaxHeaderBytes)) {
    head += line;
  }
  IcyTestServer server;
  IcyResponse endless{head, ""};
  endless.stall = true;  // the empty line never comes, the connection stays
  server.Push(endless);
  HttpConnection connection;
  auto opening = std::async(std::launch::async, [&] { connection.Open(server.Url(), kIcyRequest); });
  bool finished = FinishesPromptly(opening);
  server.ReleaseStalls();
  EXPECT_TRUE(finished);
  try {
    opening.get();
    ADD_FAILURE() << "an endless header block was accepted";
  } catch (const ConnectionError& error) {
    EXPECT_NE(std::string(error.what()).find("header block"), std::string::npos) << error.what();
  }
}

TEST(HttpConnectionTest, ServerGetsOneUserAgentAndTheExtraHeaderLines) {
  IcyTestServer server;
  server.Push({"ICY 200 OK\r\n\r\n", ""});
  {
    HttpConnection connection;
    connection.Open(server.Url("/live"), kIcyRequest);
  }
  {
    HttpConnection connection;
    connection.Open(server.Url("/plain"), "");
  }
  ASSERT_TRUE(server.WaitForRequests(2));
  std::string icy = server.Request(0);
  EXPECT_EQ(icy.rfind("GET /live HTTP/1.1\r\n", 0), 0u) << icy;
  EXPECT_EQ(CountOf(icy, "User-Agent:"), 1u) << icy;
  EXPECT_EQ(CountOf(icy, "User-Agent: winamp\r\n"), 1u) << icy;
  EXPECT_EQ(CountOf(icy, "icy-metadata:1\r\n"), 1u) << icy;
  EXPECT_EQ(CountOf(icy, "Accept:"), 1u) << icy;
  EXPECT_EQ(CountOf(icy, "Accept: text/*\r\n"), 1u) << icy;

  std::string plain = server.Request(1);
  EXPECT_EQ(CountOf(plain, "User-Agent: Driftharbour\r\n"), 1u) << plain;
  EXPECT_EQ(CountOf(plain, "icy-metadata"), 0u) << plain;
}

TEST(HttpConnectionTest, AbortBeforeOpenMakesOpenThrowWithoutConnecting) {
  IcyTestServer server;
  server.Push({"ICY 200 OK\r\n\r\n", "abc"});
  HttpConnection connection;
  connection.Abort();
  connection.Abort();
  EXPECT_THROW(connection.Open(server.Url(), kIcyRequest), ConnectionError);
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST(HttpConnectionTest, AbortUnblocksOpenWaitingForSilentServer) {
  IcyTestServer server;
  IcyResponse silent;
  silent.stall = true;
  server.Push(silent);
  HttpConnection connection;
  auto opening = std::async(std::launch::async, [&] { connection.Open(server.Url(), kIcyRequest); });
  ASSERT_TRUE(server.WaitForRequests(1));
  connection.Abort();
  bool finished = FinishesPromptly(opening);
  server.ReleaseStalls();
  EXPECT_TRUE(finished);
  EXPECT_THROW(opening.get(), ConnectionError);
}

TEST(HttpConnectionTest, AbortUnblocksReadOnStalledStreamAndLaterReads) {
  IcyTestServer server;
  std::string head = "ICY 200 OK\r\nicy-metaint:16\r\n\r\n";
  IcyResponse stalled{head, "abcd"};
  stalled.stall = true;
  server.Push(stalled);
  HttpConnection connection;
  connection.Open(server.Url(), kIcyRequest);
  ASSERT_EQ(ReadBytes(connection, head.size() + 4), head + "abcd");

  auto reading = std::async(std::launch::async, [&] {
    uint8_t buffer[64];
    connection.Read(buffer, sizeof buffer);
  });
  EXPECT_EQ(reading.wait_for(100ms), std::future_status::timeout) << "Read returned without bytes";
  connection.Abort();
  bool finished = FinishesPromptly(reading);
  server.ReleaseStalls();
  EXPECT_TRUE(finished);
  EXPECT_THROW(reading.get(), ConnectionError);
  uint8_t byte;
  EXPECT_THROW(connection.Read(&byte, 1), ConnectionError);
}

TEST(HttpConnectionTest, AbortWhileServerSendsNeverLosesTheAbort) {
  // The abort lands at random points of a paced transfer: before, during or
  // between curl's calls.
  IcyTestServer server;
  IcyResponse paced{"ICY 200 OK\r\n\r\n", TestBytes(64 * 1024)};
  paced.pieceSize = 512;
  paced.pieceDelay = 1ms;
  server.Push(paced);
  for (int round = 0; round < 20; ++round) {
    HttpConnection connection;
    auto reading = std::async(std::launch::async, [&] {
      connection.Open(server.Url(), kIcyRequest);
      ReadToEnd(connection, 100);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
    connection.Abort();
    ASSERT_TRUE(FinishesPromptly(reading));
    EXPECT_THROW(reading.get(), ConnectionError);
  }
}

TEST(HttpConnectionTest, LargeBodyArrivesCompleteAndInOrder) {
  std::string body = TestBytes(6 * 1024 * 1024, 7);
  std::string head = "HTTP/1.0 200 OK\r\nicy-metaint:16000\r\n\r\n";
  EXPECT_EQ(OpenAndReadAll({head, body}), head + body);

  std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(OpenAndReadAll({chunkedHead, ChunkedBody(body, 40000)}), chunkedHead + body);
}

TEST(HttpConnectionTest, SlowReaderStillGetsEveryByte) {
  // The reader lags behind, so the transfer is paused and resumed many times.
  IcyTestServer server;
  std::string head = "ICY 200 OK\r\n\r\n";
  std::string body = TestBytes(2 * 1024 * 1024, 3);
  server.Push({head, body});
  HttpConnection connection;
  connection.Open(server.Url(), kIcyRequest);
  // The reader starts behind: more than a read takes waits in the socket
  // (a receive buffer of the usual 128 KiB holds that much).
  EXPECT_TRUE(Eventually([&] { return WaitingBytes(connection) > 64 * 1024; }));
  std::string received;
  std::vector<uint8_t> buffer(kReadSize);
  for (int count; (count = connection.Read(buffer.data(), kReadSize)) > 0;) {
    received.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(count));
    if (received.size() % 7 == 0) {
      std::this_thread::sleep_for(1ms);
    }
  }
  EXPECT_EQ(received, head + body);
}

TEST(HttpConnectionTest, FailuresGiveTheirReasonInPlainWords) {
  struct Row {
    std::string label;
    std::optional<IcyResponse> response;  // served by a fresh loopback server at url "/"
    std::string url;                      // used when there is no response
    std::string reason;
  };
  std::string accented;  // 161 bytes: a 100-byte cut would split a character
  for (int i = 0; i < 80; ++i) {
    accented += "\xc3\xa9";
  }
  IcyTestServer untouched;  // bad schemes must not reach it
  RefusingPort refusing;
  std::string hostPort = "127.0.0.1:" + std::to_string(untouched.Port());
  const std::vector<Row> rows = {
      {"the server's own phrase", IcyResponse{"HTTP/1.1 404 Station Gone Fishing\r\n\r\n", ""}, "",
       "HTTP 404 Station Gone Fishing"},
      {"no phrase", IcyResponse{"HTTP/1.1 404\r\n\r\n", ""}, "", "HTTP 404 Not Found"},
      {"blank phrase", IcyResponse{"HTTP/1.0 500 \r\n\r\n", ""}, "", "HTTP 500 Internal Server Error"},
      {"no phrase, unusual code", IcyResponse{"HTTP/1.1 599\r\n\r\n", ""}, "", "HTTP 599"},
      {"long phrase", IcyResponse{"HTTP/1.1 403 a" + accented + "\r\n\r\n", ""}, "",
       "HTTP 403 a" + accented.substr(0, 98)},
      {"garbage", IcyResponse{"\x01\x02garbage\r\n\r\n", ""}, "", "the server's answer is not HTTP"},
      {"closed at once", IcyResponse{"", ""}, "", "no response from the server"},
      {"redirect loop", ClosingRedirect("/"), "", "too many redirects"},
      {"refused", std::nullopt, refusing.Url(), "connection refused"},
      {"ftp", std::nullopt, "ftp://" + hostPort + "/x", "not an http or https URL"},
      {"no scheme", std::nullopt, hostPort + "/x", "not an http or https URL"},
      {"notaurl", std::nullopt, "notaurl", "not an http or https URL"},
      {"empty", std::nullopt, "", "not an http or https URL"},
      {"no host", std::nullopt, "HTTP://", "not an http or https URL"},
  };
  for (const Row& row : rows) {
    std::optional<IcyTestServer> server;
    std::string url = row.url;
    if (row.response) {
      server.emplace();
      server->Push(*row.response);
      url = server->Url();
    }
    HttpConnection connection;
    EXPECT_EQ(OpenFailure(connection, url), row.reason) << row.label;
  }
  EXPECT_EQ(untouched.ConnectionCount(), 0u);
}

TEST(HttpConnectionTest, CertificateNobodyTrustsIsRefused) {
  if (!TlsTestServer::Available()) {
    GTEST_SKIP() << "the openssl tool is missing";
  }
  TlsTestServer server;
  HttpConnection connection;
  std::string reason = OpenFailure(connection, server.Url());
  // The detail in brackets is the TLS library's and varies with its version.
  EXPECT_EQ(reason.rfind("certificate not trusted (", 0), 0u) << reason;
  EXPECT_EQ(reason.back(), ')') << reason;
  EXPECT_EQ(reason.find("SSL certificate problem"), std::string::npos) << reason;
}

TEST(HttpConnectionTest, StallNamesTheConfiguredLimitBeforeAndAfterTheHeader) {
  const std::string reason = "the stream stalled (less than 1000 bytes/s for 1 s)";
  for (std::string head : {"", "ICY 200 OK\r\n\r\n"}) {
    IcyTestServer server;
    IcyResponse silent{head, ""};
    silent.stall = true;
    server.Push(silent);
    HttpConnection connection;
    connection.SetStallLimit(1000, 1);
    if (head.empty()) {
      EXPECT_EQ(OpenFailure(connection, server.Url()), reason);
    } else {
      connection.Open(server.Url(), kIcyRequest);
      EXPECT_EQ(ReadFailure(connection), reason);
    }
  }
}

TEST(HttpConnectionTest, ReasonsForFailuresTheLoopbackCannotStage) {
  using Failure = HttpConnection::TransferFailure;
  struct Row {
    Failure failure;
    std::string reason;
  };
  const std::vector<Row> rows = {
      {{CURLE_COULDNT_RESOLVE_HOST, 0, "Could not resolve host: x"}, "host not found"},
      {{CURLE_COULDNT_RESOLVE_PROXY, 0, ""}, "proxy not found"},
      {{CURLE_COULDNT_CONNECT, ENETUNREACH, "Failed to connect"}, "cannot connect (network is unreachable)"},
      {{CURLE_COULDNT_CONNECT, 0, "Failed to connect"}, "cannot connect"},
      {{CURLE_OPERATION_TIMEDOUT, 0, "Connection timed out", false}, "no answer from the server"},
      {{CURLE_OPERATION_TIMEDOUT, 0, "Operation too slow", true, 2, 30},
       "the stream stalled (less than 2 bytes/s for 30 s)"},
      {{CURLE_SSL_CONNECT_ERROR, 0, "TLS alert, handshake failure\n"},
       "secure connection failed (TLS alert, handshake failure)"},
      {{CURLE_SSL_CONNECT_ERROR, 0, ""}, "secure connection failed"},
      {{CURLE_PEER_FAILED_VERIFICATION, 0, "SSL: certificate subject name does not match"},
       "certificate not trusted (SSL: certificate subject name does not match)"},
      {{CURLE_RECV_ERROR, ECONNRESET, "Recv failure: Connection reset by peer"},
       "connection lost (Recv failure: Connection reset by peer)"},
      // Before the request: a redirect to another scheme. After it: an
      // answer curl took for HTTP/0.9.
      {{CURLE_UNSUPPORTED_PROTOCOL, 0, "Protocol \"ftp\" not supported", false}, "not an http or https URL"},
      {{CURLE_UNSUPPORTED_PROTOCOL, 0, "Received HTTP/0.9 when not allowed", true},
       "the server's answer is not HTTP"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(HttpConnection::DescribeFailure(row.failure), row.reason)
        << curl_easy_strerror(static_cast<CURLcode>(row.failure.curlCode));
  }
}

// The receive low-water mark is set through the sockets the connection
// notes; after a redirect to another server, two sockets have lived, and a
// socket curl closed must not be among them (its number may be reused).
TEST(HttpConnectionTest, AfterRedirectOnlyOpenSocketsOfTheTransferAreNoted) {
  auto peerPort = [](int fd) -> int {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 ? ntohs(peer.sin_port) : -1;
  };
  std::string head = "ICY 200 OK\r\n\r\n";
  std::string body = TestBytes(1000);
  for (bool closeFirst : {false, true}) {
    SCOPED_TRACE(closeFirst ? "first connection closed by curl" : "first connection kept");
    IcyTestServer first;
    IcyTestServer final;
    first.Push(closeFirst ? ClosingRedirect(final.Url("/final")) : IcyResponse::Redirect(final.Url("/final")));
    IcyResponse open{head, body};
    open.stall = true;  // the final connection stays while it is looked at
    final.Push(open);
    HttpConnection connection;
    connection.Open(first.Url(), kIcyRequest);

    std::vector<int> sockets = connection.OpenSockets();
    ASSERT_FALSE(sockets.empty());
    EXPECT_LE(sockets.size(), closeFirst ? 1u : 2u);
    for (int fd : sockets) {
      ASSERT_NE(::fcntl(fd, F_GETFD), -1) << "a closed socket was noted";
      int port = peerPort(fd);
      EXPECT_TRUE(port == final.Port() || (!closeFirst && port == first.Port())) << port;
    }
    int finalSocket = sockets.back();
    EXPECT_EQ(peerPort(finalSocket), final.Port());
    int mark = 0;
    socklen_t length = sizeof mark;
    ASSERT_EQ(::getsockopt(finalSocket, SOL_SOCKET, SO_RCVLOWAT, &mark, &length), 0);
    EXPECT_EQ(mark, 16 * 1024);
    EXPECT_EQ(ReadBytes(connection, head.size() + body.size()), head + body);
  }
}

}  // namespace

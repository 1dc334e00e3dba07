#pragma once

// A loopback HTTP/ICY server for the stream tests, plus helpers that build
// the bytes it serves. It listens on 127.0.0.1 only, on a port the system
// picks, and answers each connection with a scripted response:
//
//   IcyTestServer server;
//   server.Push({"ICY 200 OK\r\nicy-name:Radio\r\nicy-metaint:16\r\n\r\n",
//                InterleaveMetadata(TestBytes(64), 16, {{0, "First"}, {32, "Second"}})});
//   HttpConnection connection;
//   connection.Open(server.Url("/stream"), "icy-metadata:1\r\n");
//   ...
//   EXPECT_NE(server.Request(0).find("icy-metadata:1\r\n"), std::string::npos);
//
// Scripts: every new connection (and every further request on a connection
// kept open, see IcyResponse::keepAlive) takes the next pushed IcyResponse; when none
// is left, the one served last answers again (none ever pushed: a 404).
// Routes come first: a request for a routed path (the request target
// without its query) gets the route's response, every time, and takes no
// script. Route() replaces a path's response while the server serves, as a
// live HLS playlist moves on:
//
//   server.Route("/live.m3u8", {"HTTP/1.1 200 OK\r\n\r\n", playlistText});
//   server.Route("/seg7.ts", {"HTTP/1.1 200 OK\r\n\r\n", segmentBytes});
//
// A response is its head and body sent as they are (any status line, any
// garbage), optionally cut after closeAfter bytes, optionally paced in
// pieces, and then either closed (the end of the transfer; a reset when
// asked) or held open without sending anything (stall) until
// ReleaseStalls(), the client's close, or the server's destruction. Redirect() and ChunkedBody() build the
// usual variants. The server records every request's raw header text
// ("GET /stream HTTP/1.1\r\n...\r\n\r\n") and counts connections.
//
// Linking this file into a test program (any use of IcyTestServer or
// RefusingPort does) also runs curl_global_init before main(), while the
// program has one thread, and curl_global_cleanup after it: the test
// programs use gtest's main(), which does not.
//
// Threads: the server runs one accepting thread and one thread per
// connection. Every public operation may be called from any thread. The
// destructor stops everything promptly (stalls, paced sends and sends
// blocked by a client that does not read included) and joins every thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"

struct IcyResponse {
  static constexpr size_t kEverything = std::numeric_limits<size_t>::max();

  // Status line and header lines with their empty line, sent unchanged.
  std::string head;
  // The bytes after the head, sent unchanged.
  std::string body;
  // At most this many bytes of head + body are sent.
  size_t closeAfter = kEverything;
  // After sending, keep the connection open and silent instead of closing.
  bool stall = false;
  // When not 0: send in pieces of this size with pieceDelay before each
  // piece after the first.
  size_t pieceSize = 0;
  std::chrono::milliseconds pieceDelay{0};
  // The first paceAfter bytes go at once; pacing applies to the rest.
  size_t paceAfter = 0;
  // End with a connection reset (RST, SO_LINGER 0) instead of an orderly
  // close; a stall, when set, comes first.
  bool reset = false;
  // HTTP keep-alive: once sent whole, the connection stays open for the
  // client's next request (answered as any request is) instead of closing.
  // The head must give the body's Content-Length. Ignored with stall, reset
  // or closeAfter.
  bool keepAlive = false;

  // A redirect to location (a path of this server, or a whole URL).
  static IcyResponse Redirect(const std::string& location, int status = 302);
};

// body in chunked transfer encoding, chunks of chunkSize bytes, with the
// closing zero-length chunk.
std::string ChunkedBody(const std::string& body, size_t chunkSize);

// "StreamTitle='title';StreamUrl='url';"
std::string StreamTitleText(const std::string& title, const std::string& url = "");

// One metadata block as it follows an audio block: the length byte N and
// text NUL-padded to N * 16 bytes. An empty text gives the single byte 0.
// Throws std::invalid_argument for a text longer than 255 * 16 bytes.
std::string MetadataBlock(const std::string& text);

// A title that takes effect at an audio byte offset.
struct TitleCue {
  size_t audioOffset = 0;
  std::string title;
  std::string url{};  // an initialiser, so that {offset, title} compiles without warnings
};

// The ICY stream body for audio with a metadata block after every interval
// audio bytes (also after the last block when audio ends on a boundary; a
// shorter tail gets none). The block after audio offset k * interval
// carries the newest cue with audioOffset <= k * interval, as
// StreamTitleText; when that cue was already announced the block is the
// single byte 0, unless repeatTitles is set. Cues must be in offset order.
std::string InterleaveMetadata(const std::string& audio, size_t interval, const std::vector<TitleCue>& cues,
                               bool repeatTitles = false);

// count deterministic pseudo-random bytes (stand-in audio).
std::string TestBytes(size_t count, uint32_t seed = 1);

class IcyTestServer {
 public:
  // Listens at once. Throws std::runtime_error when it cannot.
  IcyTestServer();
  ~IcyTestServer();

  IcyTestServer(const IcyTestServer&) = delete;
  IcyTestServer& operator=(const IcyTestServer&) = delete;

  // Adds a script for a later connection.
  void Push(IcyResponse response);

  // Answers every later request for path ("/live.m3u8") with response,
  // instead of a script; replaces the path's earlier route. A connection
  // already being answered keeps the response it took.
  void Route(const std::string& path, IcyResponse response);
  // How many requests for path (the target without its query) arrived.
  size_t RequestCount(const std::string& path) const;

  uint16_t Port() const { return port; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path = "/") const;

  // The raw header text of every request so far, in arrival order.
  std::vector<std::string> Requests() const;
  // The index'th request; empty when there is none yet.
  std::string Request(size_t index) const;
  // Connections accepted so far (a client may connect without requesting).
  size_t ConnectionCount() const;
  // Waits until count requests have arrived; false after timeout.
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  // Ends every stall going on now (the connections are closed).
  void ReleaseStalls();

 private:
  void AcceptLoop();
  void Serve(UniqueFd connection);
  // Reads one request on fd and answers it; true when the connection stays
  // open for another.
  bool ServeRequest(int fd, uint64_t releaseMark);
  // The route of the request's path, else the next script.
  IcyResponse NextScript(const std::string& request);
  // Waits for the stop pipe for at most timeoutMs; true when stopping.
  bool Sleep(int timeoutMs) const;
  bool SendAll(int fd, const char* bytes, size_t length) const;
  void Stall(int fd, uint64_t releaseMark) const;

  // Constant after construction.
  UniqueFd listener;
  UniqueFd stopRead;  // readable once the server stops
  UniqueFd stopWrite;
  uint16_t port = 0;

  std::thread acceptor;

  mutable std::mutex mutex;
  mutable std::condition_variable requestArrived;
  std::deque<IcyResponse> scripts;          // guarded by mutex: not served yet
  std::optional<IcyResponse> lastScript;    // guarded by mutex: served last
  std::map<std::string, IcyResponse> routes;  // guarded by mutex: by path
  std::vector<std::string> requests;     // guarded by mutex
  size_t connections = 0;                // guarded by mutex
  uint64_t releases = 0;                 // guarded by mutex
  std::vector<std::thread> servers;      // guarded by mutex
};

// A loopback port that refuses connections: a bound socket that never
// listens, kept bound so that nothing else takes the port meanwhile.
class RefusingPort {
 public:
  RefusingPort();

  uint16_t Port() const { return port; }
  std::string Url(const std::string& path = "/") const;

 private:
  UniqueFd socket;
  uint16_t port = 0;
};

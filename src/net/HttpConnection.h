#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// A network failure: the request could not be made, the answer was not a
// 2xx response, the transfer broke, or the connection was aborted. what()
// is a short reason in plain words, meant for the user: "HTTP 404 Not
// Found", "connection refused", "host not found", "certificate not trusted
// (self-signed certificate)", "connection aborted", ... A text may carry
// bytes from the server or from the system (a status line's reason phrase,
// at most about 100 bytes of it; an error detail) unescaped: whoever shows
// it escapes control bytes.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One HTTP(S) request and its response, read as a raw byte stream, over
// libcurl's multi interface (one easy handle in one multi handle, both owned
// by the connection and released by its destructor).
//
// What a reader gets from Read(): first the final response's status line and
// header lines exactly as the server sent them, each ended by CR LF (a line
// the server ended with a bare LF is handed on ended by CR LF), then the
// empty line "\r\n"; then the body, de-chunked when the server used chunked
// transfer encoding. This holds for "ICY 200 OK", "HTTP/1.0" and "HTTP/1.1"
// answers alike. Redirects (at most 10, to http and https only) are
// followed and only the last response's header block is handed on; 1xx
// interim responses and a proxy's CONNECT answer are not handed on either,
// nor are the trailers of a chunked body. HTTP/0.9 answers are refused, so
// that a response without a status line never reaches the reader as audio.
// HTTPS and the proxy environment variables work as in curl. Only http and
// https URLs are accepted.
//
// Time limits: connecting may take 30 s. Once connected there is no overall
// limit (a stream runs for hours), but a transfer that delivers less than
// 1 byte per second for 60 s in a row fails with a ConnectionError, so a
// server that silently went away is noticed eventually; this holds while
// the header block is awaited too. SetStallLimit changes both figures
// (tests use a few seconds). A reader that stops reading pauses the
// transfer (see below), which does not count as slow.
//
// Wakeups: once the header block is in, the socket wakes the reader only
// when 16 KB wait or the 1 s poll interval has passed, so Read hands out
// a slow stream's bytes in larger pieces, at most about a second late. The
// bytes and their order are the same.
//
// Memory: received bytes wait in an internal queue until read. When the
// queue holds more than a few hundred KB the transfer is paused, and it is
// resumed once the reader has emptied the queue, so a slow reader never
// makes the connection hold more than that.
//
// Threads: Open and Read are called by one thread (the stream's worker);
// curl's callbacks run inside them, on that thread, so the queue needs no
// lock. Abort may be called from any thread at any time, any number of
// times, also before Open: it sets an atomic flag and wakes the multi handle
// (curl_multi_wakeup), which makes a blocked or later Open or Read throw
// ConnectionError at once, also while a name is looked up or a connection
// is being made. Abort releases nothing; the handles are released by the
// destructor, which the owner runs only once no thread is inside Open, Read
// or Abort. After an Abort, the destructor does not wait for a name look-up
// still running in curl's resolver thread.
//
// Sockets: every socket of the connection is opened and closed by the
// connection itself (through curl's socket callbacks), so it knows which
// descriptors are its own and open; the receive low-water mark above is set
// on those only, never on a descriptor curl has already closed.
//
// Kept connections: a connection given a ConnectionShare before Open runs
// its transfer over the share's kept connection when there is one (no new
// TCP connection, no TLS handshake), resumes the share's TLS session when
// it must connect anew, and leaves its connection in the share when its
// response was read to the end. Its sockets are then the share's.
//
// Pieces: CurlHandles own curl's handles, ResponseHead puts the final
// header block together, HttpFailureText words the failures.
//
// Curl must have been initialised (curl_global_init) before the first
// connection is created, while the process has one thread: main() does it
// for the programs, and the test support library (tests/support/
// IcyTestServer.cpp) does it for the test programs.
class ConnectionShare;

class HttpConnection {
 public:
  static constexpr int32_t kStallBytesPerSecond = 1;
  static constexpr int32_t kStallSeconds = 60;

  // What curl reported about a failed transfer, as DescribeFailure reads it.
  struct TransferFailure {
    int curlCode = 0;  // the transfer's CURLcode
    int osErrno = 0;   // CURLINFO_OS_ERRNO; 0 when there is none
    // curl's error buffer: the detail of a TLS or transfer failure; may be
    // empty.
    std::string detail;
    // A connection was made and the request went out (for the request that
    // failed, after any redirects): a timeout is then a stall, not a server
    // that never answered.
    bool requestSent = false;
    int32_t stallBytesPerSecond = kStallBytesPerSecond;
    int32_t stallSeconds = kStallSeconds;
  };

  // The reason ConnectionError::what() gives for a failed transfer. Pure;
  // any thread.
  static std::string DescribeFailure(const TransferFailure& failure);

  // Throws ConnectionError when curl cannot create its multi handle.
  HttpConnection();
  ~HttpConnection();

  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Sends the request for url with the extra request header lines in
  // headerText (each ended by CR LF; a "User-Agent" among them replaces the
  // default agent "Driftharbour", so only one reaches the server), and waits
  // until the final response's header block has arrived. Throws
  // ConnectionError on a network failure, a final status outside 2xx, a
  // header block larger than kMaxHeaderBytes, or an abort. Called once per
  // connection; a second call throws std::logic_error. A url that does not
  // start with "http://" or "https://" (in any case) throws
  // ConnectionError("not an http or https URL") without any network access.
  void Open(const std::string& url, const std::string& headerText);

  // Blocks until bytes are there and copies at most size of them into
  // buffer. Returns 0 when the server ended the transfer normally (also on
  // every later call), and 0 without reading when size is not positive.
  // Bytes that arrived before a network failure are handed out first; the
  // failure is thrown by the Read after them. Throws ConnectionError on a
  // network failure, an abort, or when Open has not succeeded.
  int32_t Read(uint8_t* buffer, int32_t size);

  // Before Open: a transfer slower than bytesPerSecond for seconds in a row
  // fails. Values below 1 keep the defaults below.
  void SetStallLimit(int32_t bytesPerSecond, int32_t seconds);

  // Any thread: makes Open and Read fail at once, now and from now on.
  void Abort();

  // Before Open, on the thread that calls Open: the transfer uses share's
  // kept connection, TLS sessions and name look-ups (see above). Null: the
  // connection's own, as without the call. Throws std::logic_error after
  // Open.
  void UseShare(std::shared_ptr<ConnectionShare> share);

  // On the thread that calls Open: ends the transfer now and lets go of its
  // curl handle, so that a shared connection goes back to its share here
  // and not on whichever thread destroys the object (a response read to
  // its end leaves the connection kept; one cut short closes it). Read
  // then throws; the status, the header block's values and EffectiveUrl
  // (then the URL given to Open) stay. The destructor does the same for a
  // connection not finished.
  void Finish();

  // The final response's status code once Open has returned (also when it
  // threw for a status outside 2xx); 0 before.
  long StatusCode() const;
  // The final response's status line without its line end ("HTTP/1.1 404
  // Not Found", "ICY 200 OK"), as the server sent it, once Open has
  // returned (also when it threw for a status outside 2xx); empty before.
  std::string StatusLine() const;
  // The value of the final response's Content-Type header line, blanks
  // trimmed; "" without one. Once Open has returned.
  std::string ContentType() const;
  // The URL the final response came from, after redirects; the URL given to
  // Open when curl does not know better. Once Open has returned.
  std::string EffectiveUrl() const;

  // The sockets curl holds open for this connection now, in the order they
  // were opened: one while a single connection is in use, more while a
  // redirect's earlier connection is still kept, none once curl closed them.
  // With a share: the share's, kept connections included.
  // For tests; the connection owns them, so a caller must not close them.
  // The thread that calls Open and Read.
  std::vector<int> OpenSockets() const;

  static constexpr int32_t kMaxHeaderBytes = 64 * 1024;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

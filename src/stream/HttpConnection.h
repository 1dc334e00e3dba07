#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// A network failure: the request could not be made, the answer was not a
// 2xx response, the transfer broke, or the connection was aborted.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One HTTP(S) request and its response, read as a raw byte stream, over
// libcurl's multi interface.
//
// What a reader gets from Read(): first the final response's status line and
// header lines exactly as the server sent them, each ended by CR LF, then the
// empty line; then the body, de-chunked when the server used chunked
// transfer encoding. This holds for "ICY 200 OK", "HTTP/1.0" and "HTTP/1.1"
// answers alike; after redirects only the last response's header block is
// handed on. HTTPS, redirects and the proxy environment variables work as in
// curl.
//
// Threads: Open and Read are called by one thread (the stream's worker).
// Abort may be called from any thread at any time, any number of times, also
// before Open: it makes a blocked or later Open or Read throw
// ConnectionError at once (the multi handle is woken, no polling). Abort
// releases nothing; the handles are released by the destructor, which the
// owner runs only once no thread is inside Open or Read.
//
// Curl must have been initialised (curl_global_init) before the first
// connection is created, while the process has one thread.
class HttpConnection {
 public:
  HttpConnection();
  ~HttpConnection();

  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Sends the request for url with the extra request header lines in
  // headerText (each ended by CR LF; a "User-Agent" among them replaces the
  // default agent "Driftharbour", so only one reaches the server), and waits
  // until the final response's header block has arrived. Throws
  // ConnectionError on a network failure, a final status outside 2xx, a
  // header block larger than kMaxHeaderBytes, or an abort.
  void Open(const std::string& url, const std::string& headerText);

  // Blocks until bytes are there and copies at most size of them into
  // buffer. Returns 0 when the server ended the transfer normally. Throws
  // ConnectionError on a network failure or an abort.
  int32_t Read(uint8_t* buffer, int32_t size);

  // Any thread: makes Open and Read fail at once, now and from now on.
  void Abort();

  // The final response's status code, once Open has returned.
  long StatusCode() const;

  static constexpr int32_t kMaxHeaderBytes = 64 * 1024;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Mutex.h"

class HttpConnection;

// Fetches whole response bodies, one GET at a time, each over its own
// HttpConnection, for callers that want a small document rather than a
// stream (the station directory's answers). A body larger than the bound the
// caller gives ends the transfer.
//
// Cancelling: Cancel() makes the transfer in progress fail at once
// (HttpConnection::Abort) and every later Fetch fail without any network
// access, until Resume(). The owner of a worker thread calls Resume before a
// new job and Cancel when the job is no longer wanted, both under its own
// lock, so that a Cancel can never land between a Resume and the job it
// meant.
//
// Threads: Fetch is called by one thread at a time. Cancel and Resume may
// be called from any thread. `mutex` guards the pointer to the transfer in
// progress and the cancel flag; it is never held across a network call
// (the transfer itself runs outside it). It is taken by the fetching thread
// around publishing its connection, and by whoever cancels or resumes.
class HttpFetcher {
 public:
  // headerText: extra request header lines for every request, each ended by
  // CR LF (a "User-Agent" among them replaces the connection's default).
  explicit HttpFetcher(std::string headerText);
  ~HttpFetcher();

  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // A later transfer slower than bytesPerSecond for seconds in a row fails
  // (HttpConnection::SetStallLimit). Before the first Fetch.
  void SetStallLimit(int32_t bytesPerSecond, int32_t seconds);

  // The body of a GET of url. Throws ConnectionError on a network failure,
  // a status outside 2xx, a cancel, or a body larger than maxBytes ("an
  // answer larger than 4 MiB").
  std::string Fetch(const std::string& url, size_t maxBytes) EXCLUDES(mutex);

  void Cancel() EXCLUDES(mutex);
  void Resume() EXCLUDES(mutex);
  // Whether Cancel came after the last Resume: tells a caller whose Fetch
  // failed that it was called off.
  bool Cancelled() EXCLUDES(mutex);

  // The body of connection's response once Open has returned: the bytes
  // after the header block Read hands out first. Throws ConnectionError as
  // Read does, and ConnectionError(tooLarge) once the body passes maxBytes.
  static std::string ReadBody(HttpConnection& connection, size_t maxBytes, const std::string& tooLarge);

  // "4 MiB", "512 KiB" or "1000 bytes": a bound as the error names it.
  static std::string SizeText(size_t bytes);

 private:
  // Constant after construction (the stall figures: before the first Fetch).
  const std::string headerText;
  int32_t stallBytesPerSecond = 0;
  int32_t stallSeconds = 0;

  Mutex mutex;
  std::shared_ptr<HttpConnection> current GUARDED_BY(mutex);  // null between transfers
  bool cancelled GUARDED_BY(mutex) = false;
};

#include "net/HttpFetcher.h"

#include <utility>

#include "net/HttpConnection.h"

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";

}  // namespace

HttpFetcher::HttpFetcher(std::string headerText) : headerText(std::move(headerText)) {}

HttpFetcher::~HttpFetcher() = default;

void HttpFetcher::SetStallLimit(int32_t bytesPerSecond, int32_t seconds) {
  stallBytesPerSecond = bytesPerSecond;
  stallSeconds = seconds;
}

std::string HttpFetcher::SizeText(size_t bytes) {
  constexpr size_t kKiB = 1024;
  if (bytes >= kKiB * kKiB && bytes % (kKiB * kKiB) == 0) {
    return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
  }
  if (bytes >= kKiB && bytes % kKiB == 0) {
    return std::to_string(bytes / kKiB) + " KiB";
  }
  return std::to_string(bytes) + " bytes";
}

std::string HttpFetcher::Fetch(const std::string& url, size_t maxBytes) {
  auto connection = std::make_shared<HttpConnection>();
  connection->SetStallLimit(stallBytesPerSecond, stallSeconds);
  {
    MutexLock lock(mutex);
    if (cancelled) {
      throw ConnectionError("connection aborted");
    }
    current = connection;
  }
  // The connection is forgotten however the transfer ends; a Cancel that
  // comes later has nothing left to abort.
  struct Forget {
    HttpFetcher& fetcher;
    ~Forget() {
      MutexLock lock(fetcher.mutex);
      fetcher.current.reset();
    }
  } forget{*this};

  connection->Open(url, headerText);
  return ReadBody(*connection, maxBytes, "an answer larger than " + SizeText(maxBytes));
}

std::string HttpFetcher::ReadBody(HttpConnection& connection, size_t maxBytes, const std::string& tooLarge) {
  // Read hands out the header block first; the body follows its empty line.
  std::string received;
  size_t bodyStart = std::string::npos;
  uint8_t buffer[16384];
  for (;;) {
    const int32_t n = connection.Read(buffer, static_cast<int32_t>(sizeof buffer));
    if (n == 0) {
      break;
    }
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    if (bodyStart == std::string::npos) {
      const size_t end = received.find(kHeaderEnd);
      if (end != std::string::npos) {
        bodyStart = end + kHeaderEnd.size();
      }
    }
    if (bodyStart != std::string::npos && received.size() - bodyStart > maxBytes) {
      connection.Abort();
      throw ConnectionError(tooLarge);
    }
  }
  return bodyStart == std::string::npos ? std::string() : received.substr(bodyStart);
}

void HttpFetcher::Cancel() {
  std::shared_ptr<HttpConnection> running;
  {
    MutexLock lock(mutex);
    cancelled = true;
    running = current;
  }
  if (running) {
    running->Abort();
  }
}

void HttpFetcher::Resume() {
  MutexLock lock(mutex);
  cancelled = false;
}

bool HttpFetcher::Cancelled() {
  MutexLock lock(mutex);
  return cancelled;
}

#include "net/HttpFetcher.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
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
  // Read hands out the header block first, the body after its empty line.
  // Both are read straight into the string that is returned; the header
  // block is cut off its front once, so the body is held once and never
  // copied out. The string is sized ahead (its room zeroed once, when it
  // grows) and received[0, filled) is what arrived.
  constexpr size_t kFirstRoom = size_t{64} * 1024;
  const size_t mostRoom = maxBytes + HttpConnection::kMaxHeaderBytes + 1;
  std::string received;
  size_t filled = 0;
  bool inBody = false;
  for (;;) {
    if (filled == received.size()) {
      size_t room = std::min(std::max(kFirstRoom, 2 * received.size()), mostRoom);
      received.resize(room > filled ? room : filled + kFirstRoom);
    }
    const size_t space = std::min(received.size() - filled, size_t{INT32_MAX});
    const int32_t n = connection.Read(reinterpret_cast<uint8_t*>(received.data() + filled), static_cast<int32_t>(space));
    if (n == 0) {
      break;
    }
    const size_t searchFrom = filled >= kHeaderEnd.size() ? filled - (kHeaderEnd.size() - 1) : 0;
    filled += static_cast<size_t>(n);
    if (!inBody) {
      const size_t end = std::string_view(received.data(), filled).find(kHeaderEnd, searchFrom);
      if (end == std::string::npos) {
        continue;
      }
      received.erase(0, end + kHeaderEnd.size());
      filled -= end + kHeaderEnd.size();
      inBody = true;
    }
    if (filled > maxBytes) {
      connection.Abort();
      throw ConnectionError(tooLarge);
    }
  }
  if (!inBody) {
    return std::string();
  }
  received.resize(filled);
  return received;
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

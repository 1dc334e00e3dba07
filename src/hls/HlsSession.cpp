#include "hls/HlsSession.h"

#include <utility>

#include "net/HttpConnection.h"

HlsSession::HlsSession(Connect connect, HlsReader::Sink& sink, HlsReader::Wait wait)
    : connect(std::move(connect)), sink(sink), reader(*this, *this, std::move(wait)) {}

bool HlsSession::Run(const std::string& url, const std::string& body, bool announceFormat) {
  formatAnnounced = !announceFormat;
  return reader.Run(url, body);
}

HlsReader::Fetched HlsSession::Fetch(const std::string& url, size_t maxBytes) {
  const std::shared_ptr<HttpConnection> connection = connect();
  connection->Open(url, "");
  HlsReader::Fetched fetched;
  fetched.contentType = connection->ContentType();
  fetched.finalUrl = connection->EffectiveUrl();
  // The header block comes first; the body follows its empty line.
  std::string received;
  size_t bodyStart = std::string::npos;
  uint8_t buffer[16384];
  for (;;) {
    const int32_t n = connection->Read(buffer, static_cast<int32_t>(sizeof buffer));
    if (n == 0) {
      break;
    }
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    if (bodyStart == std::string::npos) {
      const size_t end = received.find("\r\n\r\n");
      if (end != std::string::npos) {
        bodyStart = end + 4;
      }
    }
    if (bodyStart != std::string::npos && received.size() - bodyStart > maxBytes) {
      throw ConnectionError("an HLS file larger than " + std::to_string(maxBytes) + " bytes");
    }
  }
  if (bodyStart != std::string::npos) {
    fetched.body = received.substr(bodyStart);
  }
  return fetched;
}

void HlsSession::OnHlsFormat(AudioFormat audioFormat) {
  // A reconnect that goes on where the reader stopped is no new response:
  // announcing one would make the writer look for a repeat that is not
  // there. A new format is announced, and so is the first after a start.
  if (!formatAnnounced || audioFormat != lastFormat) {
    sink.OnHlsFormat(audioFormat);
    formatAnnounced = true;
    lastFormat = audioFormat;
  }
}

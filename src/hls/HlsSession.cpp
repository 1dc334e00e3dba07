#include "hls/HlsSession.h"

#include <utility>

#include "net/ConnectionShare.h"
#include "net/HttpConnection.h"
#include "net/HttpFetcher.h"

HlsSession::HlsSession(Connect connect, HlsReader::Sink& sink, HlsReader::Wait wait)
    : connect(std::move(connect)), sink(sink), reader(*this, *this, std::move(wait)) {}

bool HlsSession::Run(const std::string& url, const std::string& body, bool announceFormat) {
  formatAnnounced = !announceFormat;
  return reader.Run(url, body);
}

HlsReader::Fetched HlsSession::Fetch(const std::string& url, size_t maxBytes) {
  if (!share) {
    share = std::make_shared<ConnectionShare>();
  }
  const std::shared_ptr<HttpConnection> connection = connect();
  // However the transfer ends, it ends here, on the worker: the share is
  // not the stop's to touch.
  struct Finish {
    HttpConnection& connection;
    ~Finish() { connection.Finish(); }
  } finish{*connection};
  connection->UseShare(share);
  connection->Open(url, "");
  HlsReader::Fetched fetched;
  fetched.contentType = connection->ContentType();
  fetched.finalUrl = connection->EffectiveUrl();
  fetched.body = HttpFetcher::ReadBody(*connection, maxBytes,
                                       "an HLS file larger than " + HttpFetcher::SizeText(maxBytes));
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

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/AudioFormat.h"
#include "hls/HlsReader.h"

class ConnectionShare;
class HttpConnection;

// A stream's HLS run: an HlsReader whose every transfer is a connection the
// stream hands out (Connect: made with the stream's stall limit and
// published, so that a stop aborts it at once), and whose audio, titles
// and gaps go on to the stream's sink.
//
// One connection for the station: every transfer runs over the session's
// ConnectionShare, so playlist reloads and segments reuse one kept
// connection (and, over HTTPS, one TLS session, resumed when the server
// closed the connection). Each transfer is finished on the worker before
// Fetch returns, also when it failed, so that the share is used by the
// worker alone, whichever thread lets go of the connection object last (a
// stop keeps a reference to the one it aborted). A segment's body is read
// into the one string that the reader then unpacks.
//
// Kept across the stream's attempts, since the reader holds the place in
// the playlist: a reconnect goes on where the last run stopped. A format is
// passed on once per run and again only when it changes, unless the run is
// told to announce it anew (after a stop, whose writer has closed its file).
//
// Owns its reader and the share; the sink is borrowed and must outlive the
// session.
// Threads: one thread (the stream's worker) constructs it and calls Run;
// Connect, the wait and the sink are called on that thread, within Run. No
// lock of its own.
class HlsSession : private HlsReader::Fetcher, private HlsReader::Sink {
 public:
  // A new connection for one transfer, not opened yet, that a stop aborts
  // (also a stop that came first: its Open then fails at once).
  using Connect = std::function<std::shared_ptr<HttpConnection>()>;

  HlsSession(Connect connect, HlsReader::Sink& sink, HlsReader::Wait wait);

  HlsSession(const HlsSession&) = delete;
  HlsSession& operator=(const HlsSession&) = delete;

  // Follows the playlist at url whose body has been fetched (HlsReader::
  // Run); true when the playlist ended, false when the stream was stopped.
  // announceFormat: pass the first format on even when it is the last run's.
  bool Run(const std::string& url, const std::string& body, bool announceFormat);

 private:
  HlsReader::Fetched Fetch(const std::string& url, size_t maxBytes) override;

  void OnHlsFormat(AudioFormat audioFormat) override;
  void OnHlsAudio(const uint8_t* data, int32_t size) override { sink.OnHlsAudio(data, size); }
  void OnHlsTitle(const std::string& title) override { sink.OnHlsTitle(title); }
  void OnHlsGap(int64_t missingSegments) override { sink.OnHlsGap(missingSegments); }

  // Constant after construction.
  Connect connect;
  HlsReader::Sink& sink;

  HlsReader reader;
  // Made on the first fetch; kept across Run calls, so that a reconnect
  // after a lost playlist fetch still finds a kept connection if the
  // server kept it.
  std::shared_ptr<ConnectionShare> share;
  bool formatAnnounced = false;
  AudioFormat lastFormat = AudioFormat::Aac;
};

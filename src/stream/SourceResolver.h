#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "playlist/PlaylistParser.h"

class HttpConnection;

// Follows a server entry's URL to the stream that is recorded. Station URLs
// as people find them often name a playlist (.pls, .m3u, .xspf, .asx) rather
// than the stream: its first http(s) entry is opened instead, and that may
// be a playlist again, up to kMaxPlaylistLevels in all. When an attempt that
// recorded an entry fails, the next attempt tries the playlist's next entry,
// going round; the playlist is fetched again on every attempt, since
// stations rotate their servers. An HLS playlist ends the search: its URL
// and body go to the HLS reader, which picks the variant.
//
// Every transfer is an HttpConnection made here with the stream's stall
// limit and handed to `publish` before it opens, so that a stop can abort
// it. Whether a response is a playlist is the stream's to find out (its
// body may as well be audio); what a playlist says, PlaylistParser's.
//
// Threads: SetStallLimit from any thread; everything else on the stream's
// worker (or on the controlling thread while no worker runs: Reset). No
// lock of its own; the stall limit is atomic.
class SourceResolver {
 public:
  // A playlist may name a playlist, which may name one more, but no deeper.
  static constexpr int32_t kMaxPlaylistLevels = 3;

  // Called with every new connection before it opens (not opened yet).
  using Publish = std::function<void(const std::shared_ptr<HttpConnection>&)>;

  explicit SourceResolver(Publish publish) : publish(std::move(publish)) {}

  SourceResolver(const SourceResolver&) = delete;
  SourceResolver& operator=(const SourceResolver&) = delete;

  // The stall limit of every later connection (HttpConnection::
  // SetStallLimit); values below 1 keep the connection's defaults.
  void SetStallLimit(int32_t bytesPerSecond, int32_t seconds);
  // A connection with that stall limit, published, not opened.
  std::shared_ptr<HttpConnection> NewConnection();

  // Starts an attempt at the entry's own url.
  void BeginAttempt(const std::string& url);
  // The URL the attempt opens now, and how deep in playlists it is (0: the
  // entry's own URL).
  const std::string& Target() const { return target; }
  int32_t Level() const { return level; }
  // Opens Target() with the extra request header lines; throws like
  // HttpConnection::Open. At level 0 the last playlist's name is forgotten.
  std::shared_ptr<HttpConnection> Open(const std::string& headerText);

  enum class Next { Hls, Stream };
  // The complete (or bounded) body of a response taken for a playlist of
  // kind (None: read as m3u unless the body says otherwise), fetched from
  // url. Hls: the body is an HLS playlist. Stream: Target() is now the
  // entry this attempt records, one level down, and PlaylistStation() the
  // playlist's name where it gives one. Throws std::runtime_error for a
  // playlist nested too deep or naming no stream.
  Next Follow(PlaylistKind kind, const std::string& url, const std::string& body);

  // The attempt failed: if it recorded a playlist's entry, the next one
  // tries the entry after it.
  void AttemptFailed();

  // The name the last playlist gave; "" when it gave none.
  const std::string& PlaylistStation() const { return playlistStation; }

  // No playlist seen, the first entry next.
  void Reset();

 private:
  // Constant after construction.
  const Publish publish;

  std::atomic<int32_t> stallBytesPerSecond{0};
  std::atomic<int32_t> stallSeconds{0};

  // The attempt going on.
  std::string target;
  int32_t level = 0;
  bool attemptUsedEntry = false;
  // Across attempts.
  std::string playlistStation;
  uint32_t playlistEntry = 0;  // the entry of a playlist the next attempt records
};

#include "stream/SourceResolver.h"

#include <stdexcept>

#include "net/HttpConnection.h"

void SourceResolver::SetStallLimit(int32_t bytesPerSecond, int32_t seconds) {
  stallBytesPerSecond.store(bytesPerSecond, std::memory_order_relaxed);
  stallSeconds.store(seconds, std::memory_order_relaxed);
}

std::shared_ptr<HttpConnection> SourceResolver::NewConnection() {
  auto connection = std::make_shared<HttpConnection>();
  connection->SetStallLimit(stallBytesPerSecond.load(std::memory_order_relaxed),
                            stallSeconds.load(std::memory_order_relaxed));
  publish(connection);
  return connection;
}

void SourceResolver::BeginAttempt(const std::string& url) {
  target = url;
  level = 0;
  attemptUsedEntry = false;
}

std::shared_ptr<HttpConnection> SourceResolver::Open(const std::string& headerText) {
  std::shared_ptr<HttpConnection> connection = NewConnection();
  connection->Open(target, headerText);
  if (level == 0) {
    playlistStation.clear();
  }
  return connection;
}

SourceResolver::Next SourceResolver::Follow(PlaylistKind kind, const std::string& url, const std::string& body) {
  const Playlist playlist = PlaylistParser::Parse(kind == PlaylistKind::None ? PlaylistKind::M3u : kind, url, body);
  if (playlist.IsHls()) {
    return Next::Hls;
  }
  if (level + 1 >= kMaxPlaylistLevels) {
    throw std::runtime_error("playlists nested more than " + std::to_string(kMaxPlaylistLevels) + " deep");
  }
  if (playlist.entries.empty()) {
    throw std::runtime_error(playlist.skippedEntries > 0 ? "the playlist names no http or https stream"
                                                         : "the playlist names no stream");
  }
  if (!playlist.stationName.empty()) {
    playlistStation = playlist.stationName;
  }
  target = playlist.entries[playlistEntry % playlist.entries.size()].url;
  attemptUsedEntry = true;
  ++level;
  return Next::Stream;
}

void SourceResolver::AttemptFailed() {
  if (attemptUsedEntry) {
    ++playlistEntry;  // the next attempt tries the playlist's next stream
  }
}

void SourceResolver::Reset() {
  target.clear();
  level = 0;
  attemptUsedEntry = false;
  playlistStation.clear();
  playlistEntry = 0;
}

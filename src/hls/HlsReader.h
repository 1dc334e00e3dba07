#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "audio/AudioFormat.h"
#include "playlist/HlsPlaylist.h"
#include "media/SegmentUnpacker.h"

// Follows an HLS stream: from a master playlist to its audio (HlsPlaylist::
// AudioUrl), then the media playlist, reloaded as HLS asks (the target
// duration after a reload that brought new segments, half of it after one
// that did not), each segment fetched once, in media-sequence order,
// unpacked (SegmentUnpacker) and handed to the sink.
//
// Where a live stream starts: at the segment that begins three target
// durations before the playlist's end, as HLS players do; a playlist with
// #EXT-X-ENDLIST is read from its first segment, and Run returns once its
// last segment is handed on.
//
// Lost audio is reported, never hidden: segments that left the playlist
// before they were fetched, a jump of the media sequence, a segment marked
// #EXT-X-GAP, and a segment that could not be fetched or read (skipped, up to
// kMaxFailuresInARow in a row) each reach OnHlsGap. A media sequence that
// falls back by more than the playlist's length is a restart of the
// station's numbering: a gap, then the live start of the new numbering. A
// playlist that falls back less is a stale copy (a cache) and is reloaded.
//
// Titles: from the ID3 tags of the segments; until the first of those, from
// the #EXTINF titles where the station puts the song there (a title that
// changes is announced at its segment's first byte; Extinf::Title reads
// title="…",artist="…" attributes as "ARTIST - TITLE"). A title is announced only when
// it differs from the one in effect; no title at all, no OnHlsTitle.
//
// Refusals (Run throws std::runtime_error with the reason in plain words):
// encrypted segments (#EXT-X-KEY other than NONE), byte-range segments, a
// codec the program cannot record, a playlist that is no HLS, a variant
// that is a master playlist again, a playlist that has stopped growing for
// kMaxReloadsWithoutNews reloads, and kMaxFailuresInARow failed fetches or
// unreadable segments in a row (the last failure is rethrown).
//
// The reader keeps its place across Run calls: a Run for the same media
// playlist (after a lost connection) goes on after the last segment handed
// on, reporting what it missed meanwhile as a gap; another URL starts over.
// Each Run begins like a new response: OnHlsFormat, then the title in
// effect (if any), before its first audio.
//
// Memory: one segment (at most SegmentUnpacker::kMaxSegmentBytes), its
// audio, one init segment and one playlist (at most kMaxPlaylistBytes) at a
// time.
//
// Threads: one thread (the stream's worker) constructs the reader and calls
// Run; the fetcher, the sink and the wait are called on it, from within Run.
// The reader has no thread and no lock of its own. Stopping is the
// caller's: it makes the fetcher's transfer fail at once (HttpConnection::
// Abort) and the wait return false, and Run then returns false promptly.
// An exception from the sink passes out of Run unchanged.
class HlsReader {
 public:
  // What a fetch brought.
  struct Fetched {
    std::string body;
    std::string contentType;  // "" when the server sent none
    // The URL the body came from after redirects, against which its
    // relative URIs resolve; "" when it is the URL asked for.
    std::string finalUrl;
  };

  // Network access, implemented by the stream over HttpConnection.
  class Fetcher {
   public:
    virtual ~Fetcher() = default;
    // The whole body of a GET of url. Throws (ConnectionError, or any
    // std::exception) on a network failure, a status outside 2xx, a body
    // larger than maxBytes, and at once when the stream is being stopped,
    // also when the stop came before the call.
    virtual Fetched Fetch(const std::string& url, size_t maxBytes) = 0;
  };

  // Where audio and titles go, in stream order.
  class Sink {
   public:
    virtual ~Sink() = default;
    // Before the first audio of each Run, and again before audio whose
    // format differs (a discontinuity to another codec).
    virtual void OnHlsFormat(AudioFormat format) = 0;
    // Audio bytes, in order, each once; lent for the call.
    virtual void OnHlsAudio(const uint8_t* data, int32_t size) = 0;
    // The title in effect from the next audio byte on.
    virtual void OnHlsTitle(const std::string& title) = 0;
    // missingSegments segments were lost before the next audio byte (1
    // also when the station restarted its numbering and the count is not
    // known).
    virtual void OnHlsGap(int64_t missingSegments) = 0;
  };

  // Waits for the given time, or less when the stream is being stopped;
  // false when it is. Called with 0 to ask whether a failure was a stop.
  using Wait = std::function<bool(std::chrono::milliseconds)>;

  static constexpr size_t kMaxPlaylistBytes = size_t{4} * 1024 * 1024;
  static constexpr size_t kMaxInitBytes = size_t{1024} * 1024;
  static constexpr int32_t kMaxFailuresInARow = 3;
  static constexpr int32_t kMaxReloadsWithoutNews = 12;
  // How far behind the live end a live stream starts, in target durations.
  static constexpr int32_t kLiveStartTargetDurations = 3;
  // The target duration assumed when a playlist gives none and no segment
  // duration either.
  static constexpr int32_t kDefaultTargetMs = 10000;
  // Reload waits are kept within these bounds whatever the playlist says.
  static constexpr int32_t kMinReloadMs = 250;
  static constexpr int32_t kMaxReloadMs = 30000;
  // The wait before another try at a playlist that failed.
  static constexpr int32_t kRetryMs = 1000;

  // fetcher and sink must outlive the reader.
  HlsReader(Fetcher& fetcher, Sink& sink, Wait wait);

  HlsReader(const HlsReader&) = delete;
  HlsReader& operator=(const HlsReader&) = delete;

  // Follows the playlist at url (its final URL, after redirects) whose body
  // has been fetched already. Returns true when an #EXT-X-ENDLIST playlist
  // has been read to its end, false when the stream was stopped; throws
  // std::runtime_error (or the fetcher's exception) on a failure.
  bool Run(const std::string& url, const std::string& body);

  // The media sequence number of the next segment to hand on; -1 before the
  // first playlist.
  int64_t NextSequence() const { return started ? nextSequence : -1; }

 private:
  enum class Step { Stopped, Read };

  // Fetches and reads a media playlist, retrying a failed fetch or a text
  // that is no media playlist every kRetryMs; nullopt when the stream was
  // stopped. Rethrows the kMaxFailuresInARow'th failure in a row.
  std::optional<HlsPlaylist> Load(const std::string& url);
  // Fetches url into fetched; false after a failure (counted in failures)
  // or when the stream is being stopped (stopping is then set).
  bool TryFetch(const std::string& url, size_t maxBytes, Fetched& fetched, int32_t& failures);
  // Counts a failure in a row; rethrows it when there were too many.
  static void CountFailure(int32_t& failures, const std::exception_ptr& failure);
  // Hands on every segment of playlist not handed on yet; newSegments says
  // how many were new.
  Step ReadSegments(const HlsPlaylist& playlist, int32_t& newSegments);
  // Fetches, unpacks and hands on one segment; Stopped when stopping.
  Step ReadSegment(const HlsPlaylist::Segment& segment);
  void Deliver(const HlsPlaylist::Segment& segment, const SegmentUnpacker::Result& unpacked);
  void PassAudio(const uint8_t* data, size_t size);
  void Announce(const std::string& text);
  // The media sequence number a live stream starts at in playlist.
  static int64_t LiveStart(const HlsPlaylist& playlist);
  static double TargetSeconds(const HlsPlaylist& playlist);

  // Constant after construction.
  Fetcher& fetcher;
  Sink& sink;
  Wait wait;

  // The place, kept across Run calls for the same media playlist.
  std::string mediaUrl;
  bool started = false;
  int64_t nextSequence = 0;
  std::optional<std::string> title;  // the title in effect
  bool id3Titles = false;            // a segment has carried an ID3 title
  std::string initUrl;               // the init segment held, and its bytes
  std::string initBytes;

  // Per Run.
  bool formatAnnounced = false;
  bool titleAnnounced = false;  // the title in effect has been announced in this Run
  AudioFormat format = AudioFormat::Aac;
  int32_t playlistFailures = 0;  // in a row
  int32_t segmentFailures = 0;   // in a row
  bool stopping = false;
};

#pragma once

// HLS material for the tests: segments made with the ffmpeg program on this
// machine (or, for timed ID3 in MPEG-TS, which its command line cannot add,
// with FFmpeg's own TS muxer), playlist texts, a live sliding-window station
// served by the loopback IcyTestServer, and a fetcher over HttpConnection:
//
//   if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
//   const std::string adts = EncodeAdts(6.0, dir.Path());
//   HlsSegments ts = SegmentWithFfmpeg(adts, "aac", HlsContainer::Ts, 2.0, dir.Path());
//
//   IcyTestServer server;
//   LiveHlsStation station(server, "/live", PackedAdtsSegments(...), 3, 2);
//   LoopbackFetcher fetcher;
//   HlsReader reader(fetcher, sink, [&](auto) { station.Advance(); return true; });
//   reader.Run(station.PlaylistUrl(), station.PlaylistText());
//
// Nothing here touches anything but 127.0.0.1. The ffmpeg functions run
// child processes and may be called from any thread, with distinct work
// directories; they throw std::runtime_error with ffmpeg's error output when
// it fails.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hls/HlsReader.h"
#include "support/IcyTestServer.h"

class HttpConnection;

// AAC-LC in ADTS frames, 44.1 kHz mono, encoded by ffmpeg from a tone.
std::string EncodeAdts(double seconds, const std::filesystem::path& workDirectory, int frequency = 440);
// MPEG-1 layer III, 44.1 kHz mono, without ID3 tag or Xing frame.
std::string EncodeMp3(double seconds, const std::filesystem::path& workDirectory, int frequency = 440);

// A tone encoded with codec (an ffmpeg encoder name) in one MPEG-TS.
std::string EncodeTs(double seconds, const std::string& codec, const std::filesystem::path& workDirectory);

// The frames of an ADTS or MPEG audio stream, as their headers lay them out
// (the stream must start with a frame and hold nothing else).
std::vector<std::string> SplitAdtsFrames(const std::string& adts);
std::vector<std::string> SplitMpegAudioFrames(const std::string& mp3);

// count ADTS frames with valid headers (AAC-LC, 44.1 kHz, mono) and
// pseudo-random payloads of payloadSize bytes: stand-in audio that
// libavformat's ADTS reader splits as it splits real AAC, without ffmpeg.
std::vector<std::string> SyntheticAdtsFrames(size_t count, uint32_t seed, size_t payloadSize = 200);

// An ID3v2.4 tag with TIT2 and TPE1 (each left out when empty), written by
// ffmpeg's ADTS muxer. Made once per text and kept for the process.
std::string Id3Tag(const std::string& title, const std::string& artist, const std::filesystem::path& workDirectory);

enum class HlsContainer { Ts, Fmp4 };

struct HlsSegments {
  std::string init;  // the fMP4 init segment; empty for TS
  std::vector<std::string> segments;
  std::string playlist;  // the playlist ffmpeg wrote, with file names as URIs
};

// The audio (ADTS or MP3 bytes; extension "aac" or "mp3") cut into HLS
// segments of about segmentSeconds by ffmpeg's hls muxer, the audio copied
// unchanged (-c copy).
HlsSegments SegmentWithFfmpeg(const std::string& audio, const std::string& extension, HlsContainer container,
                              double segmentSeconds, const std::filesystem::path& workDirectory);

// A timed ID3 tag in a TS: tag's bytes, sent with the presentation time of
// frame number frame.
struct TimedId3 {
  size_t frame = 0;
  std::string tag;
};

// One MPEG-TS holding the ADTS frames (44.1 kHz, 1024 samples each) and a
// timed-ID3 data stream with the tags, muxed by libavformat as Apple's HLS
// tools lay it out: each tag one PES packet of stream type 0x15.
std::string MuxTimedId3Ts(const std::vector<std::string>& adtsFrames, const std::vector<TimedId3>& tags);

struct PlaylistSegment {
  std::string uri;
  double duration = 2.0;
  std::string title{};  // the #EXTINF text after the comma
  bool discontinuity = false;
};

// A media playlist's text.
std::string MediaPlaylistText(int64_t firstSequence, const std::vector<PlaylistSegment>& segments,
                              int targetDuration, bool endList, const std::string& mapUri = "");

// A live station on the loopback server: segment i is served at
// prefix + "/seg<i>.aac", the playlist at prefix + "/live.m3u8" lists the
// last `window` segments published so far. Advance publishes more (they
// are routed at once, the playlist is replaced while the server serves);
// End adds #EXT-X-ENDLIST. Answers keep the connection open (HTTP
// keep-alive) unless SetKeepAlive(false). Any thread.
class LiveHlsStation {
 public:
  // segments: each segment's bytes; titles: their #EXTINF texts (may be
  // shorter). Publishes the first `window` segments.
  LiveHlsStation(IcyTestServer& server, std::string prefix, std::vector<std::string> segments, size_t window,
                 int targetDuration, std::vector<std::string> titles = {});

  std::string PlaylistUrl() const;
  std::string SegmentPath(size_t index) const;
  // The playlist as it is served now.
  std::string PlaylistText() const;
  // Publishes count more segments (never beyond the last).
  void Advance(size_t count = 1);
  void End();
  // Whether answers published from now on keep their connection open.
  void SetKeepAlive(bool keep);
  // Segments published so far.
  size_t Published() const;

 private:
  void Publish();  // with mutex held

  IcyTestServer& server;
  const std::string prefix;
  const std::vector<std::string> segments;
  const std::vector<std::string> titles;
  const size_t window;
  const int targetDuration;

  mutable std::mutex mutex;
  size_t published = 0;  // guarded by mutex
  bool ended = false;    // guarded by mutex
  bool keepAlive = true;  // guarded by mutex
  std::string text;      // guarded by mutex
};

// The packed-audio segments of a station: each holds framesPerSegment of
// frames, behind an ID3 tag of its title where titles has one.
std::vector<std::string> PackedAdtsSegments(const std::vector<std::string>& frames, size_t framesPerSegment,
                                            const std::vector<std::string>& id3Tags = {});

// HlsReader's fetcher as the stream builds it: one HttpConnection per
// fetch, the Content-Type read from the header block, the body bounded.
// Abort (any thread) makes the fetch in progress and every later one throw
// ConnectionError at once. The thread that runs the reader calls Fetch.
class LoopbackFetcher : public HlsReader::Fetcher {
 public:
  HlsReader::Fetched Fetch(const std::string& url, size_t maxBytes) override;
  void Abort();
  // The URLs fetched so far, in order (failed ones included).
  std::vector<std::string> Urls() const;

 private:
  std::atomic<bool> aborted{false};
  mutable std::mutex mutex;
  std::shared_ptr<HttpConnection> current;  // guarded by mutex; null between fetches
  std::vector<std::string> urls;            // guarded by mutex
};

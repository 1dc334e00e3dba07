#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One HLS playlist (RFC 8216), read from its text: a master playlist, which
// lists variant streams and alternative audio renditions, or a media
// playlist, which lists the segments of one stream. Every URI is resolved
// against the playlist's URL (UriResolver::Resolve), so the fields
// hold absolute URLs.
//
// Reading is tolerant: unknown tags, blank lines and attributes that do not
// parse are passed over; a missing #EXT-X-TARGETDURATION leaves 0 (the
// reader then falls back on the segment durations). Only a text that is no
// HLS playlist at all throws.
//
// A plain value; any thread.
class HlsPlaylist {
 public:
  struct Variant {  // #EXT-X-STREAM-INF and the URI line after it
    std::string url;
    int64_t bandwidth = 0;   // BANDWIDTH; 0 when missing
    std::string codecs;      // CODECS, as written ("mp4a.40.2,avc1.4d401f")
    std::string audioGroup;  // AUDIO: the group of its audio renditions
  };
  struct Rendition {  // #EXT-X-MEDIA with TYPE=AUDIO
    std::string url;  // "" when the audio is in the variant's own stream
    std::string groupId;
    std::string name;
    bool isDefault = false;
  };
  struct Segment {
    int64_t sequence = 0;  // its media sequence number
    std::string url;
    double duration = 0;   // #EXTINF, seconds
    std::string title;     // the title its #EXTINF gives (Extinf::Title); "" when none
    bool discontinuity = false;  // #EXT-X-DISCONTINUITY before it
    bool gap = false;            // #EXT-X-GAP: the server has no media for it
    bool byteRange = false;      // it, or its init segment, is a byte range of a resource
    std::string mapUrl;          // the #EXT-X-MAP init segment in effect; "" when none
    std::string keyMethod;       // the #EXT-X-KEY METHOD in effect; "" when clear
  };

  // The largest media sequence number kept: one above it is folded into
  // 0..kMaxMediaSequence, so that numbering the segments and stepping past
  // the last never overflows.
  static constexpr int64_t kMaxMediaSequence = INT64_MAX / 2;

  // Reads text, fetched from url. Throws std::runtime_error when the text
  // has neither #EXTM3U nor any #EXT-X- tag.
  static HlsPlaylist Parse(std::string_view url, std::string_view text);

  bool IsMaster() const { return master; }

  // A master playlist's audio to record: the variant with the highest
  // BANDWIDTH among those whose CODECS are all audio the program can
  // record (AAC or MPEG audio); failing that the highest BANDWIDTH at all;
  // failing that the first. When that variant names an AUDIO group whose
  // renditions have their own URI, the group's default rendition (else its
  // first) is taken instead, since the variant then carries no audio.
  // Throws std::runtime_error when the playlist lists no variant.
  std::string AudioUrl() const;

  // True for a CODECS value that lists only AAC or MPEG audio.
  static bool IsRecordableAudioOnly(std::string_view codecs);

  bool master = false;
  // Master playlists.
  std::vector<Variant> variants;
  std::vector<Rendition> audioRenditions;
  // Media playlists.
  double targetDuration = 0;  // seconds
  int64_t mediaSequence = 0;
  bool endList = false;
  std::vector<Segment> segments;  // in playlist order
};

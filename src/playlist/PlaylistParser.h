#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The playlist forms a station's web page links to instead of the stream
// itself. The kind names the syntax: Pls covers the INI-like "[playlist]"
// and "[Reference]" files, Hls an m3u8 that the HlsReader follows rather
// than a list of streams.
enum class PlaylistKind : int32_t { None = 0, Pls, M3u, Xspf, Asx, Hls };

struct PlaylistEntry {
  std::string url;    // absolute, http or https
  std::string title;  // "" when the playlist names none
};

struct Playlist {
  PlaylistKind kind = PlaylistKind::None;
  // In playlist order; empty for Hls (its URL and body go to the HlsReader).
  std::vector<PlaylistEntry> entries;
  // The playlist's own title where it has one (the playlist or asx title,
  // #PLAYLIST), else the first entry's title; "" when there is none.
  std::string stationName;
  // Entries left out because they are not http or https (mms://, file
  // paths), so that an empty result can say why.
  int32_t skippedEntries = 0;
  // The body was longer than PlaylistParser::kMaxBytes; only its start was read.
  bool truncated = false;

  bool IsHls() const { return kind == PlaylistKind::Hls; }
};

// Recognises and reads station playlists: .pls, .m3u, .xspf and .asx files,
// and tells an HLS playlist (.m3u8 with #EXT-X- tags) from a plain m3u. URLs
// in them are resolved against the playlist's own URL.
//
// A response is a playlist when its Content-Type names one, or, for a type
// that does not name audio, when its body starts like one (after a
// byte-order mark and blanks), or when the type is generic (missing,
// text/plain, application/octet-stream) and the URL's path ends in a
// playlist suffix. The body's signature beats the type and the suffix when
// they disagree, since stations often serve an m3u as audio/x-scpls.
//
// PlaylistSniffer holds the recognition rule, XmlReader reads the XML forms
// (tolerantly: no entity other than the five predefined and numeric
// references is expanded, nothing is fetched, broken markup yields whatever
// can still be read), UriResolver resolves the entries, and Extinf reads an
// m3u's titles. Malformed input of any kind never throws; it gives fewer
// entries or none.
//
// Stateless; any thread.
class PlaylistParser {
 public:
  // The most of a body that is read; a longer one is cut at the last line
  // end before this bound so that no entry is read half.
  static constexpr size_t kMaxBytes = size_t{64} * 1024;
  // How many of the first body bytes Recognise needs to settle everything
  // that the body can settle (fewer are fine when the body is shorter).
  static constexpr size_t kSniffBytes = 4096;

  // Whether a response is a playlist, and of which kind, from its
  // Content-Type (may be empty), the URL it was fetched from, and the first
  // bytes of its body (may be empty: then only the type and the suffix
  // decide). None for a type that names audio, whatever the bytes. M3u may
  // turn out to be Hls once the whole body is read (Parse decides).
  static PlaylistKind Recognise(std::string_view contentType, std::string_view url, std::string_view firstBytes);

  // Reads the body of a response Recognise took for kind, fetched from url.
  // The body's own signature, where it has one, decides the syntax; an m3u
  // with any #EXT-X- tag is Hls. The result's kind is None when kind was
  // None and the body has no signature.
  static Playlist Parse(PlaylistKind kind, std::string_view url, std::string_view body);

  // UriResolver::Resolve: the target URL of reference resolved against the
  // absolute URL base (RFC 3986, section 5.2: strict, with dot segments
  // removed). Blanks around reference are ignored. A base without a scheme
  // gives reference unchanged.
  static std::string ResolveUrl(std::string_view base, std::string_view reference);

  // True for an absolute http or https URL with a host, in any letter case.
  static bool IsHttpUrl(std::string_view url);
};

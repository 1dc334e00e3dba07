// libFuzzer target: the station playlist reader (pls, m3u, xspf, asx and its
// XML reader, the m3u/HLS decision, URL resolving) fed arbitrary bodies.
//
// Input: byte 0 picks the Content-Type and byte 1 the URL suffix from small
// tables; the rest is the body. Checked: recognising and reading never
// throw or crash, every entry read is an absolute http(s) URL, and a body
// read as HLS holds no entries.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "playlist/PlaylistParser.h"

namespace {

constexpr std::string_view kTypes[] = {"",
                                       "audio/x-scpls",
                                       "audio/x-mpegurl",
                                       "application/vnd.apple.mpegurl",
                                       "application/xspf+xml",
                                       "video/x-ms-asf",
                                       "text/plain",
                                       "audio/mpeg"};
constexpr std::string_view kUrls[] = {"http://127.0.0.1/listen.pls", "http://127.0.0.1/a/b.m3u",
                                      "https://127.0.0.1:8443/x.xspf", "http://127.0.0.1/s.asx",
                                      "http://127.0.0.1/live.m3u8", "http://127.0.0.1/stream"};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "playlist invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::string_view type = kTypes[data[0] % std::size(kTypes)];
  const std::string_view url = kUrls[data[1] % std::size(kUrls)];
  const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);

  const PlaylistKind sniffed =
      PlaylistParser::Recognise(type, url, body.substr(0, PlaylistParser::kSniffBytes));
  for (PlaylistKind kind : {sniffed, PlaylistKind::Pls, PlaylistKind::M3u, PlaylistKind::Xspf, PlaylistKind::Asx}) {
    const Playlist playlist = PlaylistParser::Parse(kind, url, body);
    for (const PlaylistEntry& entry : playlist.entries) {
      Check(PlaylistParser::IsHttpUrl(entry.url), "an entry that is not an absolute http(s) URL");
    }
    Check(!playlist.IsHls() || playlist.entries.empty(), "an HLS playlist with entries");
    Check(playlist.skippedEntries >= 0, "a negative count of skipped entries");
  }
  // Resolving the body's first line against the URL never throws either.
  const std::string resolved = PlaylistParser::ResolveUrl(url, body.substr(0, body.find('\n')));
  (void)resolved;
  return 0;
}

// libFuzzer target: HLS master and media playlists fed arbitrary text.
//
// Checked: reading throws only std::runtime_error (a text that is no HLS
// playlist); a media playlist's segments carry sequence numbers that rise
// by one from the playlist's media sequence without wrapping; a master
// playlist's audio choice either names one of its URLs or throws
// std::runtime_error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "playlist/HlsPlaylist.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "HLS playlist invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  HlsPlaylist playlist;
  try {
    playlist = HlsPlaylist::Parse("https://127.0.0.1/hls/index.m3u8", text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  if (playlist.IsMaster()) {
    try {
      const std::string url = playlist.AudioUrl();
      Check(!url.empty(), "an empty audio URL");
    } catch (const std::runtime_error&) {
    }
    return 0;
  }
  Check(playlist.mediaSequence >= 0, "a negative media sequence");
  for (size_t i = 1; i < playlist.segments.size(); ++i) {
    Check(playlist.segments[i].sequence >= playlist.segments[i - 1].sequence, "sequence numbers that wrap");
  }
  for (const HlsPlaylist::Segment& segment : playlist.segments) {
    Check(segment.duration >= 0 || segment.duration != segment.duration, "a negative duration");
  }
  return 0;
}

#pragma once

#include <string>
#include <string_view>

#include "playlist/PlaylistParser.h"

// Tells which playlist syntax a response holds, from its Content-Type, the
// suffix of its URL's path, and the signature its text starts with. The
// rule itself is PlaylistParser::Recognise's; PlaylistParser::Parse asks
// the signature again of the whole body.
//
// Stateless; any thread.
class PlaylistSniffer {
 public:
  // PlaylistParser::Recognise.
  static PlaylistKind Recognise(std::string_view contentType, std::string_view url, std::string_view firstBytes);

  // The kind text announces by how it starts (after blanks): "[playlist]",
  // "#EXTM3U" (Hls when an #EXT-X- tag follows anywhere), a bare http URL,
  // an <asx> or XSPF <playlist> root; None for anything else.
  static PlaylistKind Signature(std::string_view text);

  // True when a line of text starts with an #EXT-X- tag.
  static bool HasHlsTags(std::string_view text);

  // A body as text: without a UTF-8 byte-order mark, and in UTF-8 when a
  // UTF-16 mark says so (Windows tools save ASX files that way).
  static std::string BodyText(std::string_view body);
};

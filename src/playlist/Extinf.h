#pragma once

#include <string>
#include <string_view>

// The #EXTINF tag that m3u and HLS playlists put before an entry or a
// segment: "#EXTINF:<duration>[ <attributes>],<title>". Plain m3u files and
// HLS playlists are read by the same rule, so a station's title reads the
// same whichever form it comes in.
//
// Stateless; any thread.
class Extinf {
 public:
  // value is what follows "#EXTINF:". The text before the first comma
  // outside double quotes (attributes such as tvg-name="a,b" may stand
  // there), blanks trimmed; all of value when there is no such comma.
  static std::string_view Duration(std::string_view value);

  // The title value gives: the text after the first comma outside double
  // quotes; when that text carries title="…" or artist="…" attributes (as
  // some HLS stations write the song), "ARTIST - TITLE" or whichever of the
  // two is set; else the text itself. Blanks trimmed; "" when there is no
  // such comma.
  static std::string Title(std::string_view value);
};

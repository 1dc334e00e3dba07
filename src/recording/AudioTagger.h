#pragma once

#include <string>

#include "stream/AudioFormat.h"

// Writes a finished recording's tags with TagLib, so that a music player
// shows artist, title and station: an ID3v2.4 tag at the start of MP3 and AAC
// (ADTS) files, the comment header of Ogg Vorbis and Opus files. The audio
// bytes after the tag stay exactly as they were.
//
// Stateless; any thread (the file must not be written by anyone else
// meanwhile: the writer has closed it, or hands it over to the syncer's
// thread).
class AudioTagger {
 public:
  struct Tags {
    std::string title;    // from "Artist - Title": the title; the whole text without " - "
    std::string artist;   // "" without " - "
    std::string album;    // the station's name
    std::string comment;  // the stream URL
    std::string date;     // the recording's date, "YYYY-MM-DD"
  };

  // Splits a stream title at its first " - " into artist and title. Bytes that
  // are not valid UTF-8 are read as Windows-1252 (tags are UTF-8).
  static Tags FromStreamTitle(const std::string& streamTitle, const std::string& station, const std::string& url,
                              const std::string& date);

  // Tags the file at path; false (with a reason in error, if not null) when
  // the file cannot be read or tagged, in which case its bytes are unchanged.
  static bool Tag(const std::string& path, AudioFormat format, const Tags& tags, std::string* error = nullptr);
};

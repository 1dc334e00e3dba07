#pragma once

#include <string>

#include "audio/AudioFormat.h"
#include "recording/TagWriter.h"

// Writes a finished recording's tags with TagLib, so that a music player
// shows artist, title and station: an ID3v2.4 tag at the start of MP3 and AAC
// (ADTS) files, the comment header of Ogg Vorbis and Opus files. The audio
// bytes after the tag stay exactly as they were. The TagLib code lives in
// the tag module, opened when the first file is tagged (recording/
// TagWriter.h); what follows is what it does.
//
// MP3 and AAC: TagLib renders the ID3v2.4 tag and the tagger puts it in front
// of the audio, in place of an ID3v2 tag the file already begins with (whose
// text fields are kept unless replaced). TagLib's MPEG::File is not asked to
// save: it knows no ADTS frames, and where a file does not begin with an MPEG
// frame it knows (ADTS, or a recording that begins mid-frame) it looks for a
// tag inside the audio and would write there. Ogg: TagLib rewrites the first
// logical stream's comment header (the first song of a chained file); the
// other streams' pages stay as they were, and so do the first stream's audio
// pages unless its header pages grow into more pages, when TagLib renumbers
// them (their packets unchanged).
//
// The file is replaced in one step: the tagged copy is written next to it
// (a hidden ".dh-tag-XXXXXX", short so that any name can be tagged), synced,
// given the file's permission bits and renamed over it, so a failure at any
// point leaves the file as it was. After a success the name holds a new,
// synced file: a descriptor of the old one reaches only the unlinked copy.
//
// Stateless; any thread (the file must not be written by anyone else
// meanwhile: the writer has closed it, or hands it over to the syncer's
// thread).
class AudioTagger {
 public:
  using Tags = tagging::Fields;

  // Splits a stream title at its first " - " into artist and title, blanks
  // around each trimmed; when either side is empty the whole title is the
  // title. Bytes that are not valid UTF-8 are read as Windows-1252 (tags are
  // UTF-8); so are station and url.
  static Tags FromStreamTitle(const std::string& streamTitle, const std::string& station, const std::string& url,
                              const std::string& date);

  // Tags the file at path; false (with a reason in error, if not null) when
  // the file cannot be read or tagged, in which case its bytes are unchanged.
  // The reason names the file and says why (the system's error text, or
  // why the tag module could not be loaded).
  // Empty fields are left out.
  static bool Tag(const std::string& path, AudioFormat format, const Tags& tags, std::string* error = nullptr);
};

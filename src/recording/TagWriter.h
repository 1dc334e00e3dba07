#pragma once

#include <string>

#include "audio/AudioFormat.h"
#include "base/ModuleLoader.h"

// What the program asks of TagLib, as one interface: write a finished
// recording's tags. The code behind it (src/recording/taglib/) lives in our
// shared module libdriftharbour-tags.so, which AudioTagger opens through a
// ModuleLoader when the first file is tagged, so that a process that never
// tags never maps TagLib. Only the types below cross.
namespace tagging {

// Its entry returns the module's TagWriter.
inline constexpr ModuleLoader::Module kModule{"libdriftharbour-tags.so", "driftharbour_tag_writer", 1, "tag module",
                                              "TagLib"};

// The text of a file's tags, UTF-8; an empty field is left out.
struct Fields {
  std::string title;    // from "Artist - Title": the title; the whole text without " - "
  std::string artist;   // "" without " - "
  std::string album;    // the station's name
  std::string comment;  // the stream URL
  std::string date;     // the recording's date, "YYYY-MM-DD"
};

// Stateless and safe from any thread; lives as long as the process (the
// module is never closed).
class TagWriter {
 public:
  // AudioTagger::Tag, which calls it: false, with the reason in error (if
  // not null), when the file cannot be tagged; its bytes are then unchanged.
  // Never throws.
  virtual bool Tag(const std::string& path, AudioFormat format, const Fields& tags, std::string* error) const = 0;

 protected:
  ~TagWriter() = default;
};

}  // namespace tagging

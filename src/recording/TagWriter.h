#pragma once

#include <string>

#include "audio/AudioFormat.h"

// What the program asks of TagLib, as one interface: write a finished
// recording's tags. The code behind it (src/recording/taglib/) lives in our
// shared module libdriftharbour-tags.so, which AudioTagger opens through a
// ModuleLoader when the first file is tagged, so that a process that never
// tags never maps TagLib. Only the types below cross.
//
// The module and the programs come from one build: kInterfaceVersion is
// checked at load, and the types use the same C++ standard library.
namespace tagging {

// Raised whenever a type below changes shape.
inline constexpr int kInterfaceVersion = 1;
// The module's file name and its one exported C function, a
// ModuleLoader::Entry: it returns the module's TagWriter, or null when the
// version differs.
inline constexpr const char* kModuleFileName = "libdriftharbour-tags.so";
inline constexpr const char* kEntryName = "driftharbour_tag_writer";

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

#include "recording/AudioTagger.h"

#include <string_view>
#include <utility>

#include "base/ModuleLoader.h"
#include "recording/TagWriter.h"
#include "text/ByteText.h"

namespace {

// Spaces and tabs only: a title's other control bytes are its own.
std::string TrimTitle(std::string_view text) { return std::string(ByteText::Trim(text, " \t")); }

// The tag module, opened when the first file is tagged: a process that
// never tags never maps TagLib.
ModuleLoader& TagModule() {
  static ModuleLoader loader(tagging::kModule);
  return loader;
}

}  // namespace

AudioTagger::Tags AudioTagger::FromStreamTitle(const std::string& streamTitle, const std::string& station,
                                               const std::string& url, const std::string& date) {
  Tags tags;
  tags.title = TrimTitle(ByteText::ToUtf8(streamTitle));
  const size_t split = tags.title.find(" - ");
  if (split != std::string::npos) {
    std::string artist = TrimTitle(std::string_view(tags.title).substr(0, split));
    std::string title = TrimTitle(std::string_view(tags.title).substr(split + 3));
    if (!artist.empty() && !title.empty()) {
      tags.artist = std::move(artist);
      tags.title = std::move(title);
    }
  }
  tags.album = TrimTitle(ByteText::ToUtf8(station));
  tags.comment = ByteText::ToUtf8(url);
  tags.date = date;
  return tags;
}

bool AudioTagger::Tag(const std::string& path, AudioFormat format, const Tags& tags, std::string* error) {
  const auto* writer = static_cast<const tagging::TagWriter*>(TagModule().Interface());
  if (writer == nullptr) {
    if (error != nullptr) {
      *error = TagModule().Failure();
    }
    return false;
  }
  return writer->Tag(path, format, tags, error);
}

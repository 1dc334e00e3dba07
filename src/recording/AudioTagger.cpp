#include "recording/AudioTagger.h"

AudioTagger::Tags AudioTagger::FromStreamTitle(const std::string& streamTitle, const std::string& station,
                                               const std::string& url, const std::string& date) {
  Tags tags;
  tags.title = streamTitle;
  tags.album = station;
  tags.comment = url;
  tags.date = date;
  return tags;
}

bool AudioTagger::Tag(const std::string&, AudioFormat, const Tags&, std::string* error) {
  if (error != nullptr) {
    *error = "tagging is not available yet";
  }
  return false;
}

#include "playlist/Extinf.h"

#include "text/ByteText.h"

namespace {

// Where the title starts: after the first comma outside quotes.
size_t TitleStart(std::string_view value) {
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') {
      quoted = !quoted;
    } else if (value[i] == ',' && !quoted) {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

bool IsKeyChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_'; }

}  // namespace

std::string_view Extinf::Duration(std::string_view value) {
  const size_t start = TitleStart(value);
  return ByteText::Trim(start == std::string_view::npos ? value : value.substr(0, start - 1));
}

std::string Extinf::Title(std::string_view value) {
  const size_t start = TitleStart(value);
  if (start == std::string_view::npos) {
    return "";
  }
  const std::string_view text = ByteText::Trim(value.substr(start));
  std::string_view artist;
  std::string_view song;
  bool attributes = false;
  for (size_t at = text.find("=\""); at != std::string_view::npos; at = text.find("=\"", at + 2)) {
    size_t keyStart = at;
    while (keyStart > 0 && IsKeyChar(text[keyStart - 1])) {
      --keyStart;
    }
    const std::string_view key = text.substr(keyStart, at - keyStart);
    const size_t close = text.find('"', at + 2);
    const std::string_view quoted = text.substr(at + 2, (close == std::string_view::npos ? text.size() : close) - at - 2);
    if (ByteText::EqualsNoCase(key, "title")) {
      song = ByteText::Trim(quoted);
      attributes = true;
    } else if (ByteText::EqualsNoCase(key, "artist")) {
      artist = ByteText::Trim(quoted);
      attributes = true;
    }
    if (close == std::string_view::npos) {
      break;
    }
    at = close - 1;
  }
  if (!attributes) {
    return std::string(text);
  }
  if (!artist.empty() && !song.empty()) {
    return std::string(artist) + " - " + std::string(song);
  }
  return std::string(artist.empty() ? song : artist);
}

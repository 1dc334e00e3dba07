#include "playlist/PlaylistSniffer.h"

#include <algorithm>
#include <array>

#include "net/ContentType.h"
#include "playlist/XmlReader.h"
#include "text/ByteText.h"

namespace {

struct TypeKind {
  const char* type;
  PlaylistKind kind;
};

// Content types stations serve their playlists with, the odd ones included.
// An Apple type says HLS; the other m3u types may carry either form.
constexpr std::array<TypeKind, 20> kPlaylistTypes = {{
    {"audio/x-scpls", PlaylistKind::Pls},
    {"audio/scpls", PlaylistKind::Pls},
    {"application/x-scpls", PlaylistKind::Pls},
    {"audio/x-mpegurl", PlaylistKind::M3u},
    {"audio/mpegurl", PlaylistKind::M3u},
    {"application/x-mpegurl", PlaylistKind::M3u},
    {"application/mpegurl", PlaylistKind::M3u},
    {"audio/x-m3u", PlaylistKind::M3u},
    {"audio/m3u", PlaylistKind::M3u},
    {"application/vnd.apple.mpegurl", PlaylistKind::Hls},
    {"application/vnd.apple.mpegurl.audio", PlaylistKind::Hls},
    {"audio/vnd.apple.mpegurl", PlaylistKind::Hls},
    {"application/xspf+xml", PlaylistKind::Xspf},
    {"video/x-ms-asf", PlaylistKind::Asx},
    {"video/x-ms-asx", PlaylistKind::Asx},
    {"audio/x-ms-asx", PlaylistKind::Asx},
    {"application/x-ms-asx", PlaylistKind::Asx},
    {"audio/x-ms-wax", PlaylistKind::Asx},
    {"video/x-ms-wax", PlaylistKind::Asx},
    {"video/x-ms-wvx", PlaylistKind::Asx},
}};

// Types that say nothing about the body, under which only the URL's suffix
// can tell a playlist that has no signature (a plain list of relative paths).
constexpr std::array<const char*, 6> kGenericTypes = {
    "",
    "text/plain",
    "application/octet-stream",
    "binary/octet-stream",
    "application/download",
    "application/x-download",
};

struct SuffixKind {
  const char* suffix;
  PlaylistKind kind;
};

// An .m3u8 is a UTF-8 m3u as often as an HLS playlist; Parse decides.
constexpr std::array<SuffixKind, 7> kSuffixes = {{
    {"pls", PlaylistKind::Pls},
    {"m3u", PlaylistKind::M3u},
    {"m3u8", PlaylistKind::M3u},
    {"xspf", PlaylistKind::Xspf},
    {"asx", PlaylistKind::Asx},
    {"wax", PlaylistKind::Asx},
    {"wvx", PlaylistKind::Asx},
}};

PlaylistKind KindOfType(const std::string& type) {
  for (const TypeKind& entry : kPlaylistTypes) {
    if (type == entry.type) {
      return entry.kind;
    }
  }
  return PlaylistKind::None;
}

bool IsGenericType(const std::string& type) {
  for (const char* generic : kGenericTypes) {
    if (type == generic) {
      return true;
    }
  }
  return false;
}

// A type under which the body is media, never a playlist.
bool NamesMedia(const std::string& type) {
  return type.rfind("audio/", 0) == 0 || type.rfind("video/", 0) == 0 || type == "application/ogg" ||
         type == "application/x-ogg";
}

PlaylistKind KindOfSuffix(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  const size_t slash = url.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    return PlaylistKind::None;
  }
  const std::string suffix = ByteText::Lower(name.substr(dot + 1));
  for (const SuffixKind& entry : kSuffixes) {
    if (suffix == entry.suffix) {
      return entry.kind;
    }
  }
  return PlaylistKind::None;
}

}  // namespace

std::string PlaylistSniffer::BodyText(std::string_view body) {
  if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") {
    return std::string(body.substr(3));
  }
  if (body.size() >= 2 && body.substr(0, 2) == "\xFF\xFE") {
    return ByteText::Utf16ToUtf8(body.substr(2), false);
  }
  if (body.size() >= 2 && body.substr(0, 2) == "\xFE\xFF") {
    return ByteText::Utf16ToUtf8(body.substr(2), true);
  }
  return std::string(body);
}

bool PlaylistSniffer::HasHlsTags(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (ByteText::StartsWithNoCase(ByteText::Trim(text.substr(at, end - at)), "#EXT-X-")) {
      return true;
    }
    at = end + 1;
  }
  return false;
}

PlaylistKind PlaylistSniffer::Signature(std::string_view text) {
  const std::string_view start = ByteText::Trim(text);
  if (ByteText::StartsWithNoCase(start, "[playlist]") || ByteText::StartsWithNoCase(start, "[reference]")) {
    return PlaylistKind::Pls;
  }
  if (ByteText::StartsWithNoCase(start, "#EXTM3U")) {
    return HasHlsTags(start) ? PlaylistKind::Hls : PlaylistKind::M3u;
  }
  if (ByteText::StartsWithNoCase(start, "#EXT-X-")) {
    return PlaylistKind::Hls;
  }
  if (ByteText::StartsWithNoCase(start, "http://") || ByteText::StartsWithNoCase(start, "https://")) {
    return PlaylistKind::M3u;  // a plain list of stream URLs
  }
  if (!start.empty() && start.front() == '<') {
    const std::string root = XmlReader::RootName(start);
    if (root == "playlist") {
      return PlaylistKind::Xspf;
    }
    if (root == "asx") {
      return PlaylistKind::Asx;
    }
  }
  return PlaylistKind::None;
}

PlaylistKind PlaylistSniffer::Recognise(std::string_view contentType, std::string_view url,
                                        std::string_view firstBytes) {
  const std::string type = ContentType::MediaType(contentType);
  const PlaylistKind signature = Signature(BodyText(firstBytes.substr(0, PlaylistParser::kSniffBytes)));
  const PlaylistKind typeKind = KindOfType(type);
  if (typeKind != PlaylistKind::None) {
    if (signature != PlaylistKind::None) {
      return signature;
    }
    // The ASF types also serve ASF media, which no playlist text starts.
    if (typeKind == PlaylistKind::Asx && !ByteText::Trim(firstBytes).empty()) {
      return PlaylistKind::None;
    }
    return typeKind;
  }
  if (NamesMedia(type)) {
    return PlaylistKind::None;
  }
  if (signature != PlaylistKind::None) {
    return signature;
  }
  return IsGenericType(type) ? KindOfSuffix(url) : PlaylistKind::None;
}

#include "playlist/HlsPlaylist.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "playlist/Extinf.h"
#include "playlist/UriResolver.h"
#include "text/ByteText.h"

namespace {

// The value after "TAG:" when line is that tag; tags are upper case by the
// format, but servers are not always strict.
bool TagValue(std::string_view line, std::string_view tag, std::string_view& value) {
  if (!ByteText::StartsWithNoCase(line, tag)) {
    return false;
  }
  std::string_view rest = line.substr(tag.size());
  if (!rest.empty() && rest.front() != ':') {
    return false;  // a longer tag that starts the same
  }
  value = rest.empty() ? rest : ByteText::Trim(rest.substr(1));
  return true;
}

int64_t ToInteger(std::string_view text) {
  int64_t value = 0;
  text = ByteText::Trim(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() ? value : 0;
}

double ToSeconds(std::string_view text) {
  double value = 0;
  text = ByteText::Trim(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && value > 0 && value < 1e9 ? value : 0;
}

// An attribute list: NAME=value,NAME="quoted, value",...
class Attributes {
 public:
  explicit Attributes(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
      while (at < text.size() && (text[at] == ',' || ByteText::IsBlank(text[at]))) {
        ++at;
      }
      const size_t equals = text.find('=', at);
      if (equals == std::string_view::npos) {
        break;
      }
      const std::string_view name = ByteText::Trim(text.substr(at, equals - at));
      at = equals + 1;
      std::string_view value;
      if (at < text.size() && text[at] == '"') {
        const size_t close = std::min(text.find('"', at + 1), text.size());
        value = text.substr(at + 1, close - at - 1);
        at = close + 1;
      } else {
        const size_t comma = std::min(text.find(',', at), text.size());
        value = ByteText::Trim(text.substr(at, comma - at));
        at = comma;
      }
      values.emplace_back(name, value);
    }
  }

  std::string Get(std::string_view name) const {
    for (const auto& [key, value] : values) {
      if (ByteText::EqualsNoCase(key, name)) {
        return std::string(value);
      }
    }
    return "";
  }

 private:
  std::vector<std::pair<std::string_view, std::string_view>> values;
};

}  // namespace

bool HlsPlaylist::IsRecordableAudioOnly(std::string_view codecs) {
  bool any = false;
  size_t at = 0;
  while (at <= codecs.size()) {
    const size_t comma = std::min(codecs.find(',', at), codecs.size());
    const std::string_view codec = ByteText::Trim(codecs.substr(at, comma - at));
    at = comma + 1;
    if (codec.empty()) {
      continue;
    }
    // mp4a.40.x is AAC (and mp4a.40.34 MPEG layer III), mp4a.6B and
    // mp4a.69 MPEG audio; everything else is video or another audio codec.
    if (!(codec.size() > 5 && ByteText::StartsWithNoCase(codec, "mp4a.")) && !ByteText::EqualsNoCase(codec, "mp3")) {
      return false;
    }
    any = true;
  }
  return any;
}

HlsPlaylist HlsPlaylist::Parse(std::string_view url, std::string_view text) {
  HlsPlaylist playlist;
  bool header = false;
  bool anyTag = false;

  // What applies to the next URI line.
  bool variantPending = false;
  Variant variant;
  Segment segment;
  // What applies from its tag on.
  std::string mapUrl;
  bool mapByteRange = false;
  std::string keyMethod;

  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    const std::string_view line = ByteText::Trim(text.substr(at, end - at));
    at = end + 1;
    if (line.empty()) {
      continue;
    }
    std::string_view value;
    if (line.front() != '#') {
      const std::string resolved = UriResolver::Resolve(url, line);
      if (variantPending) {
        variant.url = resolved;
        playlist.variants.push_back(std::move(variant));
        variant = Variant{};
        variantPending = false;
      } else {
        segment.url = resolved;
        segment.mapUrl = mapUrl;
        segment.byteRange = segment.byteRange || (mapByteRange && !mapUrl.empty());
        segment.keyMethod = keyMethod;
        playlist.segments.push_back(std::move(segment));
        segment = Segment{};
      }
      continue;
    }
    if (ByteText::StartsWithNoCase(line, "#EXTM3U")) {
      header = true;
      continue;
    }
    if (line.size() > 7 && ByteText::StartsWithNoCase(line, "#EXT-X-")) {
      anyTag = true;
    }
    if (TagValue(line, "#EXT-X-STREAM-INF", value)) {
      const Attributes attributes(value);
      variantPending = true;
      variant.bandwidth = ToInteger(attributes.Get("BANDWIDTH"));
      variant.codecs = attributes.Get("CODECS");
      variant.audioGroup = attributes.Get("AUDIO");
      playlist.master = true;
    } else if (TagValue(line, "#EXT-X-MEDIA", value)) {
      const Attributes attributes(value);
      if (ByteText::EqualsNoCase(attributes.Get("TYPE"), "AUDIO")) {
        Rendition rendition;
        const std::string uri = attributes.Get("URI");
        rendition.url = uri.empty() ? "" : UriResolver::Resolve(url, uri);
        rendition.groupId = attributes.Get("GROUP-ID");
        rendition.name = attributes.Get("NAME");
        rendition.isDefault = ByteText::EqualsNoCase(attributes.Get("DEFAULT"), "YES");
        playlist.audioRenditions.push_back(std::move(rendition));
      }
    } else if (TagValue(line, "#EXTINF", value)) {
      segment.duration = ToSeconds(Extinf::Duration(value));
      segment.title = Extinf::Title(value);
    } else if (TagValue(line, "#EXT-X-TARGETDURATION", value)) {
      playlist.targetDuration = ToSeconds(value);
    } else if (TagValue(line, "#EXT-X-MEDIA-SEQUENCE", value)) {
      // A number near the top of the range would overflow when segments
      // are counted on from it; folded into the lower half, as players do,
      // it still rises by one per segment.
      playlist.mediaSequence = std::max<int64_t>(0, ToInteger(value));
      if (playlist.mediaSequence > kMaxMediaSequence) {
        playlist.mediaSequence &= kMaxMediaSequence;
      }
    } else if (TagValue(line, "#EXT-X-ENDLIST", value)) {
      playlist.endList = true;
    } else if (TagValue(line, "#EXT-X-DISCONTINUITY", value)) {
      segment.discontinuity = true;
    } else if (TagValue(line, "#EXT-X-GAP", value)) {
      segment.gap = true;
    } else if (TagValue(line, "#EXT-X-BYTERANGE", value)) {
      segment.byteRange = true;
    } else if (TagValue(line, "#EXT-X-MAP", value)) {
      const Attributes attributes(value);
      const std::string uri = attributes.Get("URI");
      mapUrl = uri.empty() ? "" : UriResolver::Resolve(url, uri);
      mapByteRange = !attributes.Get("BYTERANGE").empty();
    } else if (TagValue(line, "#EXT-X-KEY", value)) {
      const std::string method = Attributes(value).Get("METHOD");
      keyMethod = ByteText::EqualsNoCase(method, "NONE") ? "" : method;
    }
  }
  if (!header && !anyTag) {
    throw std::runtime_error("not an HLS playlist");
  }
  // The media sequence tag belongs before the first segment, but numbering
  // afterwards copes with a server that puts it later.
  for (size_t index = 0; index < playlist.segments.size(); ++index) {
    playlist.segments[index].sequence = playlist.mediaSequence + static_cast<int64_t>(index);
  }
  if (playlist.master) {
    playlist.segments.clear();
  }
  return playlist;
}

std::string HlsPlaylist::AudioUrl() const {
  if (variants.empty()) {
    throw std::runtime_error("the HLS master playlist lists no stream");
  }
  const Variant* best = nullptr;
  for (const Variant& candidate : variants) {
    if (IsRecordableAudioOnly(candidate.codecs) && (best == nullptr || candidate.bandwidth > best->bandwidth)) {
      best = &candidate;
    }
  }
  if (best == nullptr) {
    best = &variants.front();
    for (const Variant& candidate : variants) {
      if (candidate.bandwidth > best->bandwidth) {
        best = &candidate;
      }
    }
  }
  if (!best->audioGroup.empty()) {
    const Rendition* chosen = nullptr;
    for (const Rendition& rendition : audioRenditions) {
      if (rendition.groupId != best->audioGroup || rendition.url.empty()) {
        continue;
      }
      if (chosen == nullptr || (rendition.isDefault && !chosen->isDefault)) {
        chosen = &rendition;
      }
    }
    if (chosen != nullptr) {
      return chosen->url;
    }
  }
  return best->url;
}

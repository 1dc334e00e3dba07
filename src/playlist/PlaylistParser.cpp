#include "playlist/PlaylistParser.h"

#include <array>
#include <functional>
#include <map>
#include <utility>

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

constexpr size_t kMaxXmlDepth = 64;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = LowerAscii(c);
  }
  return lower;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view text) { return ByteText::Trim(text); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) {
      return false;
    }
  }
  return true;
}

// The media type alone, lower case, without parameters or blanks.
std::string MediaType(std::string_view contentType) { return Lower(Trim(contentType.substr(0, contentType.find(';')))); }

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
  const std::string suffix = Lower(name.substr(dot + 1));
  for (const SuffixKind& entry : kSuffixes) {
    if (suffix == entry.suffix) {
      return entry.kind;
    }
  }
  return PlaylistKind::None;
}

// UTF-16 text after its byte-order mark, in UTF-8; an unpaired surrogate
// becomes U+FFFD, an odd last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string text;
  text.reserve(bytes.size());
  auto unitAt = [&](size_t at) -> char32_t {
    const auto first = static_cast<uint8_t>(bytes[at]);
    const auto second = static_cast<uint8_t>(bytes[at + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
    char32_t unit = unitAt(at);
    if (unit >= 0xD800 && unit < 0xDC00 && at + 3 < bytes.size()) {
      const char32_t low = unitAt(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        ByteText::AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        at += 2;
        continue;
      }
    }
    ByteText::AppendUtf8(text, (unit >= 0xD800 && unit < 0xE000) ? 0xFFFD : unit);
  }
  return text;
}

// The body as text: without a UTF-8 byte-order mark, and in UTF-8 when a
// UTF-16 mark says so (Windows tools save ASX files that way).
std::string BodyText(std::string_view body) {
  if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") {
    return std::string(body.substr(3));
  }
  if (body.size() >= 2 && body.substr(0, 2) == "\xFF\xFE") {
    return Utf16ToUtf8(body.substr(2), false);
  }
  if (body.size() >= 2 && body.substr(0, 2) == "\xFE\xFF") {
    return Utf16ToUtf8(body.substr(2), true);
  }
  return std::string(body);
}

// ---- A tolerant XML reader ------------------------------------------------

struct XmlEvent {
  enum class Type { Start, End, Text };
  Type type = Type::Text;
  std::string name;  // local name, lower case
  std::vector<std::pair<std::string, std::string>> attributes;  // names lower case
  std::string text;

  std::string Attribute(const std::string& key) const {
    for (const auto& [name, value] : attributes) {
      if (name == key) {
        return value;
      }
    }
    return "";
  }
};

bool DecodeReference(std::string_view entity, std::string& out) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {{
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
  }};
  for (const auto& [name, character] : kNamed) {
    if (entity == name) {
      out += character;
      return true;
    }
  }
  if (entity.size() < 2 || entity[0] != '#') {
    return false;  // nothing else is expanded, so no DTD can make text grow
  }
  const bool hex = entity[1] == 'x' || entity[1] == 'X';
  const std::string_view digits = entity.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) {
    return false;
  }
  char32_t code = 0;
  for (const char c : digits) {
    int value = -1;
    if (c >= '0' && c <= '9') {
      value = c - '0';
    } else if (hex && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
      value = LowerAscii(c) - 'a' + 10;
    }
    if (value < 0) {
      return false;
    }
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
  }
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
    return false;
  }
  ByteText::AppendUtf8(out, code);
  return true;
}

// Text with its character references decoded; an '&' that starts none
// stays as it is, as browsers read broken ASX files.
std::string DecodeXmlText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '&') {
      const size_t end = raw.find(';', i + 1);
      if (end != std::string_view::npos && end - i <= 12 && DecodeReference(raw.substr(i + 1, end - i - 1), out)) {
        i = end;
        continue;
      }
    }
    out += raw[i];
  }
  return out;
}

std::string LocalName(std::string_view name) {
  const size_t colon = name.rfind(':');
  return Lower(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

bool IsNameChar(char c) { return !IsBlank(c) && c != '>' && c != '/' && c != '=' && c != '<'; }

// Hands each tag and text run to emit, in document order, until emit
// returns false. Comments, processing instructions and declarations are
// skipped; a self-closing tag gives a Start and an End.
void ReadXml(std::string_view text, const std::function<bool(const XmlEvent&)>& emit) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (text[i] != '<') {
      const size_t next = std::min(text.find('<', i), n);
      XmlEvent event;
      event.text = DecodeXmlText(text.substr(i, next - i));
      if (!emit(event)) {
        return;
      }
      i = next;
      continue;
    }
    const std::string_view rest = text.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      const size_t end = text.find("-->", i + 4);
      i = end == std::string_view::npos ? n : end + 3;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      const size_t end = text.find("]]>", i + 9);
      XmlEvent event;
      event.text = std::string(text.substr(i + 9, (end == std::string_view::npos ? n : end) - i - 9));
      if (!emit(event)) {
        return;
      }
      i = end == std::string_view::npos ? n : end + 3;
    } else if (rest.substr(0, 2) == "<!") {
      // A declaration; a DOCTYPE's internal subset may hold '>' in brackets.
      int depth = 0;
      for (i += 2; i < n && (text[i] != '>' || depth > 0); ++i) {
        depth += text[i] == '[' ? 1 : (text[i] == ']' && depth > 0 ? -1 : 0);
      }
      ++i;
    } else if (rest.substr(0, 2) == "<?") {
      const size_t end = text.find("?>", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
    } else if (rest.substr(0, 2) == "</") {
      const size_t end = std::min(text.find('>', i), n);
      XmlEvent event;
      event.type = XmlEvent::Type::End;
      event.name = LocalName(Trim(text.substr(i + 2, end - i - 2)));
      if (!emit(event)) {
        return;
      }
      i = end + 1;
    } else {
      size_t at = i + 1;
      while (at < n && IsNameChar(text[at])) {
        ++at;
      }
      if (at == i + 1) {
        XmlEvent event;
        event.text = "<";
        if (!emit(event)) {
          return;
        }
        ++i;
        continue;
      }
      XmlEvent event;
      event.type = XmlEvent::Type::Start;
      event.name = LocalName(text.substr(i + 1, at - i - 1));
      bool selfClosing = false;
      while (at < n && text[at] != '>') {
        if (IsBlank(text[at])) {
          ++at;
          continue;
        }
        if (text[at] == '/') {
          selfClosing = at + 1 < n && text[at + 1] == '>';
          ++at;
          continue;
        }
        const size_t nameStart = at;
        while (at < n && IsNameChar(text[at])) {
          ++at;
        }
        if (at == nameStart) {
          ++at;  // a stray '=' or '<': skipped
          continue;
        }
        std::string name = Lower(text.substr(nameStart, at - nameStart));
        while (at < n && IsBlank(text[at])) {
          ++at;
        }
        std::string value;
        if (at < n && text[at] == '=') {
          ++at;
          while (at < n && IsBlank(text[at])) {
            ++at;
          }
          if (at < n && (text[at] == '"' || text[at] == '\'')) {
            const size_t close = std::min(text.find(text[at], at + 1), n);
            value = DecodeXmlText(text.substr(at + 1, close - at - 1));
            at = std::min(close + 1, n);
          } else {
            const size_t start = at;
            while (at < n && !IsBlank(text[at]) && text[at] != '>') {
              ++at;
            }
            value = DecodeXmlText(text.substr(start, at - start));
          }
        }
        event.attributes.emplace_back(std::move(name), std::move(value));
      }
      i = at + 1;
      if (!emit(event)) {
        return;
      }
      if (selfClosing) {
        XmlEvent end;
        end.type = XmlEvent::Type::End;
        end.name = event.name;
        if (!emit(end)) {
          return;
        }
      }
    }
  }
}

// Follows the element nesting of ReadXml's events, tolerating end tags that
// never come or that close something never opened.
class XmlWalker {
 public:
  void Take(const XmlEvent& event) {
    switch (event.type) {
      case XmlEvent::Type::Start:
        if (stack.size() < kMaxXmlDepth) {
          stack.push_back(event.name);
        }
        text.clear();
        break;
      case XmlEvent::Type::End:
        for (size_t depth = stack.size(); depth > 0; --depth) {
          if (stack[depth - 1] == event.name) {
            stack.resize(depth - 1);
            break;
          }
        }
        break;
      case XmlEvent::Type::Text:
        if (text.size() < PlaylistParser::kMaxBytes) {
          text += event.text;
        }
        break;
    }
  }
  // The name of the element depth levels above the innermost ("" if none).
  std::string Parent(size_t depth = 0) const { return depth < stack.size() ? stack[stack.size() - 1 - depth] : ""; }
  bool Inside(const std::string& name) const {
    for (const std::string& open : stack) {
      if (open == name) {
        return true;
      }
    }
    return false;
  }
  std::string Text() const { return std::string(Trim(text)); }

 private:
  std::vector<std::string> stack;
  std::string text;  // text since the last start tag
};

// The local name of the first element of an XML text, lower case; "" when
// there is none.
std::string XmlRootName(std::string_view text) {
  std::string root;
  ReadXml(text, [&](const XmlEvent& event) {
    if (event.type != XmlEvent::Type::Start) {
      return true;
    }
    root = event.name;
    return false;
  });
  return root;
}

bool HasHlsTags(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (StartsWithNoCase(Trim(text.substr(at, end - at)), "#EXT-X-")) {
      return true;
    }
    at = end + 1;
  }
  return false;
}

// The kind the text itself announces, or None.
PlaylistKind Signature(std::string_view text) {
  const std::string_view start = Trim(text);
  if (StartsWithNoCase(start, "[playlist]") || StartsWithNoCase(start, "[reference]")) {
    return PlaylistKind::Pls;
  }
  if (StartsWithNoCase(start, "#EXTM3U")) {
    return HasHlsTags(start) ? PlaylistKind::Hls : PlaylistKind::M3u;
  }
  if (StartsWithNoCase(start, "#EXT-X-")) {
    return PlaylistKind::Hls;
  }
  if (StartsWithNoCase(start, "http://") || StartsWithNoCase(start, "https://")) {
    return PlaylistKind::M3u;  // a plain list of stream URLs
  }
  if (!start.empty() && start.front() == '<') {
    const std::string root = XmlRootName(start);
    if (root == "playlist") {
      return PlaylistKind::Xspf;
    }
    if (root == "asx") {
      return PlaylistKind::Asx;
    }
  }
  return PlaylistKind::None;
}

// ---- The forms -------------------------------------------------------------

class EntryCollector {
 public:
  EntryCollector(std::string_view base, Playlist& playlist) : base(base), playlist(playlist) {}

  void Add(std::string_view reference, std::string_view title) {
    reference = Trim(reference);
    if (reference.empty()) {
      return;
    }
    std::string url = PlaylistParser::ResolveUrl(base, reference);
    if (!PlaylistParser::IsHttpUrl(url)) {
      ++playlist.skippedEntries;
      return;
    }
    playlist.entries.push_back({std::move(url), std::string(Trim(title))});
  }

  // The station name, unless the playlist named one itself: the first
  // entry title.
  void NameStation() {
    for (const PlaylistEntry& entry : playlist.entries) {
      if (!playlist.stationName.empty()) {
        break;
      }
      playlist.stationName = entry.title;
    }
  }

 private:
  std::string_view base;
  Playlist& playlist;
};

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    visit(Trim(text.substr(at, end - at)));
    at = end + 1;
  }
}

// "File12" with prefix "file": 12; -1 for anything else.
int64_t NumberedKey(std::string_view key, std::string_view prefix) {
  if (key.size() <= prefix.size() || key.size() > prefix.size() + 9 || key.substr(0, prefix.size()) != prefix) {
    return -1;
  }
  int64_t number = 0;
  for (const char c : key.substr(prefix.size())) {
    if (c < '0' || c > '9') {
      return -1;
    }
    number = number * 10 + (c - '0');
  }
  return number;
}

void ParsePls(std::string_view text, EntryCollector& collector) {
  struct Item {
    std::string file;
    std::string title;
  };
  std::map<int64_t, Item> items;  // by number, which decides the order
  ForEachLine(text, [&](std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return;
    }
    const std::string key = Lower(Trim(line.substr(0, equals)));
    const std::string_view value = Trim(line.substr(equals + 1));
    int64_t number = NumberedKey(key, "file");
    if (number < 0) {
      number = NumberedKey(key, "ref");  // the [Reference] form of ASF links
    }
    if (number >= 0) {
      if (items[number].file.empty()) {
        items[number].file = value;
      }
    } else if ((number = NumberedKey(key, "title")) >= 0 && items[number].title.empty()) {
      items[number].title = value;
    }
  });
  for (const auto& [number, item] : items) {
    collector.Add(item.file, item.title);
  }
}

// The title of an #EXTINF line: what follows the first comma outside quotes
// (attributes such as tvg-name="a,b" may come before it).
std::string_view ExtinfTitle(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ',' && !quoted) {
      return Trim(line.substr(i + 1));
    }
  }
  return {};
}

void ParseM3u(std::string_view text, EntryCollector& collector, Playlist& playlist) {
  std::string title;
  ForEachLine(text, [&](std::string_view line) {
    if (StartsWithNoCase(line, "#EXTINF:")) {
      title = ExtinfTitle(line);
    } else if (StartsWithNoCase(line, "#PLAYLIST:")) {
      if (playlist.stationName.empty()) {
        playlist.stationName = Trim(line.substr(10));
      }
    } else if (!line.empty() && line.front() != '#') {
      collector.Add(line, title);
      title.clear();
    }
  });
}

void ParseXspf(std::string_view text, EntryCollector& collector, Playlist& playlist) {
  XmlWalker walker;
  std::vector<std::string> locations;
  std::string title;
  ReadXml(text, [&](const XmlEvent& event) {
    if (event.type == XmlEvent::Type::Start && event.name == "track") {
      locations.clear();
      title.clear();
    }
    if (event.type == XmlEvent::Type::End) {
      const std::string element = walker.Parent();
      const std::string parent = walker.Parent(1);
      if (element == event.name && event.name == "location" && parent == "track") {
        locations.push_back(walker.Text());
      } else if (element == event.name && event.name == "title" && parent == "track") {
        title = walker.Text();
      } else if (element == event.name && event.name == "title" && parent == "playlist" &&
                 playlist.stationName.empty()) {
        playlist.stationName = walker.Text();
      } else if (element == event.name && event.name == "track") {
        // Several locations are the same track's alternatives: each is an entry.
        for (const std::string& location : locations) {
          collector.Add(location, title);
        }
        locations.clear();
      }
    }
    walker.Take(event);
    return true;
  });
}

void ParseAsx(std::string_view text, EntryCollector& collector, Playlist& playlist) {
  XmlWalker walker;
  std::vector<std::string> refs;
  std::string title;
  bool inEntry = false;
  auto endEntry = [&] {
    // The entry's title may follow its refs.
    for (const std::string& ref : refs) {
      collector.Add(ref, title);
    }
    refs.clear();
    title.clear();
    inEntry = false;
  };
  ReadXml(text, [&](const XmlEvent& event) {
    if (event.type == XmlEvent::Type::Start && (event.name == "ref" || event.name == "entryref")) {
      // Empty elements, often left unclosed: kept off the nesting.
      if (event.name == "entryref") {
        collector.Add(event.Attribute("href"), "");
      } else if (inEntry) {
        refs.push_back(event.Attribute("href"));
      }
      return true;
    }
    if (event.type == XmlEvent::Type::Start && event.name == "entry") {
      if (inEntry) {
        endEntry();  // an entry never closed
      }
      inEntry = true;
    } else if (event.type == XmlEvent::Type::End && event.name == "entry" && inEntry) {
      endEntry();
    } else if (event.type == XmlEvent::Type::End && event.name == "title" && walker.Parent() == "title") {
      const std::string parent = walker.Parent(1);
      if (parent == "entry") {
        title = walker.Text();
      } else if (parent == "asx" && playlist.stationName.empty()) {
        playlist.stationName = walker.Text();
      }
    }
    walker.Take(event);
    return true;
  });
  if (inEntry) {
    endEntry();
  }
}

// ---- URL references (RFC 3986) ----------------------------------------------

struct UrlParts {
  bool hasScheme = false;
  std::string_view scheme;
  bool hasAuthority = false;
  std::string_view authority;
  std::string_view path;
  bool hasQuery = false;
  std::string_view query;
  bool hasFragment = false;
  std::string_view fragment;
};

bool IsSchemeChar(char c, bool first) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return first ? letter : (letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
}

// The five components, as the regular expression of RFC 3986 appendix B
// splits them.
UrlParts SplitUrl(std::string_view url) {
  UrlParts parts;
  const size_t colon = url.find(':');
  if (colon != std::string_view::npos && colon > 0 && colon < url.find_first_of("/?#")) {
    bool valid = true;
    for (size_t i = 0; i < colon && valid; ++i) {
      valid = IsSchemeChar(url[i], i == 0);
    }
    if (valid) {
      parts.hasScheme = true;
      parts.scheme = url.substr(0, colon);
      url.remove_prefix(colon + 1);
    }
  }
  if (url.substr(0, 2) == "//") {
    const size_t end = std::min(url.find_first_of("/?#", 2), url.size());
    parts.hasAuthority = true;
    parts.authority = url.substr(2, end - 2);
    url.remove_prefix(end);
  }
  const size_t hash = url.find('#');
  if (hash != std::string_view::npos) {
    parts.hasFragment = true;
    parts.fragment = url.substr(hash + 1);
    url = url.substr(0, hash);
  }
  const size_t question = url.find('?');
  if (question != std::string_view::npos) {
    parts.hasQuery = true;
    parts.query = url.substr(question + 1);
    url = url.substr(0, question);
  }
  parts.path = url;
  return parts;
}

void RemoveLastSegment(std::string& output) {
  const size_t slash = output.rfind('/');
  output.resize(slash == std::string::npos ? 0 : slash);
}

// RFC 3986, 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  output.reserve(input.size());
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./" || input.substr(0, 3) == "/./") {
      input.remove_prefix(2);  // "/./" becomes "/"
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../") {
      input.remove_prefix(3);
      RemoveLastSegment(output);
    } else if (input == "/..") {
      input = "/";
      RemoveLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t end = std::min(input.find('/', 1), input.size());
      output.append(input.substr(0, end));
      input.remove_prefix(end);
    }
  }
  return output;
}

// RFC 3986, 5.2.3.
std::string MergePaths(const UrlParts& base, std::string_view path) {
  if (base.hasAuthority && base.path.empty()) {
    return "/" + std::string(path);
  }
  const size_t slash = base.path.rfind('/');
  return slash == std::string_view::npos ? std::string(path)
                                         : std::string(base.path.substr(0, slash + 1)) + std::string(path);
}

}  // namespace

std::string PlaylistParser::ResolveUrl(std::string_view base, std::string_view reference) {
  reference = Trim(reference);
  const UrlParts b = SplitUrl(Trim(base));
  const UrlParts r = SplitUrl(reference);
  if (!b.hasScheme && !r.hasScheme) {
    return std::string(reference);
  }
  // RFC 3986, 5.2.2, strict: a reference with a scheme is taken as it is.
  std::string_view scheme;
  bool hasAuthority = false;
  std::string_view authority;
  std::string path;
  bool hasQuery = false;
  std::string_view query;
  if (r.hasScheme) {
    scheme = r.scheme;
    hasAuthority = r.hasAuthority;
    authority = r.authority;
    path = RemoveDotSegments(r.path);
    hasQuery = r.hasQuery;
    query = r.query;
  } else {
    scheme = b.scheme;
    if (r.hasAuthority) {
      hasAuthority = true;
      authority = r.authority;
      path = RemoveDotSegments(r.path);
      hasQuery = r.hasQuery;
      query = r.query;
    } else {
      hasAuthority = b.hasAuthority;
      authority = b.authority;
      if (r.path.empty()) {
        path = std::string(b.path);
        hasQuery = r.hasQuery || b.hasQuery;
        query = r.hasQuery ? r.query : b.query;
      } else {
        path = RemoveDotSegments(r.path.front() == '/' ? std::string(r.path) : MergePaths(b, r.path));
        hasQuery = r.hasQuery;
        query = r.query;
      }
    }
  }
  // RFC 3986, 5.3.
  std::string url;
  url.reserve(base.size() + reference.size());
  url.append(scheme).append(":");
  if (hasAuthority) {
    url.append("//").append(authority);
  }
  url += path;
  if (hasQuery) {
    url.append("?").append(query);
  }
  if (r.hasFragment) {
    url.append("#").append(r.fragment);
  }
  return url;
}

bool PlaylistParser::IsHttpUrl(std::string_view url) {
  const UrlParts parts = SplitUrl(url);
  if (!parts.hasScheme || !parts.hasAuthority) {
    return false;
  }
  const std::string scheme = Lower(parts.scheme);
  if (scheme != "http" && scheme != "https") {
    return false;
  }
  std::string_view host = parts.authority.substr(parts.authority.rfind('@') + 1);
  if (!host.empty() && host.front() != '[') {
    host = host.substr(0, host.find(':'));
  }
  return !host.empty();
}

PlaylistKind PlaylistParser::Recognise(std::string_view contentType, std::string_view url,
                                       std::string_view firstBytes) {
  const std::string type = MediaType(contentType);
  const PlaylistKind signature = Signature(BodyText(firstBytes.substr(0, kSniffBytes)));
  const PlaylistKind typeKind = KindOfType(type);
  if (typeKind != PlaylistKind::None) {
    if (signature != PlaylistKind::None) {
      return signature;
    }
    // The ASF types also serve ASF media, which no playlist text starts.
    if (typeKind == PlaylistKind::Asx && !Trim(firstBytes).empty()) {
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

Playlist PlaylistParser::Parse(PlaylistKind kind, std::string_view url, std::string_view body) {
  Playlist playlist;
  if (body.size() > kMaxBytes) {
    playlist.truncated = true;
    body = body.substr(0, kMaxBytes);
    // No entry read half: cut after the last line end or tag.
    const size_t cut = body.find_last_of("\n>");
    body = body.substr(0, cut == std::string_view::npos ? 0 : cut + 1);
  }
  const std::string text = BodyText(body);
  const PlaylistKind signature = Signature(text);
  playlist.kind = signature != PlaylistKind::None ? signature : kind;
  if (playlist.kind == PlaylistKind::M3u || playlist.kind == PlaylistKind::Hls) {
    playlist.kind = HasHlsTags(text) ? PlaylistKind::Hls : PlaylistKind::M3u;
  }
  EntryCollector collector(url, playlist);
  switch (playlist.kind) {
    case PlaylistKind::Pls:
      ParsePls(text, collector);
      break;
    case PlaylistKind::M3u:
      ParseM3u(text, collector, playlist);
      break;
    case PlaylistKind::Xspf:
      ParseXspf(text, collector, playlist);
      break;
    case PlaylistKind::Asx:
      ParseAsx(text, collector, playlist);
      break;
    case PlaylistKind::Hls:
    case PlaylistKind::None:
      return playlist;
  }
  collector.NameStation();
  return playlist;
}

#include "playlist/PlaylistParser.h"

#include <algorithm>
#include <map>
#include <utility>

#include "playlist/Extinf.h"
#include "playlist/PlaylistSniffer.h"
#include "playlist/UriResolver.h"
#include "playlist/XmlReader.h"
#include "text/ByteText.h"

namespace {


class EntryCollector {
 public:
  EntryCollector(std::string_view base, Playlist& playlist) : base(base), playlist(playlist) {}

  void Add(std::string_view reference, std::string_view title) {
    reference = ByteText::Trim(reference);
    if (reference.empty()) {
      return;
    }
    std::string url = UriResolver::Resolve(base, reference);
    if (!UriResolver::IsHttpUrl(url)) {
      ++playlist.skippedEntries;
      return;
    }
    playlist.entries.push_back({std::move(url), std::string(ByteText::Trim(title))});
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
    visit(ByteText::Trim(text.substr(at, end - at)));
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
    const std::string key = ByteText::Lower(ByteText::Trim(line.substr(0, equals)));
    const std::string_view value = ByteText::Trim(line.substr(equals + 1));
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

void ParseM3u(std::string_view text, EntryCollector& collector, Playlist& playlist) {
  std::string title;
  ForEachLine(text, [&](std::string_view line) {
    if (ByteText::StartsWithNoCase(line, "#EXTINF:")) {
      title = Extinf::Title(line.substr(8));
    } else if (ByteText::StartsWithNoCase(line, "#PLAYLIST:")) {
      if (playlist.stationName.empty()) {
        playlist.stationName = ByteText::Trim(line.substr(10));
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
  XmlReader::Read(text, [&](const XmlEvent& event) {
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
  XmlReader::Read(text, [&](const XmlEvent& event) {
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

}  // namespace

PlaylistKind PlaylistParser::Recognise(std::string_view contentType, std::string_view url,
                                       std::string_view firstBytes) {
  return PlaylistSniffer::Recognise(contentType, url, firstBytes);
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
  const std::string text = PlaylistSniffer::BodyText(body);
  const PlaylistKind signature = PlaylistSniffer::Signature(text);
  playlist.kind = signature != PlaylistKind::None ? signature : kind;
  if (playlist.kind == PlaylistKind::M3u || playlist.kind == PlaylistKind::Hls) {
    playlist.kind = PlaylistSniffer::HasHlsTags(text) ? PlaylistKind::Hls : PlaylistKind::M3u;
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

std::string PlaylistParser::ResolveUrl(std::string_view base, std::string_view reference) {
  return UriResolver::Resolve(base, reference);
}

bool PlaylistParser::IsHttpUrl(std::string_view url) { return UriResolver::IsHttpUrl(url); }

#include "playlist/PlaylistParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;  // url, title

Entries EntriesOf(const Playlist& playlist) {
  Entries entries;
  for (const PlaylistEntry& entry : playlist.entries) {
    entries.emplace_back(entry.url, entry.title);
  }
  return entries;
}

// text (ASCII) as Windows tools save it: UTF-16 little-endian after a BOM.
std::string Utf16Le(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(PlaylistParserTest, RecognisesByTypeThenBodyThenSuffix) {
  struct Case {
    const char* contentType;
    const char* url;
    std::string body;
    PlaylistKind expected;
  };
  const Case cases[] = {
      // The type names the form.
      {"audio/x-scpls", "http://h/listen", "", PlaylistKind::Pls},
      {"Audio/X-MpegURL; charset=utf-8", "http://h/x", "", PlaylistKind::M3u},
      {"application/vnd.apple.mpegurl", "http://h/x", "", PlaylistKind::Hls},
      {"application/xspf+xml", "http://h/x", "", PlaylistKind::Xspf},
      {"video/x-ms-asf", "http://h/x", "", PlaylistKind::Asx},
      {"audio/x-ms-wax", "http://h/x", "", PlaylistKind::Asx},
      // The body's signature beats a type that names another form.
      {"audio/x-scpls", "http://h/x", "#EXTM3U\nhttp://h/s\n", PlaylistKind::M3u},
      {"audio/x-mpegurl", "http://h/x", "#EXTM3U\n#EXT-X-TARGETDURATION:6\n", PlaylistKind::Hls},
      {"audio/x-mpegurl", "http://h/x", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\na.m3u8\n", PlaylistKind::Hls},
      // An ASF type with ASF media (its header object) is no playlist.
      {"video/x-ms-asf", "http://h/x", "\x30\x26\xB2\x75\x8E\x66\xCF\x11", PlaylistKind::None},
      // Types that name audio or other media are never playlists.
      {"audio/mpeg", "http://h/a.pls", "[playlist]\nFile1=http://h/s\n", PlaylistKind::None},
      {"application/ogg", "http://h/a.m3u", "#EXTM3U\n", PlaylistKind::None},
      {"video/mp2t", "http://h/x.m3u8", "", PlaylistKind::None},
      // Non-audio types: the body decides, after a BOM and blanks.
      {"text/html", "http://h/x", "\xEF\xBB\xBF\r\n  [Playlist]\r\nFile1=http://h/s", PlaylistKind::Pls},
      {"text/plain", "http://h/x", "[Reference]\nRef1=http://h/s\n", PlaylistKind::Pls},
      {"", "http://h/x", "#EXTM3U\n#EXTINF:-1,x\nhttp://h/s", PlaylistKind::M3u},
      {"application/octet-stream", "http://h/x", "http://h/s\nhttp://h/t\n", PlaylistKind::M3u},
      {"text/xml", "http://h/x",
       "<?xml version=\"1.0\"?><!-- c --><!DOCTYPE x><playlist xmlns=\"http://xspf.org/ns/0/\">",
       PlaylistKind::Xspf},
      {"", "http://h/x", "\n<ASX version=\"3.0\">", PlaylistKind::Asx},
      {"", "http://h/x", "<xspf:playlist xmlns:xspf=\"http://xspf.org/ns/0/\">", PlaylistKind::Xspf},
      {"", "http://h/x", Utf16Le("<asx>"), PlaylistKind::Asx},
      // Generic types: the suffix decides when the body cannot.
      {"text/plain", "http://h/dir/station.M3U?x=1#f", "stream.mp3\n", PlaylistKind::M3u},
      {"application/octet-stream", "http://h/a.pls", "", PlaylistKind::Pls},
      {"", "http://h/a.m3u8", "", PlaylistKind::M3u},
      {"", "http://h/a.xspf", "", PlaylistKind::Xspf},
      {"", "http://h/a.wax", "", PlaylistKind::Asx},
      {"text/html", "http://h/a.pls", "<html>", PlaylistKind::None},  // a web page is no playlist
      {"", "http://h/a.pls/", "", PlaylistKind::None},
      {"", "http://h/stream", std::string("\xFF\xFB\x90\x00", 4), PlaylistKind::None},
      {"", "http://h/x", "<html><body>", PlaylistKind::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaylistParser::Recognise(c.contentType, c.url, c.body), c.expected)
        << c.contentType << " " << c.url << " " << c.body;
  }
}

TEST(PlaylistParserTest, ReadsEveryFormWithTitlesStationAndResolvedEntries) {
  struct Case {
    const char* name;
    PlaylistKind kind;
    std::string body;
    Entries expected;
    std::string station;
    int64_t skipped = 0;
  };
  const std::string base = "http://radio.example/lists/station.pls";
  const Case cases[] = {
      {"pls ordered by number, keys in any case", PlaylistKind::Pls,
       "[playlist]\r\nNumberOfEntries=3\r\nfile2=http://b/2\r\nTITLE2=Two\r\nFile1=http://a/1\r\nTitle1=(#1) Rock FM\r\n"
       "File10=/ten\r\nLength1=-1\r\nVersion=2\r\n",
       {{"http://a/1", "(#1) Rock FM"}, {"http://b/2", "Two"}, {"http://radio.example/ten", ""}},
       "(#1) Rock FM"},
      {"pls entries that are not http", PlaylistKind::Pls,
       "[playlist]\nFile1=mms://a/1\nFile2=C:\\Music\\x.mp3\nFile3=https://c/3\nTitle3=Three\nFile4=\n",
       {{"https://c/3", "Three"}}, "Three", 2},
      {"asf reference file", PlaylistKind::Pls, "[Reference]\nRef1=http://a/1?MSWMExt=.asf\nRef2=mms://a/2\n",
       {{"http://a/1?MSWMExt=.asf", ""}}, "", 1},
      {"m3u with extinf titles and playlist name", PlaylistKind::M3u,
       "#EXTM3U\n#PLAYLIST:Jazz Radio\n#EXTINF:-1 tvg-name=\"a,b\",Jazz, 128k\nhttp://j/1\n\n# comment\n"
       "#EXTINF:0,\r\n../low.aac\r\nrtsp://j/3\n",
       {{"http://j/1", "Jazz, 128k"}, {"http://radio.example/low.aac", ""}}, "Jazz Radio", 1},
      {"plain m3u takes the first title", PlaylistKind::M3u, "#EXTM3U\n#EXTINF:-1,First\nhttp://a/\n",
       {{"http://a/", "First"}}, "First"},
      {"m3u of relative paths", PlaylistKind::M3u, "stream\n  /abs  \n//other.host/x\n",
       {{"http://radio.example/lists/stream", ""}, {"http://radio.example/abs", ""}, {"http://other.host/x", ""}},
       ""},
      {"xspf", PlaylistKind::Xspf,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
       "<title>Caf&#233; &amp; Radio</title>\n<trackList>\n"
       "<track><location>http://a/1</location><location>ftp://a/2</location><title>Main</title></track>\n"
       "<track><title>Backup</title><location><![CDATA[http://b/x?a=1&b=2]]></location></track>\n"
       "</trackList></playlist>",
       {{"http://a/1", "Main"}, {"http://b/x?a=1&b=2", "Backup"}}, "Caf\xC3\xA9 & Radio", 1},
      {"asx with case-insensitive tags and unquoted attributes", PlaylistKind::Asx,
       "<ASX Version=\"3.0\">\n<TITLE>Big Band</TITLE>\n<Entry>\n<Ref HREF=\"http://a/1?x=1&amp;y=2\" />\n"
       "<ref href=mms://a/2>\n<Title>Live</Title>\n</Entry>\n<entry><ref href='http://a/3'></entry>\n"
       "<EntryRef href=\"http://a/more.asx\"/>\n</ASX>",
       {{"http://a/1?x=1&y=2", "Live"}, {"http://a/3", ""}, {"http://a/more.asx", ""}}, "Big Band", 1},
      {"asx never closed", PlaylistKind::Asx, "<asx><entry><title>T</title><ref href=\"http://a/1\">",
       {{"http://a/1", "T"}}, "T"},
      {"xml entities are not expanded", PlaylistKind::Xspf,
       "<!DOCTYPE playlist [<!ENTITY big \"http://evil/\"> <!ELEMENT x (#PCDATA)>]>\n"
       "<playlist><trackList><track><location>&big;x</location></track>"
       "<track><location>http://ok/&#x41;&bogus;&#0;</location></track></trackList></playlist>",
       {{"http://radio.example/lists/&big;x", ""}, {"http://ok/A&bogus;&#0;", ""}}, ""},
      {"the body's signature wins over the kind", PlaylistKind::Pls, "#EXTM3U\nhttp://a/1\n",
       {{"http://a/1", ""}}, ""},
      {"utf-16 asx", PlaylistKind::None, Utf16Le("<asx><entry><ref href=\"http://u/\"></entry></asx>"),
       {{"http://u/", ""}}, ""},
      {"garbage", PlaylistKind::Pls, std::string("\0\x01\xFF[=]==\n=\nFile=x\nFilex1=y\n", 25), {}, ""},
      {"garbage xml", PlaylistKind::Asx, "<<<>>><entry <ref href=\"<\"/></ <!-- <![CDATA[", {}, ""},
  };
  for (const Case& c : cases) {
    const Playlist playlist = PlaylistParser::Parse(c.kind, base, c.body);
    EXPECT_EQ(EntriesOf(playlist), c.expected) << c.name;
    EXPECT_EQ(playlist.stationName, c.station) << c.name;
    EXPECT_EQ(playlist.skippedEntries, c.skipped) << c.name;
    EXPECT_FALSE(playlist.IsHls()) << c.name;
  }
}

TEST(PlaylistParserTest, HlsIsToldFromPlainM3uByItsTagsAnywhereInTheBody) {
  const std::string hls = "#EXTM3U\n" + std::string(8000, '\n') + "#EXT-X-MEDIA-SEQUENCE:4\n#EXTINF:6,\nseg.ts\n";
  for (const PlaylistKind kind : {PlaylistKind::M3u, PlaylistKind::Hls, PlaylistKind::None}) {
    const Playlist playlist = PlaylistParser::Parse(kind, "http://h/a.m3u8", hls);
    EXPECT_TRUE(playlist.IsHls());
    EXPECT_TRUE(playlist.entries.empty());
  }
  // An Apple type on a plain list is read as the list it is.
  EXPECT_EQ(PlaylistParser::Parse(PlaylistKind::Hls, "http://h/a", "http://a/1\n").kind, PlaylistKind::M3u);
  EXPECT_EQ(PlaylistParser::Parse(PlaylistKind::None, "http://h/a", "just text").kind, PlaylistKind::None);
}

TEST(PlaylistParserTest, ReadsNoMoreThanTheBoundAndNoEntryHalf) {
  std::string body = "[playlist]\n";
  int lines = 0;
  while (body.size() < 2 * PlaylistParser::kMaxBytes) {
    ++lines;
    body += "File" + std::to_string(lines) + "=http://host.example/stream/" + std::to_string(lines) + "\n";
  }
  const Playlist playlist = PlaylistParser::Parse(PlaylistKind::Pls, "http://h/", body);
  EXPECT_TRUE(playlist.truncated);
  const std::string read = body.substr(0, PlaylistParser::kMaxBytes);
  EXPECT_EQ(playlist.entries.size(), std::count(read.begin(), read.end(), '\n') - 1);
  // Every entry is whole: its number and its URL agree.
  for (size_t index = 0; index < playlist.entries.size(); ++index) {
    EXPECT_EQ(playlist.entries[index].url, "http://host.example/stream/" + std::to_string(index + 1));
  }
  EXPECT_FALSE(PlaylistParser::Parse(PlaylistKind::Pls, "http://h/", "[playlist]\nFile1=http://a/\n").truncated);
}

TEST(PlaylistParserTest, NoiseAndMutatedPlaylistsNeverCrash) {
  const std::string samples[] = {
      "[playlist]\nFile1=http://a/1\nTitle1=x\n",
      "#EXTM3U\n#EXTINF:-1,\"a,b\",t\nhttp://a/1\n",
      "<playlist><trackList><track><location>http://a/</location></track></trackList></playlist>",
      "<asx><entry><title>t</title><ref href=\"http://a/\"/></entry></asx>",
      "<!DOCTYPE x [<!ENTITY a \"b\">]><asx><![CDATA[x]]><!-- c --></asx>",
  };
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string body = samples[round % 5];
    for (int flips = static_cast<int>(random() % 6); flips > 0; --flips) {
      body[random() % body.size()] = static_cast<char>(random());
    }
    body.resize(random() % (body.size() + 1));
    for (const PlaylistKind kind : {PlaylistKind::Pls, PlaylistKind::M3u, PlaylistKind::Xspf, PlaylistKind::Asx}) {
      const Playlist playlist = PlaylistParser::Parse(kind, "http://h/p", body);
      for (const PlaylistEntry& entry : playlist.entries) {
        EXPECT_TRUE(PlaylistParser::IsHttpUrl(entry.url)) << entry.url;
      }
    }
    (void)PlaylistParser::Recognise("", "http://h/x", body);
  }
}

}  // namespace

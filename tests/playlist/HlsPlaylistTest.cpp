#include "playlist/HlsPlaylist.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace {

const char* const kMasterUrl = "https://cdn.example/radio/master.m3u8?token=abc";

TEST(HlsPlaylistTest, MasterListsVariantsAndAudioRenditionsWithResolvedUris) {
  const HlsPlaylist playlist = HlsPlaylist::Parse(
      kMasterUrl,
      "#EXTM3U\r\n#EXT-X-VERSION:4\r\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"English, main\",DEFAULT=YES,URI=\"audio/en.m3u8\"\r\n"
      "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"s\",NAME=\"x\",URI=\"subs.m3u8\"\r\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.5\"\r\n"
      "low/index.m3u8\r\n"
      "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=1,URI=\"iframes.m3u8\"\r\n"
      "#EXT-X-STREAM-INF:CODECS=\"avc1.4d401f,mp4a.40.2\",AUDIO=\"aac\",BANDWIDTH=2000000,RESOLUTION=1280x720\r\n"
      "\r\n"
      "/video/hd.m3u8\r\n");
  ASSERT_TRUE(playlist.IsMaster());
  ASSERT_EQ(playlist.variants.size(), 2u);
  EXPECT_EQ(playlist.variants[0].url, "https://cdn.example/radio/low/index.m3u8");
  EXPECT_EQ(playlist.variants[0].bandwidth, 64000);
  EXPECT_EQ(playlist.variants[0].codecs, "mp4a.40.5");
  EXPECT_EQ(playlist.variants[1].url, "https://cdn.example/video/hd.m3u8");
  EXPECT_EQ(playlist.variants[1].bandwidth, 2000000);
  EXPECT_EQ(playlist.variants[1].codecs, "avc1.4d401f,mp4a.40.2");
  EXPECT_EQ(playlist.variants[1].audioGroup, "aac");
  ASSERT_EQ(playlist.audioRenditions.size(), 1u);  // subtitles are no audio
  EXPECT_EQ(playlist.audioRenditions[0].url, "https://cdn.example/radio/audio/en.m3u8");
  EXPECT_EQ(playlist.audioRenditions[0].name, "English, main");
  EXPECT_TRUE(playlist.audioRenditions[0].isDefault);
  EXPECT_TRUE(playlist.segments.empty());
}

TEST(HlsPlaylistTest, ChoosesTheRichestRecordableAudio) {
  struct Case {
    const char* name;
    std::string lines;
    std::string expected;
  };
  const Case cases[] = {
      {"highest audio-only bandwidth beats a richer video variant",
       "#EXT-X-STREAM-INF:BANDWIDTH=48000,CODECS=\"mp4a.40.29\"\na48.m3u8\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=5000000,CODECS=\"avc1.64001f,mp4a.40.2\"\nv.m3u8\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\"\na128.m3u8\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=96000,CODECS=\"mp3\"\nmp3.m3u8\n",
       "http://h/a128.m3u8"},
      {"other audio codecs are not recordable",
       "#EXT-X-STREAM-INF:BANDWIDTH=320000,CODECS=\"ec-3\"\neac3.m3u8\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"MP4A.40.2\"\naac.m3u8\n",
       "http://h/aac.m3u8"},
      {"no audio-only variant: the highest bandwidth",
       "#EXT-X-STREAM-INF:BANDWIDTH=800000\nsd.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=2500000\nhd.m3u8\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1200000\nmd.m3u8\n",
       "http://h/hd.m3u8"},
      {"no bandwidth at all: the first", "#EXT-X-STREAM-INF:PROGRAM-ID=1\none.m3u8\n#EXT-X-STREAM-INF:\ntwo.m3u8\n",
       "http://h/one.m3u8"},
      {"a variant's audio group with its own playlist: the default rendition",
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"de\",URI=\"de.m3u8\"\n"
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",DEFAULT=YES,URI=\"en.m3u8\"\n"
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"b\",NAME=\"x\",DEFAULT=YES,URI=\"other.m3u8\"\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=900000,CODECS=\"avc1.4d401f,mp4a.40.2\",AUDIO=\"a\"\nvideo.m3u8\n",
       "http://h/en.m3u8"},
      {"a group without a default: its first rendition",
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"1\",URI=\"first.m3u8\"\n"
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"2\",URI=\"second.m3u8\"\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nvideo.m3u8\n",
       "http://h/first.m3u8"},
      {"renditions without URI are in the variant itself",
       "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"main\",DEFAULT=YES\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nmuxed.m3u8\n",
       "http://h/muxed.m3u8"},
  };
  for (const Case& c : cases) {
    const HlsPlaylist playlist = HlsPlaylist::Parse("http://h/master.m3u8", "#EXTM3U\n" + c.lines);
    EXPECT_EQ(playlist.AudioUrl(), c.expected) << c.name;
  }
  EXPECT_THROW(HlsPlaylist::Parse("http://h/", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n").AudioUrl(),
               std::runtime_error);
}

TEST(HlsPlaylistTest, MediaPlaylistNumbersSegmentsAndCarriesTheirTags) {
  const HlsPlaylist playlist = HlsPlaylist::Parse(
      "http://h/live/a.m3u8",
      "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:1041\n"
      "#EXT-X-PROGRAM-DATE-TIME:2024-01-01T00:00:00Z\n"
      "#EXT-X-MAP:URI=\"init.mp4\"\n"
      "#EXTINF:5.96,Artist - Song\nseg1041.m4s\n"
      "#EXT-X-DISCONTINUITY\n#EXTINF:6.000,\n../b/seg1042.m4s\n"
      "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0x1\n#EXT-X-GAP\n#EXTINF:6\nseg1043.m4s\n"
      "#EXT-X-KEY:METHOD=NONE\n#EXT-X-MAP:URI=\"init2.mp4\",BYTERANGE=\"700@0\"\n#EXTINF:4,\nseg1044.m4s\n"
      "#ext-x-endlist\n");
  EXPECT_FALSE(playlist.IsMaster());
  EXPECT_DOUBLE_EQ(playlist.targetDuration, 6.0);
  EXPECT_EQ(playlist.mediaSequence, 1041);
  EXPECT_TRUE(playlist.endList);
  ASSERT_EQ(playlist.segments.size(), 4u);

  struct Expected {
    int64_t sequence;
    const char* url;
    double duration;
    const char* title;
    bool discontinuity;
    bool gap;
    bool byteRange;
    const char* mapUrl;
    const char* keyMethod;
  };
  const Expected expected[] = {
      {1041, "http://h/live/seg1041.m4s", 5.96, "Artist - Song", false, false, false, "http://h/live/init.mp4", ""},
      {1042, "http://h/b/seg1042.m4s", 6.0, "", true, false, false, "http://h/live/init.mp4", ""},
      {1043, "http://h/live/seg1043.m4s", 6.0, "", false, true, false, "http://h/live/init.mp4", "AES-128"},
      {1044, "http://h/live/seg1044.m4s", 4.0, "", false, false, true, "http://h/live/init2.mp4", ""},
  };
  for (size_t index = 0; index < 4; ++index) {
    const HlsPlaylist::Segment& segment = playlist.segments[index];
    const Expected& want = expected[index];
    EXPECT_EQ(segment.sequence, want.sequence) << index;
    EXPECT_EQ(segment.url, want.url) << index;
    EXPECT_DOUBLE_EQ(segment.duration, want.duration) << index;
    EXPECT_EQ(segment.title, want.title) << index;
    EXPECT_EQ(segment.discontinuity, want.discontinuity) << index;
    EXPECT_EQ(segment.gap, want.gap) << index;
    EXPECT_EQ(segment.byteRange, want.byteRange) << index;
    EXPECT_EQ(segment.mapUrl, want.mapUrl) << index;
    EXPECT_EQ(segment.keyMethod, want.keyMethod) << index;
  }
}

TEST(HlsPlaylistTest, ToleratesSloppyPlaylistsAndRefusesWhatIsNoPlaylist) {
  // The sequence tag after the segments, a missing target, garbage values.
  const HlsPlaylist sloppy = HlsPlaylist::Parse(
      "http://h/x.m3u8", "#EXTM3U\n#EXTINF:abc,\na.ts\n#EXT-X-MEDIA-SEQUENCE:7\n#EXTINF:-3\nb.ts\n#EXT-X-UNKNOWN\n");
  EXPECT_DOUBLE_EQ(sloppy.targetDuration, 0.0);
  ASSERT_EQ(sloppy.segments.size(), 2u);
  EXPECT_EQ(sloppy.segments[0].sequence, 7);
  EXPECT_EQ(sloppy.segments[1].sequence, 8);
  EXPECT_DOUBLE_EQ(sloppy.segments[0].duration, 0.0);
  EXPECT_DOUBLE_EQ(sloppy.segments[1].duration, 0.0);
  EXPECT_EQ(HlsPlaylist::Parse("http://h/", "#EXT-X-TARGETDURATION:4\nx.ts").segments.size(), 1u);

  for (const char* text : {"", "<html>#EXT", "http://a/1.mp3\n", "#EXTINF:5,\na.ts\n", "#EXT-X-\n"}) {
    EXPECT_THROW(HlsPlaylist::Parse("http://h/", text), std::runtime_error) << text;
  }
}

TEST(HlsPlaylistTest, OnlyAacAndMpegAudioCodecsAreRecordable) {
  const std::pair<const char*, bool> rows[] = {
      {"mp4a.40.2, mp4a.40.34", true}, {"MP4A.6B", true},          {"mp3", true},
      {"", false},                     {"mp4a", false},            {"mp4a.40.2,opus", false},
      {"avc1.4d401f,mp4a.40.2", false}, {"mp4a.40.2,,", true},      {"ec-3", false},
  };
  for (const auto& [codecs, recordable] : rows) {
    EXPECT_EQ(HlsPlaylist::IsRecordableAudioOnly(codecs), recordable) << codecs;
  }
}

}  // namespace

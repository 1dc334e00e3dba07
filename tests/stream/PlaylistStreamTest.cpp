// A stream given the link a station's page gives: a playlist, by type, by
// body or by suffix, with relative entries, nested, or with a dead first
// entry, records the stream it names byte for byte.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

class SourceLog : public StreamObserver {
 public:
  void OnText(StreamEvent kind, std::string text) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (kind == StreamEvent::Source) {
      sources.push_back(text);
    } else if (kind == StreamEvent::Station) {
      stations.push_back(text);
    }
  }
  std::vector<std::string> Sources() {
    std::lock_guard<std::mutex> lock(mutex);
    return sources;
  }
  std::vector<std::string> Stations() {
    std::lock_guard<std::mutex> lock(mutex);
    return stations;
  }

 private:
  std::mutex mutex;
  std::vector<std::string> sources;
  std::vector<std::string> stations;
};

IcyResponse Text(const std::string& contentType, const std::string& body) {
  return {"HTTP/1.0 200 OK\r\nContent-Type: " + contentType + "\r\n\r\n", body};
}

TEST(PlaylistStreamTest, EveryPlaylistFormLeadsToTheStreamItNames) {
  const std::string audio = TestBytes(20000, 21);
  struct Case {
    const char* name;
    const char* path;  // what the user pasted
    std::vector<std::pair<std::string, IcyResponse>> routes;
    const char* station;  // what untitled audio would be filed under
  };
  RefusingPort dead;
  const Case cases[] = {
      {"pls by type", "/listen.pls",
       {{"/listen.pls", Text("audio/x-scpls", "[playlist]\nNumberOfEntries=1\nFile1=/radio\nTitle1=Loopback FM\n")}},
       "Loopback FM"},
      {"m3u by body", "/tune-in",
       {{"/tune-in", Text("text/plain", "#EXTM3U\n#EXTINF:-1,Body FM\nradio\n")}}, "Body FM"},
      {"m3u by suffix", "/x/stream.m3u", {{"/x/stream.m3u", Text("application/octet-stream", "../radio\n")}},
       "127.0.0.1"},
      {"nested xspf and asx", "/outer.xspf",
       {{"/outer.xspf", Text("application/xspf+xml",
                             "<?xml version='1.0'?><playlist><trackList><track><location>/inner.asx</location>"
                             "</track></trackList></playlist>")},
        {"/inner.asx", Text("video/x-ms-asf", "<ASX version='3'><Entry><Ref HREF='/radio'/></Entry></ASX>")}},
       "127.0.0.1"},
      {"dead first entry", "/two.pls",
       {{"/two.pls", Text("audio/x-scpls", "[playlist]\nFile1=" + dead.Url("/gone") + "\nFile2=/radio\n")}},
       "127.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IcyTestServer server;
    for (const auto& [path, response] : c.routes) {
      server.Route(path, response);
    }
    server.Route("/radio", {"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", InterleaveMetadata(audio, 1000, {{0, "Song"}}),
                            IcyResponse::kEverything, true});
    TempDir dir;
    RecordingWriter writer;
    writer.SetDirectory(dir.Path().string());
    SourceLog log;
    ServerStream stream;
    stream.SetUrl(server.Url(c.path));
    stream.AddObserver(&writer);
    stream.AddObserver(&log);
    stream.Toggle();
    EXPECT_TRUE(Eventually([&] { return writer.BytesWritten() >= 20000; }, std::chrono::seconds(20)));
    stream.Stop();
    stream.ClearObservers();
    EXPECT_TRUE(ReadFileBytes(dir.Path() / "Song.mp3") == audio);
    ASSERT_FALSE(log.Sources().empty());
    EXPECT_EQ(log.Sources().back(), server.Url("/radio"));
    ASSERT_FALSE(log.Stations().empty());
    EXPECT_EQ(log.Stations().back(), c.station);
  }
}

TEST(PlaylistStreamTest, UselessPlaylistsSayWhy) {
  struct Case {
    const char* name;
    IcyResponse playlist;
    const char* reason;
  };
  const Case cases[] = {
      {"no http entry", Text("audio/x-scpls", "[playlist]\nFile1=mms://old/stream\n"),
       "the playlist names no http or https stream"},
      {"empty", Text("audio/x-mpegurl", "#EXTM3U\n"), "the playlist names no stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IcyTestServer server;
    server.Route("/list", c.playlist);
    ServerStream stream;
    stream.SetUrl(server.Url("/list"));
    stream.Toggle();
    EXPECT_TRUE(Eventually([&] { return !stream.LastReason().empty(); }));
    stream.Stop();
    EXPECT_EQ(stream.LastReason(), c.reason);
  }
}

}  // namespace

#include "support/HlsFixture.h"
#include "support/OggFixture.h"

namespace {

// An HLS station recorded through the stream and its writer: files named by
// the segments' ID3 titles, each holding exactly its segments' ADTS frames,
// and a segment that cannot be fetched starting a new file instead of hiding
// a gap.
TEST(PlaylistStreamTest, HlsIsRecordedByTitleAndALostSegmentStartsANewFile) {
  if (!FfmpegAvailable()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  TempDir work;
  const std::vector<std::string> frames = SplitAdtsFrames(EncodeAdts(9.0, work.Path()));
  ASSERT_GE(frames.size(), 360u);
  const size_t perSegment = 60;
  const std::vector<std::string> tags = {Id3Tag("A", "", work.Path()), "", "", Id3Tag("B", "", work.Path()), "", ""};
  const std::vector<std::string> segments =
      PackedAdtsSegments(std::vector<std::string>(frames.begin(), frames.begin() + 6 * perSegment), perSegment, tags);
  const auto audioOf = [&](size_t first, size_t count) {
    std::string audio;
    for (size_t i = first * perSegment; i < (first + count) * perSegment; ++i) {
      audio += frames[i];
    }
    return audio;
  };

  IcyTestServer server;
  LiveHlsStation station(server, "/hls", segments, 6, 1);
  station.End();
  server.Route(station.SegmentPath(4), {"HTTP/1.1 404 Not Found\r\n\r\n", ""});  // lost

  TempDir dir;
  RecordingWriter writer;
  writer.SetDirectory(dir.Path().string());
  writer.SetSmartSplitting(false);  // exact cuts
  ServerStream stream;
  stream.SetUrl(station.PlaylistUrl());
  stream.AddObserver(&writer);
  stream.Toggle();
  const size_t expected = audioOf(0, 4).size() + audioOf(5, 1).size();
  EXPECT_TRUE(Eventually([&] { return writer.BytesWritten() >= static_cast<int64_t>(expected); },
                         std::chrono::seconds(30)));
  stream.Stop();
  stream.ClearObservers();

  EXPECT_TRUE(ReadFileBytes(dir.Path() / "A.aac") == audioOf(0, 3));
  EXPECT_TRUE(ReadFileBytes(dir.Path() / "B.aac") == audioOf(3, 1));
  EXPECT_TRUE(ReadFileBytes(dir.Path() / "B(1).aac") == audioOf(5, 1));
  EXPECT_TRUE(FfprobeReadsWithoutError(dir.Path() / "A.aac"));
  const auto notes = writer.TakeNotes();
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes.back().find("gap of 1 segment"), std::string::npos) << notes.back();
}

}  // namespace

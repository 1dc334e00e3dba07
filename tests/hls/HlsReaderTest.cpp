#include "hls/HlsReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hls/HlsSession.h"
#include "net/HttpConnection.h"
#include "support/Eventually.h"
#include "support/HlsFixture.h"
#include "support/IcyTestServer.h"
#include "support/OggFixture.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// What the reader handed on: the audio, and every other call as a line
// that says where in the audio it came.
class RecordingSink : public HlsReader::Sink {
 public:
  void OnHlsFormat(AudioFormat format) override {
    events.push_back("format " + std::string(AudioFormatProbe::Extension(format)));
  }
  void OnHlsAudio(const uint8_t* data, int32_t size) override {
    audio.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  }
  void OnHlsTitle(const std::string& title) override {
    events.push_back("title@" + std::to_string(audio.size()) + " " + title);
  }
  void OnHlsGap(int64_t missing) override {
    events.push_back("gap@" + std::to_string(audio.size()) + " " + std::to_string(missing));
  }

  std::string audio;
  Events events;
};

// Answers from a table of bodies; a URL it lacks fails as a 404 does.
class FakeFetcher : public HlsReader::Fetcher {
 public:
  HlsReader::Fetched Fetch(const std::string& url, size_t maxBytes) override {
    fetched.push_back(url);
    const auto found = bodies.find(url);
    if (found == bodies.end()) {
      throw ConnectionError("HTTP 404 Not Found");
    }
    if (found->second.size() > maxBytes) {
      throw ConnectionError("too large");
    }
    return {found->second, "", finalUrls.count(url) != 0 ? finalUrls[url] : ""};
  }

  std::map<std::string, std::string> bodies;
  std::map<std::string, std::string> finalUrls;
  std::vector<std::string> fetched;
};

// A live sliding-window playlist in a FakeFetcher's table: segment i at
// http://h/live/s<i>.aac, the playlist at kPlaylist.
const char* const kPlaylist = "http://h/live/index.m3u8";

class FakeStation {
 public:
  FakeStation(FakeFetcher& fetcher, std::vector<std::string> segments, size_t window, int targetDuration = 2,
              std::vector<std::string> titles = {})
      : fetcher(fetcher), segments(std::move(segments)), titles(std::move(titles)), window(window),
        target(targetDuration) {
    Publish(window);
  }
  // Publishes up to `published` segments; the first skipped of them, if
  // any, is left out of the table (a segment the server lost).
  void Publish(size_t count, bool end = false) {
    published = std::min(count, segments.size());
    std::vector<PlaylistSegment> listed;
    for (size_t index = published > window ? published - window : 0; index < published; ++index) {
      const std::string uri = "s" + std::to_string(index) + ".aac";
      if (index != lost) {
        fetcher.bodies["http://h/live/" + uri] = segments[index];
      }
      listed.push_back({uri, static_cast<double>(target), index < titles.size() ? titles[index] : ""});
    }
    fetcher.bodies[kPlaylist] =
        MediaPlaylistText(static_cast<int64_t>(published > window ? published - window : 0), listed, target, end);
  }
  // One more segment, ending the stream after the last.
  void Advance(size_t count = 1) { Publish(published + count, published + count >= segments.size()); }
  std::string Body() const { return fetcher.bodies.at(kPlaylist); }

  FakeFetcher& fetcher;
  std::vector<std::string> segments;
  std::vector<std::string> titles;
  size_t window;
  int target;
  size_t published = 0;
  size_t lost = SIZE_MAX;
};

std::string Join(const std::vector<std::string>& parts, size_t from = 0, size_t to = SIZE_MAX) {
  std::string joined;
  for (size_t index = from; index < std::min(to, parts.size()); ++index) {
    joined += parts[index];
  }
  return joined;
}

// Ten segments of three synthetic ADTS frames each.
std::vector<std::string> Segments(size_t count = 10, uint32_t seed = 1) {
  return PackedAdtsSegments(SyntheticAdtsFrames(3 * count, seed), 3);
}

TEST(HlsReaderTest, LiveWindowGivesEverySegmentOnceInOrderFromTheLiveStart) {
  FakeFetcher fetcher;
  RecordingSink sink;
  const std::vector<std::string> segments = Segments();
  FakeStation station(fetcher, segments, 4);
  std::vector<int64_t> waits;
  bool stale = false;
  HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds wait) {
    if (wait == 0ms) {
      return true;  // asked whether a failure was a stop
    }
    waits.push_back(wait.count());
    // Every other reload finds nothing new once: the wait halves.
    stale = !stale && station.published == 6;
    if (!stale) {
      station.Advance();
    }
    return true;
  });
  EXPECT_TRUE(reader.Run(kPlaylist, station.Body()));
  // Three target durations before the end: segments 1..3 of the first window.
  EXPECT_TRUE(sink.audio == Join(segments, 1));
  EXPECT_EQ(sink.events, Events{"format aac"});
  EXPECT_EQ(reader.NextSequence(), 10);
  for (size_t index = 0; index < segments.size(); ++index) {
    const auto fetches = std::count(fetcher.fetched.begin(), fetcher.fetched.end(),
                                    "http://h/live/s" + std::to_string(index) + ".aac");
    EXPECT_EQ(fetches, index == 0 ? 0 : 1) << index;
  }
  EXPECT_EQ(waits, (std::vector<int64_t>{2000, 2000, 2000, 1000, 2000, 2000, 2000}));
}

TEST(HlsReaderTest, LostAudioIsReportedWhereItWasLost) {
  const std::vector<std::string> segments = Segments();
  const auto size = static_cast<int64_t>(segments[0].size());
  struct Case {
    const char* name;
    std::function<void(FakeStation&)> onFirstWait;
    Events events;
    std::string audio;
  };
  const Case cases[] = {
      {"segments that left the window before their fetch",
       [](FakeStation& station) { station.Advance(5); },  // window 4: 5..8 listed, 4 never fetched
       {"format aac", "gap@" + std::to_string(3 * size) + " 1"}, Join(segments, 1, 4) + Join(segments, 5)},
      {"a segment the server no longer has",
       [](FakeStation& station) {
         station.lost = 5;
         station.Advance(3);
       },
       {"format aac", "gap@" + std::to_string(4 * size) + " 1"}, Join(segments, 1, 5) + Join(segments, 6)},
      {"a segment marked as a gap",
       [](FakeStation& station) {
         station.Advance();
         std::string& text = station.fetcher.bodies[kPlaylist];
         text.insert(text.find("#EXTINF:2.000000,\ns4"), "#EXT-X-GAP\n");
       },
       {"format aac", "gap@" + std::to_string(3 * size) + " 1"}, Join(segments, 1, 4) + Join(segments, 5)},
  };
  for (const Case& c : cases) {
    FakeFetcher fetcher;
    RecordingSink sink;
    FakeStation station(fetcher, segments, 4);
    bool first = true;
    HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds wait) {
      if (wait == 0ms) {
        return true;
      }
      if (first) {
        c.onFirstWait(station);
      } else {
        station.Advance();
      }
      first = false;
      return true;
    });
    EXPECT_TRUE(reader.Run(kPlaylist, station.Body())) << c.name;
    EXPECT_EQ(sink.events, c.events) << c.name;
    EXPECT_TRUE(sink.audio == c.audio) << c.name;
  }
}

TEST(HlsReaderTest, NumberingThatRestartsIsAGapAndAStaleCopyIsWaitedOut) {
  FakeFetcher fetcher;
  RecordingSink sink;
  const std::vector<std::string> segments = Segments(12);
  std::vector<PlaylistSegment> listed;
  for (size_t index = 0; index < 12; ++index) {
    fetcher.bodies["http://h/live/s" + std::to_string(index) + ".aac"] = segments[index];
    listed.push_back({"s" + std::to_string(index) + ".aac", 2.0});
  }
  auto window = [&](int64_t sequence, size_t first, size_t count, bool end) {
    return MediaPlaylistText(sequence, {listed.begin() + first, listed.begin() + first + count}, 2, end);
  };
  // 100..102, then a stale copy 99..101, then a restart at 0 (segments 6..8 then 9..11 with the end).
  const std::vector<std::string> reloads = {window(99, 0, 3, false), window(0, 6, 3, false),
                                            window(3, 9, 3, true)};
  size_t reload = 0;
  HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds) {
    fetcher.bodies[kPlaylist] = reloads.at(reload++);
    return true;
  });
  EXPECT_TRUE(reader.Run(kPlaylist, window(100, 0, 3, false)));
  EXPECT_EQ(sink.events, (Events{"format aac", "gap@" + std::to_string(3 * segments[0].size()) + " 1"}));
  EXPECT_TRUE(sink.audio == Join(segments, 0, 3) + Join(segments, 6));
}

TEST(HlsReaderTest, NumbersAtTheTopOfTheRangeGiveEachSegmentOnceAndNoGap) {
  // A server numbering near INT64_MAX, reloaded unchanged and then one
  // segment on: each segment is fetched and written once, with no gap.
  FakeFetcher fetcher;
  RecordingSink sink;
  const std::vector<std::string> segments = Segments(2);
  fetcher.bodies["http://h/live/s0.aac"] = segments[0];
  fetcher.bodies["http://h/live/s1.aac"] = segments[1];
  const std::string one = MediaPlaylistText(INT64_MAX, {{"s0.aac", 2.0}}, 2, false);
  const std::string two = MediaPlaylistText(INT64_MAX, {{"s0.aac", 2.0}, {"s1.aac", 2.0}}, 2, true);
  const std::vector<std::string> reloads = {one, one, one, two};
  size_t reload = 0;
  HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds) {
    fetcher.bodies[kPlaylist] = reloads.at(reload++);
    return true;
  });
  EXPECT_TRUE(reader.Run(kPlaylist, one));
  EXPECT_EQ(sink.events, (Events{"format aac"}));
  EXPECT_TRUE(sink.audio == Join(segments));
  EXPECT_EQ(std::count(fetcher.fetched.begin(), fetcher.fetched.end(), "http://h/live/s0.aac"), 1);
}

TEST(HlsReaderTest, TitlesComeFromId3OrElseFromExtinf) {
  if (!FfmpegAvailable()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  TempDir dir;
  const std::vector<std::string> frames = SyntheticAdtsFrames(12, 3);
  const std::string one = Id3Tag("One", "A", dir.Path());
  const std::string two = Id3Tag("Two", "B", dir.Path());
  const std::string priv = Id3Tag("", "", dir.Path());
  const auto at = [&](size_t segment) { return std::to_string(segment * 3 * frames[0].size()) + " "; };
  struct Case {
    const char* name;
    std::vector<std::string> tags;
    std::vector<std::string> extinf;
    Events events;
  };
  const Case cases[] = {
      {"no title anywhere", {}, {"", "", "", ""}, {"format aac"}},
      {"extinf titles, announced when they change", {}, {"x", "x", "artist=\"B\",title=\"Y\"", "artist=\"B\",title=\"Y\""},
       {"format aac", "title@0 x", "title@" + at(2) + "B - Y"}},
      {"id3 titles, the same one not twice", {one, one, two, priv}, {}, {"format aac", "title@0 A - One", "title@" + at(2) + "B - Two"}},
      {"id3 wins over extinf once it has come", {priv, one, priv, priv}, {"Station", "Station", "Other", "Other"},
       {"format aac", "title@0 Station", "title@" + at(1) + "A - One"}},
  };
  for (const Case& c : cases) {
    FakeFetcher fetcher;
    RecordingSink sink;
    FakeStation station(fetcher, PackedAdtsSegments(frames, 3, c.tags), 4, 2, c.extinf);
    station.Publish(4, true);
    HlsReader reader(fetcher, sink, [](std::chrono::milliseconds) { return true; });
    EXPECT_TRUE(reader.Run(kPlaylist, station.Body())) << c.name;
    EXPECT_EQ(sink.events, c.events) << c.name;
    EXPECT_TRUE(sink.audio == Join(frames)) << c.name;
  }
}

TEST(HlsReaderTest, MasterPlaylistLeadsToItsAudioAndRedirectsMoveTheBase) {
  FakeFetcher fetcher;
  RecordingSink sink;
  const std::vector<std::string> segments = Segments(2);
  fetcher.bodies["http://h/radio/aac/index.m3u8"] = MediaPlaylistText(5, {{"a.aac"}, {"b.aac"}}, 2, true);
  fetcher.finalUrls["http://h/radio/aac/index.m3u8"] = "http://cdn/x/index.m3u8";
  fetcher.bodies["http://cdn/x/a.aac"] = segments[0];
  fetcher.bodies["http://cdn/x/b.aac"] = segments[1];
  HlsReader reader(fetcher, sink, [](std::chrono::milliseconds) { return true; });
  EXPECT_TRUE(reader.Run("http://h/radio/master.m3u8",
                         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=2000000,CODECS=\"avc1.4d401f,mp4a.40.2\"\nvideo.m3u8\n"
                         "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\"\naac/index.m3u8\n"));
  EXPECT_TRUE(sink.audio == Join(segments));
  EXPECT_EQ(fetcher.fetched, (std::vector<std::string>{"http://h/radio/aac/index.m3u8", "http://cdn/x/a.aac",
                                                       "http://cdn/x/b.aac"}));
}

TEST(HlsReaderTest, RefusesWhatCannotBeRecordedWithAReason) {
  const std::string segment = Segments(1)[0];
  struct Case {
    const char* name;
    std::string playlist;
    const char* reason;
  };
  const Case cases[] = {
      {"encrypted", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n#EXTINF:2,\nhttp://h/s.aac\n",
       "encrypted (AES-128)"},
      {"byte ranges", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-BYTERANGE:100@0\n#EXTINF:2,\nhttp://h/s.aac\n",
       "byte ranges"},
      {"three missing segments in a row", MediaPlaylistText(0, {{"x"}, {"y"}, {"z"}, {"w"}}, 2, true), "404"},
      {"not HLS", "<html>", "not an HLS playlist"},
      {"a playlist that stopped growing", MediaPlaylistText(0, {{"http://h/s.aac"}}, 2, false), "stopped growing"},
      {"a segment that is no audio", MediaPlaylistText(0, {{"/n"}, {"/n"}, {"/n"}}, 2, true), "neither"},
  };
  for (const Case& c : cases) {
    FakeFetcher fetcher;
    fetcher.bodies["http://h/s.aac"] = segment;
    fetcher.bodies["http://h/n"] = "noise";
    fetcher.bodies[kPlaylist] = c.playlist;
    RecordingSink sink;
    HlsReader reader(fetcher, sink, [](std::chrono::milliseconds) { return true; });
    try {
      reader.Run(kPlaylist, c.playlist);
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << c.name << ": " << error.what();
    }
  }
}

TEST(HlsReaderTest, AStopEndsRunAndALaterRunGoesOnWhereItStopped) {
  FakeFetcher fetcher;
  RecordingSink sink;
  const std::vector<std::string> segments = Segments();
  FakeStation station(fetcher, segments, 4);
  bool stopped = false;
  HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds) { return !stopped; });
  // A stop during a fetch: the transfer fails, and the wait says why.
  fetcher.bodies.erase("http://h/live/s2.aac");
  stopped = true;
  EXPECT_FALSE(reader.Run(kPlaylist, station.Body()));
  EXPECT_EQ(sink.events, Events{"format aac"});  // a stop is no gap
  EXPECT_EQ(reader.NextSequence(), 2);

  // The connection is back later: 2, 3 and 4 have left the window meanwhile.
  stopped = false;
  station.Publish(9, true);
  EXPECT_TRUE(reader.Run(kPlaylist, station.Body()));
  EXPECT_EQ(sink.events, (Events{"format aac", "gap@" + std::to_string(segments[0].size()) + " 3", "format aac"}));
  EXPECT_TRUE(sink.audio == segments[1] + Join(segments, 5, 9));
}

// An interruptible wait, as the stream's worker has.
class StopSignal {
 public:
  bool Wait(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex);
    waiting += duration > 0ms ? 1 : 0;
    const bool stop = wake.wait_for(lock, duration, [this] { return stopped; });
    waiting -= duration > 0ms ? 1 : 0;
    return !stop;
  }
  // A wait that takes time is under way.
  bool Waiting() {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting > 0;
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopped = true;
    }
    wake.notify_all();
  }

 private:
  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
  int waiting = 0;
};

class HlsReaderLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FfmpegAvailable()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  TempDir dir;
  IcyTestServer server;
  LoopbackFetcher fetcher;
  RecordingSink sink;
};

TEST_F(HlsReaderLoopbackTest, LiveStationWithRotatingTitles) {
  const std::vector<std::string> frames = SyntheticAdtsFrames(36, 9);
  std::vector<std::string> tags;
  for (size_t segment = 0; segment < 12; ++segment) {
    tags.push_back(Id3Tag("Song " + std::to_string(segment / 3), "Band", dir.Path()));
  }
  LiveHlsStation station(server, "/radio", PackedAdtsSegments(frames, 3, tags), 3, 2);
  bool skipped = false;
  HlsReader reader(fetcher, sink, [&](std::chrono::milliseconds wait) {
    if (wait == 0ms) {
      return true;
    }
    // Once, the reader is too slow by a segment.
    station.Advance(station.Published() == 6 && !skipped ? 4 : 1);
    skipped = skipped || station.Published() == 10;
    if (station.Published() == 12) {
      station.End();
    }
    return true;
  });
  EXPECT_TRUE(reader.Run(station.PlaylistUrl(), station.PlaylistText()));
  const size_t segmentSize = 3 * frames[0].size();
  const auto at = [&](size_t segments) { return std::to_string(segments * segmentSize) + " "; };
  // Segments 0..5, then 7..11 (6 left the window): a title per three.
  EXPECT_EQ(sink.events, (Events{"format aac", "title@0 Band - Song 0", "title@" + at(3) + "Band - Song 1",
                                 "gap@" + at(6) + "1", "title@" + at(6) + "Band - Song 2",
                                 "title@" + at(8) + "Band - Song 3"}));
  EXPECT_TRUE(sink.audio == Join(frames, 0, 18) + Join(frames, 21));
  for (size_t index = 0; index < 12; ++index) {
    EXPECT_EQ(server.RequestCount(station.SegmentPath(index)), index == 6 ? 0u : 1u) << index;
  }
}

TEST_F(HlsReaderLoopbackTest, StopIsImmediateInAFetchAndInAWait) {
  for (const bool inFetch : {true, false}) {
    IcyTestServer local;
    LoopbackFetcher loopback;
    StopSignal signal;
    // A long target duration: a wait that a stop must cut short.
    LiveHlsStation station(local, "/radio", Segments(4), 3, 30);
    if (inFetch) {
      IcyResponse stalled{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x"};
      stalled.stall = true;
      local.Route(station.SegmentPath(2), stalled);
    }
    RecordingSink quiet;
    HlsReader reader(loopback, quiet, [&](std::chrono::milliseconds duration) { return signal.Wait(duration); });
    std::atomic<bool> result{true};
    std::thread worker([&] { result = reader.Run(station.PlaylistUrl(), station.PlaylistText()); });
    // Stopped once the reader is inside the stalled fetch (its request has
    // arrived), or waiting for the next reload.
    EXPECT_TRUE(Eventually([&] { return inFetch ? local.RequestCount(station.SegmentPath(2)) == 1 : signal.Waiting(); }));
    EXPECT_TRUE(ReturnsWithin([&] {
      signal.Stop();
      loopback.Abort();
      worker.join();
    })) << (inFetch ? "fetch" : "wait");
    EXPECT_FALSE(result.load());
    EXPECT_EQ(quiet.events, Events{"format aac"});
  }
}

// The stream's side of an HlsSession: each transfer's connection is
// published, and a stop aborts the one published (and, when it comes
// first, the next one at once).
class PublishedConnections {
 public:
  HlsSession::Connect Connect() {
    return [this] {
      auto connection = std::make_shared<HttpConnection>();
      std::lock_guard<std::mutex> lock(mutex);
      current = connection;
      if (stopped) {
        connection->Abort();
      }
      return connection;
    };
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
    if (current) {
      current->Abort();
    }
  }
  void Resume() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = false;
  }
  bool Stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopped;
  }

 private:
  std::mutex mutex;
  std::shared_ptr<HttpConnection> current;
  bool stopped = false;
};

TEST_F(HlsReaderLoopbackTest, SessionCarriesReloadsAndSegmentsOverOneKeptConnection) {
  const std::vector<std::string> segments = Segments(8);
  for (const bool keepAlive : {true, false}) {
    IcyTestServer local;
    LiveHlsStation station(local, "/radio", segments, 3, 1);
    station.SetKeepAlive(keepAlive);
    PublishedConnections connections;
    RecordingSink received;
    HlsSession session(connections.Connect(), received, [&](std::chrono::milliseconds wait) {
      if (wait > 0ms) {
        station.Advance();
        if (station.Published() == segments.size()) {
          station.End();
        }
      }
      return true;
    });
    EXPECT_TRUE(session.Run(station.PlaylistUrl(), station.PlaylistText(), true));
    EXPECT_TRUE(received.audio == Join(segments)) << keepAlive;
    // Eight segments and a reload per new one, at least.
    const size_t requests = local.Requests().size();
    EXPECT_GE(requests, 2 * segments.size() - 3) << keepAlive;
    // A server that closes after each answer gets a new connection each
    // time, and no fetch fails on a connection it closed.
    EXPECT_EQ(local.ConnectionCount(), keepAlive ? 1u : requests) << keepAlive;
  }
}

TEST_F(HlsReaderLoopbackTest, SessionStopAbortsTheKeptConnectionAndALaterRunConnectsAnew) {
  IcyTestServer local;
  const std::vector<std::string> segments = Segments(4);
  LiveHlsStation station(local, "/radio", segments, 4, 30);
  IcyResponse stalled{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x"};
  stalled.stall = true;
  local.Route(station.SegmentPath(2), stalled);
  PublishedConnections connections;
  RecordingSink received;
  HlsSession session(connections.Connect(), received,
                     [&](std::chrono::milliseconds) { return !connections.Stopped(); });
  std::atomic<bool> result{true};
  std::thread worker([&] { result = session.Run(station.PlaylistUrl(), station.PlaylistText(), true); });
  EXPECT_TRUE(Eventually([&] { return local.RequestCount(station.SegmentPath(2)) == 1; }));
  EXPECT_TRUE(ReturnsWithin([&] {
    connections.Stop();
    worker.join();
  }));
  EXPECT_FALSE(result.load());
  // A live start three target durations behind the end: segment 1.
  EXPECT_TRUE(received.audio == Join(segments, 1, 2));

  // The aborted transfer took its connection along; the next Run goes on
  // with segment 2 over a new one.
  connections.Resume();
  station.End();
  EXPECT_TRUE(session.Run(station.PlaylistUrl(), station.PlaylistText(), false));
  EXPECT_TRUE(received.audio == Join(segments, 1));
  EXPECT_EQ(local.ConnectionCount(), 2u);
}

}  // namespace

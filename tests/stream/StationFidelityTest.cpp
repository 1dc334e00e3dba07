// A stream and its writer against stations as they really are: no metadata,
// empty titles, reconnect bursts, AAC and chained Ogg. Every audio byte the
// server sends ends up in exactly one file, named and typed right.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/OggFixture.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class StateLog : public StreamObserver {
 public:
  void OnText(StreamEvent kind, std::string text) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (kind == StreamEvent::State) {
      states.push_back(text);
    } else if (kind == StreamEvent::Reason) {
      reasons.push_back(text);
    }
  }
  size_t Count(const std::string& state) const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const auto& s : states) {
      n += s == state ? 1 : 0;
    }
    return n;
  }
  std::vector<std::string> Reasons() const {
    std::lock_guard<std::mutex> lock(mutex);
    return reasons;
  }

 private:
  mutable std::mutex mutex;
  std::vector<std::string> states;
  std::vector<std::string> reasons;
};

class StationFidelityTest : public testing::Test {
 protected:
  void Start(bool fileSplitting = true) {
    writer.SetDirectory(dir.Path().string());
    writer.SetFileSplitting(fileSplitting);
    writer.SetSmartSplitting(false);  // exact cuts
    stream.SetUrl(server.Url("/stream"));
    stream.AddObserver(&writer);
    stream.AddObserver(&log);
    stream.Toggle();
  }
  // Waits until the files hold `bytes` audio bytes in all, then stops (which
  // writes the rest of a partial interval).
  void StopAfter(size_t bytes) {
    EXPECT_TRUE(Eventually([&] { return static_cast<size_t>(writer.BytesWritten()) >= bytes; }))
        << writer.BytesWritten() << " of " << bytes;
    stream.Stop();
  }
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
      files[entry.path().filename().string()] = ReadFileBytes(entry.path());
    }
    return files;
  }

  IcyTestServer server;
  TempDir dir;
  RecordingWriter writer;
  StateLog log;
  ServerStream stream;  // last: stopped before the observers go
};

TEST_F(StationFidelityTest, StreamWithoutMetadataIsRecordedUnderTheStationWithAndWithoutSplitting) {
  const std::string audio = TestBytes(20000, 3);
  struct Case {
    const char* head;
    bool fileSplitting;
    const char* file;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name: Loopback FM \r\n\r\n", true, "Loopback FM.mp3"},
      {"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n", false, "127.0.0.1.mp3"},
      {"ICY 200 OK\r\ncontent-type: audio/aacp\r\nicy-name:Loopback FM\r\n\r\n", true, "Loopback FM.aac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir caseDir;
    IcyTestServer caseServer;
    caseServer.Push({c.head, audio, IcyResponse::kEverything, true});
    RecordingWriter caseWriter;
    caseWriter.SetDirectory(caseDir.Path().string());
    caseWriter.SetFileSplitting(c.fileSplitting);
    ServerStream caseStream;
    caseStream.SetUrl(caseServer.Url("/stream"));
    caseStream.AddObserver(&caseWriter);
    caseStream.Toggle();
    EXPECT_TRUE(Eventually([&] { return caseWriter.BytesWritten() >= static_cast<int64_t>(audio.size()); }));
    caseStream.Stop();
    caseStream.ClearObservers();
    EXPECT_TRUE(ReadFileBytes(caseDir.Path() / c.file) == audio);
  }
}

TEST_F(StationFidelityTest, FirstIntervalEmptyTitlesAndThePartialLastIntervalAreKept) {
  const std::string audio = TestBytes(12345, 4);
  server.Push({"ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-metaint:1000\r\n\r\n",
               InterleaveMetadata(audio, 1000, {{0, "First"}, {5000, ""}, {8000, "Second"}}),
               IcyResponse::kEverything, true});
  Start();
  StopAfter(12000);
  const auto files = Files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_TRUE(files.at("First.mp3") == audio.substr(0, 5000));
  EXPECT_TRUE(files.at("Loopback FM.mp3") == audio.substr(5000, 3000));
  // The last 345 bytes never got their metadata block: the stop writes them.
  EXPECT_TRUE(files.at("Second.mp3") == audio.substr(8000));
  EXPECT_EQ(log.Count("Error on connecting"), 0u) << "a stop is no error";
}

TEST_F(StationFidelityTest, SemicolonsAndQuotesInTitlesReachTheFileNames) {
  const std::string audio = TestBytes(4000, 5);
  server.Push({"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n",
               InterleaveMetadata(audio, 1000, {{0, "Band; Song One"}, {2000, "Band; Song Two"}}),
               IcyResponse::kEverything, true});
  Start();
  StopAfter(audio.size());
  const auto files = Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files.at("Band; Song One.mp3") == audio.substr(0, 2000));
  EXPECT_TRUE(files.at("Band; Song Two.mp3") == audio.substr(2000));
}

// The server drops the listener after `first` bytes; the next connection
// starts `back` bytes before that point (Icecast's burst) or past it (a
// gap) and goes on under the same title.
TEST_F(StationFidelityTest, ReconnectNeitherRepeatsNorHidesAGap) {
  const std::string audio = TestBytes(90000, 6);
  const std::string head = "ICY 200 OK\r\nicy-metaint:8000\r\n\r\n";
  struct Case {
    const char* name;
    size_t restart;  // where the second connection's audio begins
    std::map<std::string, std::string> files;
  };
  const size_t first = 40000;
  const Case cases[] = {
      {"burst of 29200 bytes", first - 29200, {{"Song.mp3", audio.substr(0, 70000)}}},
      {"gap of 5000 bytes", first + 5000,
       {{"Song.mp3", audio.substr(0, first)}, {"Song(1).mp3", audio.substr(first + 5000, 25000)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir caseDir;
    IcyTestServer caseServer;
    caseServer.Push({head, InterleaveMetadata(audio.substr(0, first), 8000, {{0, "Song"}})});
    caseServer.Push({head, InterleaveMetadata(audio.substr(c.restart, 70000 - c.restart), 8000, {{0, "Song"}}),
                     IcyResponse::kEverything, true});
    RecordingWriter caseWriter;
    caseWriter.SetDirectory(caseDir.Path().string());
    ServerStream caseStream;
    caseStream.SetUrl(caseServer.Url("/stream"));
    caseStream.AddObserver(&caseWriter);
    caseStream.Toggle();
    size_t expected = 0;
    for (const auto& [name, bytes] : c.files) {
      expected += bytes.size();
    }
    // All but the partial last interval, which the stop writes.
    EXPECT_TRUE(Eventually([&] { return caseWriter.BytesWritten() + 8000 > static_cast<int64_t>(expected); }));
    caseStream.Stop();
    caseStream.ClearObservers();
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(caseDir.Path())) {
      files[entry.path().filename().string()] = ReadFileBytes(entry.path());
    }
    EXPECT_TRUE(files == c.files);
    const auto notes = caseWriter.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find(c.restart < first ? "29200 bytes" : "after a gap"), std::string::npos) << notes[0];
  }
}

TEST_F(StationFidelityTest, ChainedOggIsSplitAtEachSongIntoFilesThatPlay) {
  if (!FfmpegAvailable()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  for (const OggCodec codec : {OggCodec::Vorbis, OggCodec::Opus}) {
    const std::string extension = codec == OggCodec::Opus ? ".opus" : ".ogg";
    SCOPED_TRACE(extension);
    TempDir work;
    std::vector<size_t> starts;
    const std::string ogg = MakeChainedOgg(codec, {{"One", "Band", 1.0}, {"Two", "Band", 1.0}, {"Three", "", 1.0}},
                                           work.Path(), &starts);
    ASSERT_EQ(starts.size(), 3u);
    TempDir caseDir;
    IcyTestServer caseServer;
    caseServer.Push({"HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\n\r\n", ogg, IcyResponse::kEverything, true});
    RecordingWriter caseWriter;
    caseWriter.SetDirectory(caseDir.Path().string());
    ServerStream caseStream;
    caseStream.SetUrl(caseServer.Url("/stream.ogg"));
    caseStream.AddObserver(&caseWriter);
    caseStream.Toggle();
    EXPECT_TRUE(Eventually([&] { return caseWriter.BytesWritten() >= static_cast<int64_t>(ogg.size()); }));
    caseStream.Stop();
    caseStream.ClearObservers();
    const std::string names[] = {"Band - One", "Band - Two", "Three"};
    for (size_t i = 0; i < 3; ++i) {
      const fs::path file = caseDir.Path() / (names[i] + extension);
      const size_t end = i + 1 < starts.size() ? starts[i + 1] : ogg.size();
      const std::string recorded = ReadFileBytes(file);
      EXPECT_EQ(recorded.size(), end - starts[i]) << file;
      EXPECT_TRUE(recorded == ogg.substr(starts[i], end - starts[i])) << file;
      EXPECT_TRUE(FfprobeReadsWithoutError(file)) << file;
    }
  }
}

TEST_F(StationFidelityTest, AFailedAttemptSaysWhyAndAStopSaysNothing) {
  // No script: the test server answers 404 to everything.
  Start();
  ASSERT_TRUE(Eventually([&] { return log.Count("Error on connecting") >= 1; }));
  EXPECT_EQ(stream.LastReason(), "HTTP 404 Not Found");
  stream.Stop();
  ASSERT_FALSE(log.Reasons().empty());
  EXPECT_EQ(log.Reasons().front(), "HTTP 404 Not Found");
  EXPECT_TRUE(Files().empty());
}

}  // namespace

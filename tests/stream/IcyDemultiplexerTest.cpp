// The ICY demultiplexer of ServerStream, driven without a network.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/AudioFormat.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"

namespace {

using testing::ElementsAre;

// Logs every call as "kind=text" or "audio=bytes".
class EventLog : public StreamObserver {
 public:
  void OnAudio(const StreamBuffer& audio) override {
    events.push_back("audio=" + std::string(reinterpret_cast<const char*>(audio.Data()), audio.Size()));
  }
  void OnText(StreamEvent kind, std::string text) override {
    if (kind != StreamEvent::State) {
      events.push_back(std::to_string(static_cast<int>(kind)) + "=" + text);
    }
  }
  std::vector<std::string> events;
};

class IcyDemultiplexerTest : public testing::Test {
 protected:
  IcyDemultiplexerTest() {
    stream.AddObserver(&log);
    stream.BeginResponse();
  }

  void Feed(const std::string& bytes) {
    StreamBuffer chunk(bytes.data(), static_cast<int32_t>(bytes.size()));
    stream.ProcessChunk(&chunk);
  }

  std::vector<std::string> FeedInPieces(const std::string& bytes, const std::vector<size_t>& cuts) {
    EventLog freshLog;  // outlives the stream that reports to it
    ServerStream fresh;
    fresh.AddObserver(&freshLog);
    fresh.BeginResponse();
    size_t start = 0;
    for (size_t cut : cuts) {
      StreamBuffer chunk(bytes.data() + start, static_cast<int32_t>(cut - start));
      fresh.ProcessChunk(&chunk);
      start = cut;
    }
    StreamBuffer last(bytes.data() + start, static_cast<int32_t>(bytes.size() - start));
    fresh.ProcessChunk(&last);
    return freshLog.events;
  }

  EventLog log;  // outlives the stream that reports to it
  ServerStream stream;
};

// Status line, two header lines, AAAA, one metadata unit with a title,
// BBBB, an empty metadata block, and one byte of the next audio block.
const std::string kExample = std::string(
                                 "ICY 200 OK\r\nicy-name:Radio\r\nicy-metaint:4\r\n\r\n"
                                 "AAAA\x01StreamTitle='x';BBBB") +
                             std::string(1, '\0') + "C";

const std::vector<std::string> kExampleEvents = {
    // The first interval belongs to the title the metadata block after it
    // announces: format, station and that title come first. The first title
    // after a reset does not reset the per-title count.
    "4=Radio", "8=mp3", "9=Radio", "1=x", "2=", "6=4", "7=4", "audio=AAAA", "6=8", "7=8", "audio=BBBB",
};

TEST_F(IcyDemultiplexerTest, ExampleResponseInOneChunk) {
  Feed(kExample);
  EXPECT_EQ(log.events, kExampleEvents);
  EXPECT_EQ(stream.MetadataInterval(), 4);
}

TEST_F(IcyDemultiplexerTest, SameEventsHoweverTheReadsCutTheBytes) {
  for (size_t cut = 0; cut <= kExample.size(); ++cut) {
    EXPECT_EQ(FeedInPieces(kExample, {cut}), kExampleEvents) << "cut at " << cut;
  }
  std::vector<size_t> everyByte;
  for (size_t i = 1; i < kExample.size(); ++i) {
    everyByte.push_back(i);
  }
  EXPECT_EQ(FeedInPieces(kExample, everyByte), kExampleEvents);

  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < kExample.size(); ++i) {
      if (random() % 4 == 0) {
        cuts.push_back(i);
      }
    }
    EXPECT_EQ(FeedInPieces(kExample, cuts), kExampleEvents) << "round " << round;
  }
}

TEST_F(IcyDemultiplexerTest, AudioBlockWaitsForTheByteAfterIt) {
  Feed("HTTP/1.0 200 OK\r\nicy-metaint:4\r\n\r\nAAAA");
  EXPECT_TRUE(log.events.empty());
  // The first block waits for the metadata block after it, an empty one
  // here, which is consumed once the byte after it is there.
  Feed(std::string(1, '\0'));
  EXPECT_TRUE(log.events.empty());
  Feed("B");
  EXPECT_THAT(log.events, ElementsAre("8=mp3", "9=untitled", "6=4", "7=4", "audio=AAAA"));
  Feed("BBB");
  EXPECT_EQ(log.events.back(), "audio=AAAA");
  Feed("!");
  EXPECT_EQ(log.events.back(), "audio=BBBB");
}

TEST_F(IcyDemultiplexerTest, WithoutIntervalEachChunkIsOneAudioBlock) {
  Feed("ICY 200 OK\r\nicy-br:128\r\ncontent-type: audio/aacp\r\n\r\nabc");
  Feed("defg");
  Feed("");
  EXPECT_THAT(log.events, ElementsAre("3=128", "8=aac", "9=untitled", "6=3", "7=3", "audio=abc", "6=7", "7=7",
                                      "audio=defg"));
}

TEST_F(IcyDemultiplexerTest, GenericContentTypeHoldsTheFirstBytesUntilTheyTellTheFormat) {
  Feed("HTTP/1.0 200 OK\r\ncontent-type: application/octet-stream\r\n\r\n");
  const std::string audio(AudioFormatProbe::kProbeBytes - 1, 'a');
  Feed(audio);
  EXPECT_TRUE(log.events.empty());
  Feed("b");
  EXPECT_THAT(log.events, ElementsAre("8=mp3", "9=untitled", "6=4096", "7=4096", "audio=" + audio + "b"));
}

TEST_F(IcyDemultiplexerTest, EndOfResponseHandsOnThePartialIntervalButNoMetadataBytes) {
  struct Case {
    const char* name;
    std::string body;
    std::vector<std::string> audio;
  };
  const Case cases[] = {
      {"inside the first interval", "AA", {"audio=AA"}},
      {"first interval complete, no metadata yet", "AAAA", {"audio=AAAA"}},
      {"inside a later interval", "AAAA" + std::string(1, '\0') + "BB", {"audio=AAAA", "audio=BB"}},
      {"inside a metadata block", "AAAA\x01StreamTi", {"audio=AAAA"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventLog events;
    ServerStream fresh;
    fresh.AddObserver(&events);
    fresh.BeginResponse();
    const std::string bytes = "ICY 200 OK\r\nicy-metaint:4\r\n\r\n" + c.body;
    StreamBuffer chunk(bytes.data(), static_cast<int32_t>(bytes.size()));
    fresh.ProcessChunk(&chunk);
    fresh.FinishResponse();
    std::vector<std::string> audio;
    for (const auto& event : events.events) {
      if (event.rfind("audio=", 0) == 0) {
        audio.push_back(event);
      }
    }
    EXPECT_EQ(audio, c.audio);
    EXPECT_EQ(fresh.LeftoverSize(), 0);
    fresh.ClearObservers();
  }
}

TEST_F(IcyDemultiplexerTest, EmptyOrNullChunkChangesNothing) {
  Feed("ICY 200 OK\r\nicy-na");
  stream.ProcessChunk(nullptr);
  Feed("");
  Feed("me:Split\r\n\r\n");
  EXPECT_THAT(log.events, ElementsAre("4=Split"));  // parsed once, whole
}

TEST_F(IcyDemultiplexerTest, TitleWithoutUrlAndMetadataWithNeitherKey) {
  std::string meta1 = "StreamTitle='one';";
  meta1.resize(32, '\0');
  std::string meta2 = "nothing here";
  meta2.resize(16, '\0');
  Feed("ICY 200 OK\r\nicy-metaint:2\r\n\r\naa" + std::string(1, '\x02') + meta1 + "bb" + std::string(1, '\x01') +
       meta2 + "c");
  EXPECT_THAT(log.events, ElementsAre("8=mp3", "9=untitled", "1=one", "2=", "6=2", "7=2", "audio=aa", "6=4", "7=4",
                                      "audio=bb",
                                      // the empty title replaces "one": received is reset first
                                      "6=0", "7=4", "1=", "2="));
}

TEST_F(IcyDemultiplexerTest, HeaderKeysInAnyLetterCaseWithUntrimmedValues) {
  stream.ParseHeaderLine("icy-br:128");
  stream.ParseHeaderLine("Icy-Br: 128");
  stream.ParseHeaderLine("ICY-NAME:Loud");
  stream.ParseHeaderLine("xicy-br:1");
  stream.ParseHeaderLine("ICY 200 OK");
  stream.ParseHeaderLine("icy-br");
  EXPECT_THAT(log.events, ElementsAre("3=128", "3= 128", "4=Loud"));

  stream.ParseHeaderLine("Icy-MetaInt:  8192");
  EXPECT_EQ(stream.MetadataInterval(), 8192);
  stream.ParseHeaderLine("icy-metaint:abc");
  EXPECT_EQ(stream.MetadataInterval(), 0);
}

TEST_F(IcyDemultiplexerTest, AbsurdMetadataIntervalEndsTheAttempt) {
  EXPECT_THROW(stream.ParseHeaderLine("icy-metaint:-16"), std::runtime_error);
  EXPECT_THROW(stream.ParseHeaderLine("icy-metaint:99999999999999999999"), std::runtime_error);
  EXPECT_EQ(stream.MetadataInterval(), 0);
}

TEST_F(IcyDemultiplexerTest, EndlessHeaderBlockEndsTheAttempt) {
  const std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
  Feed("HTTP/1.1 200 OK\r\n");
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) {
          Feed(line);
        }
      },
      std::runtime_error);

  ServerStream noSeparator;
  noSeparator.BeginResponse();
  const std::string garbage(8000, 'g');
  StreamBuffer chunk(garbage.data(), static_cast<int32_t>(garbage.size()));
  EXPECT_THROW(
      {
        for (int i = 0; i < 20; ++i) {
          noSeparator.ProcessChunk(&chunk);
        }
      },
      std::runtime_error);
}

TEST_F(IcyDemultiplexerTest, LineStartingWithNulEndsTheHeaderBlock) {
  Feed(std::string("ICY 200 OK\r\n") + std::string(1, '\0') + "junk\r\naudio");
  stream.FinishResponse();
  EXPECT_THAT(log.events, ElementsAre("8=mp3", "9=untitled", "6=5", "7=5", "audio=audio"));
}

TEST(ExtractValueTest, ValueRules) {
  const auto value = [](const std::string& text) { return ServerStream::ExtractValue(text, "StreamTitle"); };
  EXPECT_EQ(value("StreamTitle='Artist - Song';"), "Artist - Song");
  // Semicolons and quotes inside a title survive up to the "';" that closes it.
  EXPECT_EQ(value("StreamTitle='A;B';"), "A;B");
  EXPECT_EQ(value("StreamTitle='Rock 'n' Roll; Part 2';StreamUrl='';"), "Rock 'n' Roll; Part 2");
  EXPECT_EQ(value("StreamTitle='Band; Song One';"), "Band; Song One");
  EXPECT_EQ(value("StreamTitle='It';s';StreamUrl='x';"), "It';s");
  EXPECT_EQ(value("StreamTitle='trailing';  "), "trailing");
  EXPECT_EQ(value("StreamTitle='';"), "");
  EXPECT_EQ(value("StreamTitle='no terminator'"), "");
  EXPECT_EQ(value("StreamTitle='Don't stop';"), "Don't stop");
  EXPECT_EQ(value("StreamTitle=plain;StreamUrl='http://x';"), "http://x");
  EXPECT_EQ(value("StreamUrl='u';"), "");
  EXPECT_EQ(value("StreamTitle"), "");
  EXPECT_EQ(ServerStream::ExtractValue("StreamTitle='t';StreamUrl='http://a/b';", "StreamUrl"), "http://a/b");
}

}  // namespace

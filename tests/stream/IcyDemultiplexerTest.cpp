// The ICY demultiplexer behind ServerStream, driven without a network.
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

// Metadata blocks as servers shape them: the block padded with NULs to its
// 16-byte units, keys in either order or missing.
std::string Block(const std::string& text) {
  std::string block = text;
  block.resize((text.size() + 15) / 16 * 16, '\0');
  return std::string(1, static_cast<char>(block.size() / 16)) + block;
}

// A response fed in chunks (a null chunk before each), perhaps ended, and the
// events it must bring.
struct ResponseCase {
  const char* name;
  std::vector<std::string> chunks;
  bool finish;
  std::vector<std::string> events;
};

const std::string kHead2 = "ICY 200 OK\r\nicy-metaint:2\r\n\r\n";
const std::string kProbeAudio(AudioFormatProbe::kProbeBytes - 1, 'a');

const ResponseCase kResponses[] = {
    {"ExampleInOneChunk", {kExample}, false, kExampleEvents},
    {"WithoutIntervalEachChunkIsOneAudioBlock",
     {"ICY 200 OK\r\nicy-br:128\r\ncontent-type: audio/aacp\r\n\r\nabc", "defg", ""},
     false,
     {"3=128", "8=aac", "9=untitled", "6=3", "7=3", "audio=abc", "6=7", "7=7", "audio=defg"}},
    {"GenericContentTypeHoldsTheFirstBytesUntilTheyTellTheFormat",
     {"HTTP/1.0 200 OK\r\ncontent-type: application/octet-stream\r\n\r\n", kProbeAudio, "b"},
     false,
     {"8=mp3", "9=untitled", "6=4096", "7=4096", "audio=" + kProbeAudio + "b"}},
    {"EmptyChunksChangeNothing", {"ICY 200 OK\r\nicy-na", "", "me:Split\r\n\r\n"}, false, {"4=Split"}},
    {"LineStartingWithNulEndsTheHeaderBlock",
     {std::string("ICY 200 OK\r\n") + std::string(1, '\0') + "junk\r\naudio"},
     true,
     {"8=mp3", "9=untitled", "6=5", "7=5", "audio=audio"}},
    // The empty title replaces "one": received is reset first.
    {"TitleWithoutUrlThenABlockWithNeitherKey",
     {kHead2 + "aa" + Block("StreamTitle='one';") + "bb" + Block("nothing here") + "c"},
     false,
     {"8=mp3", "9=untitled", "1=one", "2=", "6=2", "7=2", "audio=aa", "6=4", "7=4", "audio=bb", "6=0", "7=4", "1=",
      "2="}},
    {"UrlBeforeTitle",
     {kHead2 + "aa" + Block("StreamUrl='http://u/';StreamTitle='t';") + "b"},
     false,
     {"8=mp3", "9=untitled", "1=t", "2=http://u/", "6=2", "7=2", "audio=aa"}},
    {"QuotesAndSemicolonsInTheTitle",
     {kHead2 + "aa" + Block("StreamTitle='Rock 'n' Roll; Part 2';StreamUrl='';") + "b"},
     false,
     {"8=mp3", "9=untitled", "1=Rock 'n' Roll; Part 2", "2=", "6=2", "7=2", "audio=aa"}},
    {"EmptyBlockBeforeTheFirstTitleStartsTheAudioUntitled",
     {kHead2 + "aa" + std::string(1, '\0') + "bb" + Block("StreamTitle='late';") + "c"},
     false,
     {"8=mp3", "9=untitled", "6=2", "7=2", "audio=aa", "6=4", "7=4", "audio=bb", "1=late", "2="}},
    {"TextAfterANulInTheBlockIsIgnored",
     {kHead2 + "aa" + Block(std::string("StreamTitle='a';") + std::string(1, '\0') + "StreamUrl='x';") + "b"},
     false,
     {"8=mp3", "9=untitled", "1=a", "2=", "6=2", "7=2", "audio=aa"}},
};

class IcyResponseTest : public testing::TestWithParam<ResponseCase> {};

TEST_P(IcyResponseTest, EventsAndEveryByteAccountedFor) {
  const ResponseCase& c = GetParam();
  EventLog log;  // outlives the stream that reports to it
  ServerStream stream;
  stream.AddObserver(&log);
  stream.BeginResponse();
  int64_t fed = 0;
  for (const std::string& bytes : c.chunks) {
    stream.ProcessChunk(nullptr);
    StreamBuffer chunk(bytes.data(), static_cast<int32_t>(bytes.size()));
    stream.ProcessChunk(&chunk);
    fed += static_cast<int64_t>(bytes.size());
    const ServerStream::ConsumedBytes consumed = stream.Consumed();
    EXPECT_EQ(consumed.header + consumed.audio + consumed.metadata + stream.LeftoverSize(), fed);
  }
  if (c.finish) {
    stream.FinishResponse();
  }
  EXPECT_EQ(log.events, c.events);
}

INSTANTIATE_TEST_SUITE_P(Shapes, IcyResponseTest, testing::ValuesIn(kResponses),
                         [](const testing::TestParamInfo<ResponseCase>& info) { return std::string(info.param.name); });

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


TEST(IcyMetadataIntervalTest, OutOfRangeIntervalsEndTheAttemptAndTheBoundIsKept) {
  const struct {
    const char* line;
    bool throws;
    int32_t interval;
  } rows[] = {
      {"icy-metaint:4194304", false, ServerStream::kMaxMetadataInterval},
      {"icy-metaint:4194305", true, 0},
      {"icy-metaint:-16", true, 0},
      {"icy-metaint:99999999999999999999", true, 0},
      {"icy-metaint:-0", false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    ServerStream stream;
    if (row.throws) {
      EXPECT_THROW(stream.ParseHeaderLine(row.line), std::runtime_error);
    } else {
      EXPECT_NO_THROW(stream.ParseHeaderLine(row.line));
    }
    EXPECT_EQ(stream.MetadataInterval(), row.interval);
  }
}

struct ValueCase {
  const char* text;
  const char* key;
  const char* value;
};

class ExtractValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(ExtractValueTest, ValueRules) {
  EXPECT_EQ(ServerStream::ExtractValue(GetParam().text, GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExtractValueTest,
    testing::Values(ValueCase{"StreamTitle='Artist - Song';", "StreamTitle", "Artist - Song"},
                    // Semicolons and quotes inside a title survive up to the "';" that closes it.
                    ValueCase{"StreamTitle='A;B';", "StreamTitle", "A;B"},
                    ValueCase{"StreamTitle='Rock 'n' Roll; Part 2';StreamUrl='';", "StreamTitle", "Rock 'n' Roll; Part 2"},
                    ValueCase{"StreamTitle='Band; Song One';", "StreamTitle", "Band; Song One"},
                    ValueCase{"StreamTitle='It';s';StreamUrl='x';", "StreamTitle", "It';s"},
                    ValueCase{"StreamTitle='trailing';  ", "StreamTitle", "trailing"},
                    ValueCase{"StreamTitle='';", "StreamTitle", ""},
                    ValueCase{"StreamTitle='no terminator'", "StreamTitle", ""},
                    ValueCase{"StreamTitle='Don't stop';", "StreamTitle", "Don't stop"},
                    ValueCase{"StreamTitle=plain;StreamUrl='http://x';", "StreamTitle", "plain"},
                    ValueCase{"StreamTitle=plain", "StreamTitle", "plain"},
                    ValueCase{"StreamUrl='u';", "StreamTitle", ""},
                    ValueCase{"StreamTitle", "StreamTitle", ""},
                    ValueCase{"StreamTitle='t';StreamUrl='http://a/b';", "StreamUrl", "http://a/b"}));

}  // namespace

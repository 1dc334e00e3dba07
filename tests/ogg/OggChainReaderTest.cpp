#include "ogg/OggChainReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ogg/OggPage.h"
#include "support/OggFixture.h"
#include "support/TempDir.h"

namespace {

using Cue = std::pair<size_t, std::string>;  // where a title fell among the bytes handed on

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }
int32_t Size(const std::string& text) { return static_cast<int32_t>(text.size()); }

class RecordingSink : public OggChainReader::Sink {
 public:
  void OnOggAudio(const uint8_t* data, int32_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    lent.push_back(data);
  }
  void OnOggTitle(const std::string& title) override { titles.emplace_back(bytes.size(), title); }

  std::string bytes;
  std::vector<Cue> titles;
  std::vector<const uint8_t*> lent;  // each call's pointer
};

// Feeds stream in pieces of 1..maxCut bytes drawn from seed, then finishes
// unless told not to. Returns the most bytes the reader kept back after any Feed.
size_t FeedInCuts(OggChainReader& reader, const RecordingSink& sink, const std::string& stream, uint32_t seed,
                  size_t maxCut, bool finish = true) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<size_t> cut(1, maxCut);
  size_t mostKept = 0;
  for (size_t position = 0; position < stream.size();) {
    const size_t size = std::min(cut(generator), stream.size() - position);
    reader.Feed(Bytes(stream) + position, static_cast<int32_t>(size));
    position += size;
    mostKept = std::max(mostKept, position - sink.bytes.size());
  }
  if (finish) {
    reader.Finish();
  }
  return mostKept;
}

// Page starts found by walking the lengths from the first byte, independently
// of the code under test; the stream must be clean Ogg.
std::vector<size_t> PageStarts(const std::string& stream) {
  std::vector<size_t> starts;
  for (size_t position = 0; position + 27 <= stream.size();) {
    starts.push_back(position);
    const auto segments = static_cast<uint8_t>(stream[position + 26]);
    size_t length = 27 + segments;
    for (size_t index = 0; index < segments; ++index) {
      length += static_cast<uint8_t>(stream[position + 27 + index]);
    }
    position += length;
  }
  return starts;
}

int64_t GranuleAt(const std::string& stream, size_t page) {
  uint64_t granule = 0;
  for (int index = 7; index >= 0; --index) {
    granule = granule << 8 | static_cast<uint8_t>(stream[page + 6 + static_cast<size_t>(index)]);
  }
  return static_cast<int64_t>(granule);
}

// The first page after the codec headers: granule position neither 0 nor -1.
size_t FirstAudioPage(const std::string& stream) {
  for (size_t page : PageStarts(stream)) {
    if (GranuleAt(stream, page) != 0 && GranuleAt(stream, page) != -1) {
      return page;
    }
  }
  return stream.size();
}

// One page with a correct checksum. lacing and body must agree.
std::string MakePage(uint8_t flags, int64_t granule, uint32_t serial, uint32_t sequence,
                     const std::vector<uint8_t>& lacing, const std::string& body) {
  std::string page = "OggS";
  page.push_back('\0');
  page.push_back(static_cast<char>(flags));
  auto add = [&page](uint64_t value, int bytes) {
    for (int index = 0; index < bytes; ++index) {
      page.push_back(static_cast<char>(value >> (8 * index) & 0xff));
    }
  };
  add(static_cast<uint64_t>(granule), 8);
  add(serial, 4);
  add(sequence, 4);
  add(0, 4);
  page.push_back(static_cast<char>(lacing.size()));
  page.append(lacing.begin(), lacing.end());
  page += body;
  const uint32_t crc = OggCrc(Bytes(page), Size(page));
  for (int index = 0; index < 4; ++index) {
    page[22 + static_cast<size_t>(index)] = static_cast<char>(crc >> (8 * index) & 0xff);
  }
  return page;
}

// A page carrying exactly the given whole packets.
std::string PacketsPage(uint8_t flags, int64_t granule, uint32_t serial, uint32_t sequence,
                        const std::vector<std::string>& packets) {
  std::vector<uint8_t> lacing;
  std::string body;
  for (const std::string& packet : packets) {
    lacing.insert(lacing.end(), packet.size() / 255, 255);
    lacing.push_back(static_cast<uint8_t>(packet.size() % 255));
    body += packet;
  }
  return MakePage(flags, granule, serial, sequence, lacing, body);
}

std::string Le32(uint32_t value) {
  return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8 & 0xff),
          static_cast<char>(value >> 16 & 0xff), static_cast<char>(value >> 24 & 0xff)};
}

std::string VorbisComments(const std::vector<std::string>& comments, uint32_t declaredCount) {
  std::string packet = std::string("\x03vorbis", 7) + Le32(4) + "test" + Le32(declaredCount);
  for (const std::string& comment : comments) {
    packet += Le32(static_cast<uint32_t>(comment.size())) + comment;
  }
  return packet;
}

// A Vorbis identification header: only its magic is read.
std::string VorbisId() { return std::string("\x01vorbis", 7) + std::string(23, '\0'); }

// Both names, TITLE only, ARTIST only.
std::vector<OggSong> Songs() {
  return {{"Morning Tide", "Harbour Band", 1.5}, {"Ünïcödé Wåves", "", 1.0}, {"", "Ørsted", 1.0}};
}
std::vector<std::string> Titles() { return {"Harbour Band - Morning Tide", "Ünïcödé Wåves", "Ørsted"}; }

struct Chain {
  std::string bytes;
  std::vector<size_t> songStarts;
};

// The ffmpeg-made streams, made once for the whole program.
class OggStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FfmpegAvailable()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  enum Which { VorbisChain, OpusChain, LargeComments };

  static const Chain& Get(Which which) {
    static TempDir directory;
    static std::map<Which, Chain> made;
    auto found = made.find(which);
    if (found != made.end()) {
      return found->second;
    }
    Chain chain;
    if (which == LargeComments) {
      // Larger than a page, within the bound and before TITLE; then past the
      // bound, after TITLE and ARTIST, as embedded cover art often is.
      const std::vector<OggSong> songs = {
          {"Long Notes", "Big Band", 1.0, {{"DESCRIPTION", std::string(200000, 'd')}}},
          {"Art Last", "Cover", 1.0, {{"METADATA_BLOCK_PICTURE", std::string(300000, 'p')}}, true},
          {"Plain", "", 1.0}};
      chain.bytes = MakeChainedOgg(OggCodec::Opus, songs, directory.Path(), &chain.songStarts);
    } else {
      chain.bytes = MakeChainedOgg(which == OpusChain ? OggCodec::Opus : OggCodec::Vorbis, Songs(),
                                   directory.Path(), &chain.songStarts);
    }
    return made.emplace(which, std::move(chain)).first->second;
  }
};

class OggChainReaderTest : public OggStreams {};
class OggPageTest : public OggStreams {};

std::vector<Cue> CuesAt(const std::vector<size_t>& offsets, const std::vector<std::string>& titles) {
  std::vector<Cue> cues;
  for (size_t index = 0; index < titles.size(); ++index) {
    cues.emplace_back(offsets[index], titles[index]);
  }
  return cues;
}

// Cuts from single bytes (every header straddles calls) to more than a page.
constexpr std::pair<uint32_t, size_t> kCuts[] = {{1, 1}, {2, 5}, {3, 64}, {4, 700}, {5, 5000}, {6, 70000}};

TEST_F(OggChainReaderTest, ChainedSongsAreTitledAtTheirFirstPageAndEveryByteGoesOnOnce) {
  for (Which which : {VorbisChain, OpusChain}) {
    const Chain& chain = Get(which);
    SCOPED_TRACE(which == OpusChain ? "Opus" : "Vorbis");
    ASSERT_EQ(chain.songStarts.size(), 3u);
    for (const auto& [seed, maxCut] : kCuts) {
      SCOPED_TRACE("cuts up to " + std::to_string(maxCut));
      RecordingSink sink;
      OggChainReader reader(sink);
      FeedInCuts(reader, sink, chain.bytes, seed, maxCut);
      EXPECT_EQ(sink.bytes, chain.bytes);
      EXPECT_EQ(sink.titles, CuesAt(chain.songStarts, Titles()));
    }
  }
}

TEST_F(OggChainReaderTest, EachPieceBetweenTitlesPlaysOnItsOwn) {
  TempDir directory;
  for (Which which : {VorbisChain, OpusChain}) {
    RecordingSink sink;
    OggChainReader reader(sink);
    FeedInCuts(reader, sink, Get(which).bytes, 7, 3000);
    ASSERT_EQ(sink.titles.size(), 3u);
    for (size_t index = 0; index < sink.titles.size(); ++index) {
      const size_t end = index + 1 < sink.titles.size() ? sink.titles[index + 1].first : sink.bytes.size();
      const std::string file = directory.File("piece-" + std::to_string(which) + std::to_string(index) + ".ogg");
      WriteFileBytes(file, sink.bytes.substr(sink.titles[index].first, end - sink.titles[index].first));
      EXPECT_TRUE(FfprobeReadsWithoutError(file)) << file;
    }
  }
}

TEST_F(OggChainReaderTest, GarbageIsHandedOnUnchangedAndTheNextSongIsStillFound) {
  const Chain& chain = Get(VorbisChain);
  // Look-alikes the search must reject: a BOS header whose checksum fails,
  // a version other than 0, a capture pattern cut short.
  std::string fakeBos = PacketsPage(kOggBeginsStream, 0, 99, 0, {VorbisId()});
  fakeBos[40] ^= 0x01;
  const std::string junk = "HTTP junk\r\n" + fakeBos + "OggS\x01" + std::string(40, '\x02') + "Og";
  // Into song 2's audio, mid-page: that page's length no longer leads to a header.
  const size_t songTwoAudio = chain.songStarts[1] + FirstAudioPage(chain.bytes.substr(chain.songStarts[1])) + 100;
  std::string stream = junk + chain.bytes;
  stream.insert(junk.size() + chain.songStarts[1], junk);
  stream.insert(2 * junk.size() + songTwoAudio, junk);
  const std::vector<size_t> starts = {junk.size(), 2 * junk.size() + chain.songStarts[1],
                                      3 * junk.size() + chain.songStarts[2]};
  for (const auto& [seed, maxCut] : kCuts) {
    SCOPED_TRACE("cuts up to " + std::to_string(maxCut));
    RecordingSink sink;
    OggChainReader reader(sink);
    FeedInCuts(reader, sink, stream, seed, maxCut);
    EXPECT_EQ(sink.bytes, stream);
    EXPECT_EQ(sink.titles, CuesAt(starts, Titles()));
  }
}

TEST_F(OggChainReaderTest, CommentHeadersAcrossPagesAndPastTheBoundStillNameTheirSongs) {
  const Chain& chain = Get(LargeComments);
  // Song 1's comment header spans several pages; song 2's is read from its
  // prefix once the bound releases it.
  ASSERT_GT(OggHeaderPagesLength(Bytes(chain.bytes), Size(chain.bytes)), 200000);
  for (const auto& [seed, maxCut] : kCuts) {
    SCOPED_TRACE("cuts up to " + std::to_string(maxCut));
    RecordingSink sink;
    OggChainReader reader(sink);
    const size_t mostKept = FeedInCuts(reader, sink, chain.bytes, seed, maxCut);
    EXPECT_EQ(sink.bytes, chain.bytes);
    EXPECT_EQ(sink.titles, CuesAt(chain.songStarts, {"Big Band - Long Notes", "Cover - Art Last", "Plain"}));
    EXPECT_LE(mostKept, static_cast<size_t>(OggChainReader::kMaxHeldBytes + kOggMaxHeaderLength));
  }
}

TEST_F(OggChainReaderTest, SyntheticGroupsAreTitledFromTheRightStream) {
  // A comment packet that never ends: 255-byte segments only, page after page.
  auto endless = [](const std::string& commentsStart) {
    std::string stream = PacketsPage(kOggBeginsStream, 0, 5, 0, {VorbisId()});
    for (uint32_t sequence = 1; sequence <= 6; ++sequence) {
      std::string body = sequence == 1 ? commentsStart : "";
      body.resize(size_t{255} * 255, 'x');
      stream += MakePage(sequence == 1 ? 0 : kOggContinued, -1, 5, sequence, std::vector<uint8_t>(255, 255), body);
    }
    return stream;
  };
  const size_t kBound = OggChainReader::kMaxHeldBytes + kOggMaxHeaderLength;
  const std::string audio = PacketsPage(0, 960, 7, 2, {std::string(300, 'a')});
  const std::string leadingAudio = PacketsPage(0, 960, 3, 9, {"audio"});
  const struct {
    const char* name;
    std::string stream;
    std::string title;
    size_t mostKept = kBound;
    size_t titleAt = 0;
  } cases[] = {
      {"never-ending comment, held to the bound", endless(VorbisComments({"TITLE=Prefix", "DESCRIPTION="}, 3)),
       "Prefix"},
      {"comment list complete, its packet goes on", endless(VorbisComments({"TITLE=Early"}, 1)), "Early",
       size_t{2} * kOggMaxPageLength},
      {"multiplexed: the Vorbis stream is the second BOS",
       PacketsPage(kOggBeginsStream, 0, 6, 0, {"fishead" + std::string(57, '\0')}) +
           PacketsPage(kOggBeginsStream, 0, 7, 0, {VorbisId()}) +
           PacketsPage(0, 0, 6, 1, {VorbisComments({"TITLE=Wrong stream"}, 1)}) +
           PacketsPage(0, 0, 7, 1, {VorbisComments({"", "TITLE=", "title=Real", "Artist=First", "ARTIST=Second"}, 5)}) +
           audio,
       "First - Real"},
      {"no Vorbis or Opus stream in the group",
       PacketsPage(kOggBeginsStream, 0, 8, 0, {"Speex   " + std::string(72, '\0')}) + audio, ""},
      {"comment list shorter than its count",
       PacketsPage(kOggBeginsStream, 0, 7, 0, {VorbisId()}) +
           PacketsPage(0, 0, 7, 1, {VorbisComments({"ARTISTS=No", "ARTIST=Only"}, 9), "setup"}) + audio,
       "Only"},
      {"a title beyond the bound is cut before the character the bound splits",
       PacketsPage(kOggBeginsStream, 0, 7, 0, {VorbisId()}) +
           PacketsPage(0, 0, 7, 1,
                       {VorbisComments({"TITLE=" + std::string(OggChainReader::kMaxValueBytes - 1, 't') +
                                        "\xC3\xA9 and more"}, 1)}) +
           audio,
       std::string(OggChainReader::kMaxValueBytes - 1, 't')},
      {"comment header not Vorbis comments",
       PacketsPage(kOggBeginsStream, 0, 7, 0, {VorbisId()}) +
           PacketsPage(0, 0, 7, 1, {"\x05" + VorbisComments({"TITLE=Setup header"}, 1).substr(1)}) + audio,
       ""},
      {"multiplexed after audio: a new boundary",
       leadingAudio + PacketsPage(kOggBeginsStream, 0, 7, 0, {VorbisId()}) +
           PacketsPage(kOggBeginsStream, 0, 4, 0, {VorbisId()}) +
           PacketsPage(0, 0, 4, 1, {VorbisComments({"TITLE=Second serial"}, 1)}) +
           PacketsPage(0, 0, 7, 1, {VorbisComments({"TITLE=First serial"}, 1)}) + audio,
       "First serial", kBound, leadingAudio.size()},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    for (const auto& [seed, maxCut] : kCuts) {
      RecordingSink sink;
      OggChainReader reader(sink);
      // Each group is decided by its own bytes, without waiting for the end.
      const size_t mostKept = FeedInCuts(reader, sink, testCase.stream, seed, maxCut, false);
      EXPECT_EQ(sink.bytes, testCase.stream);
      EXPECT_EQ(sink.titles, (std::vector<Cue>{{testCase.titleAt, testCase.title}}));
      EXPECT_LE(mostKept, testCase.mostKept);
    }
  }
}

TEST_F(OggChainReaderTest, MangledStreamsStillHandOnEveryByteOnce) {
  const std::string& clean = Get(VorbisChain).bytes;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 generator(seed);
    std::string stream = clean;
    for (int change = 0; change < 12; ++change) {
      const size_t at = std::uniform_int_distribution<size_t>(0, stream.size() - 1)(generator);
      switch (generator() % 4) {
        case 0:
          stream[at] = static_cast<char>(generator());
          break;
        case 1:
          stream.erase(at, generator() % 3000);
          break;
        case 2:  // a plausible header start: version 0, flags and sizes at random
          stream.insert(at, "OggS" + std::string(1, '\0') + std::string(22, static_cast<char>(generator())));
          break;
        default:
          stream.insert(at, clean.substr(generator() % clean.size(), generator() % 5000));
          break;
      }
    }
    SCOPED_TRACE("seed " + std::to_string(seed));
    RecordingSink sink;
    OggChainReader reader(sink);
    const size_t mostKept = FeedInCuts(reader, sink, stream, seed, 1 + seed * 50);
    ASSERT_EQ(sink.bytes, stream);
    EXPECT_LE(mostKept, static_cast<size_t>(OggChainReader::kMaxHeldBytes + kOggMaxHeaderLength));
  }
}

TEST_F(OggChainReaderTest, FinishHandsOnTheRestAfterTheWaitingTitleAndStartsAfresh) {
  const Chain& chain = Get(VorbisChain);
  const size_t afterTitle = chain.bytes.find("Morning Tide") + 12;
  const struct {
    size_t cut;
    std::vector<Cue> titles;
  } cases[] = {
      {5, {}},                     // a header too short to show its flags
      {40, {{0, ""}}},             // a BOS page, nothing of its comments
      {afterTitle, {{0, "Morning Tide"}}},
      {chain.songStarts[1] + 1, {{0, Titles()[0]}}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE("cut at " + std::to_string(testCase.cut));
    RecordingSink sink;
    OggChainReader reader(sink);
    const std::string prefix = chain.bytes.substr(0, testCase.cut);
    reader.Feed(Bytes(prefix), Size(prefix));
    reader.Finish();
    EXPECT_EQ(sink.bytes, prefix);
    EXPECT_EQ(sink.titles, testCase.titles);

    sink = RecordingSink();
    reader.Feed(Bytes(chain.bytes), Size(chain.bytes));
    reader.Finish();
    EXPECT_EQ(sink.titles, CuesAt(chain.songStarts, Titles()));
  }
}

TEST_F(OggChainReaderTest, AudioWithoutABoundaryIsLentStraightThrough) {
  const Chain& chain = Get(VorbisChain);
  const size_t audio = FirstAudioPage(chain.bytes);
  RecordingSink sink;
  OggChainReader reader(sink);
  reader.Feed(nullptr, 10);
  reader.Feed(Bytes(chain.bytes), 0);
  reader.Feed(Bytes(chain.bytes), -1);
  reader.Feed(Bytes(chain.bytes) + audio, static_cast<int32_t>(chain.songStarts[1] - audio));
  EXPECT_EQ(sink.lent, (std::vector<const uint8_t*>{Bytes(chain.bytes) + audio}));
  EXPECT_TRUE(sink.titles.empty());
}

TEST_F(OggChainReaderTest, ResetForgetsAHeldBoundary) {
  const Chain& chain = Get(OpusChain);
  RecordingSink sink;
  OggChainReader reader(sink);
  reader.Feed(Bytes(chain.bytes), 50);
  reader.Reset();
  reader.Finish();
  EXPECT_TRUE(sink.bytes.empty());
  EXPECT_TRUE(sink.titles.empty());
}

TEST_F(OggPageTest, HeaderPagesEndAtTheFirstAudioPageAndNeedItsWholeHeader) {
  for (Which which : {VorbisChain, OpusChain, LargeComments}) {
    const std::string& stream = Get(which).bytes;
    const size_t audio = FirstAudioPage(stream);
    const size_t audioHeader = 27 + static_cast<uint8_t>(stream[audio + 26]);
    SCOPED_TRACE("first audio page at " + std::to_string(audio));
    EXPECT_EQ(OggHeaderPagesLength(Bytes(stream), Size(stream)), static_cast<int32_t>(audio));
    // Every shorter start cannot tell yet: checked near each page boundary.
    for (size_t page : PageStarts(stream.substr(0, audio + 1))) {
      for (size_t size = page; size <= page + 300 && size < audio + audioHeader; ++size) {
        ASSERT_EQ(OggHeaderPagesLength(Bytes(stream), static_cast<int32_t>(size)), -1) << size;
      }
    }
    EXPECT_EQ(OggHeaderPagesLength(Bytes(stream), static_cast<int32_t>(audio + audioHeader)),
              static_cast<int32_t>(audio));
    EXPECT_EQ(OggHeaderPagesLength(Bytes(stream) + audio, Size(stream) - static_cast<int32_t>(audio)), 0);
  }
  const std::string version1 = "OggS\x01" + std::string(40, '\0');
  EXPECT_EQ(OggHeaderPagesLength(Bytes(version1), Size(version1)), 0);
  EXPECT_EQ(OggHeaderPagesLength(Bytes("ID3\x04"), 4), 0);
  // A logical stream without audio ends at the next chained BOS page.
  const std::string headers = PacketsPage(kOggBeginsStream, 0, 1, 0, {VorbisId()}) + PacketsPage(0, 0, 1, 1, {"c"});
  const std::string next = headers + PacketsPage(kOggBeginsStream, 0, 2, 0, {VorbisId()});
  EXPECT_EQ(OggHeaderPagesLength(Bytes(next), Size(next)), Size(headers));
}

TEST_F(OggPageTest, OpusIsToldByTheFirstPacketsMagic) {
  const std::string& opus = Get(OpusChain).bytes;
  const std::string& vorbis = Get(VorbisChain).bytes;
  EXPECT_TRUE(OggCarriesOpus(Bytes(opus), Size(opus)));
  EXPECT_TRUE(OggCarriesOpus(Bytes(opus), 28 + 8));
  EXPECT_FALSE(OggCarriesOpus(Bytes(opus), 28 + 7));
  EXPECT_FALSE(OggCarriesOpus(Bytes(vorbis), Size(vorbis)));
  EXPECT_FALSE(OggCarriesOpus(Bytes(opus) + 1, Size(opus) - 1));
  const std::string shortPacket = PacketsPage(kOggBeginsStream, 0, 1, 0, {"Opus", "Head...."});
  EXPECT_FALSE(OggCarriesOpus(Bytes(shortPacket), Size(shortPacket)));
}

TEST_F(OggPageTest, ChecksumsOfRealPagesHoldAndAFlippedBitIsCaught) {
  std::string stream = Get(OpusChain).bytes;
  const std::vector<size_t> pages = PageStarts(stream);
  ASSERT_GT(pages.size(), 6u);
  for (size_t page : pages) {
    const auto* data = Bytes(stream) + page;
    const int32_t size = Size(stream) - static_cast<int32_t>(page);
    EXPECT_TRUE(OggChecksumMatches(data, size)) << page;
    for (size_t flipped : {page + 5, page + 23, page + 40}) {
      stream[flipped] ^= 0x10;
      EXPECT_FALSE(OggChecksumMatches(data, size)) << flipped;
      stream[flipped] ^= 0x10;
    }
  }
}

}  // namespace

#include "recording/SilenceCutter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "recording/RecordingWriter.h"
#include "recording/TitleLag.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/OggFixture.h"
#include "support/SongFixture.h"
#include "support/TempDir.h"

namespace {

// What the writer would get: every event with the audio bytes before it.
class EventLog : public StreamObserver {
 public:
  struct Event {
    StreamEvent kind;
    std::string text;
    size_t at;
    bool operator==(const Event&) const = default;
  };
  void OnAudio(const StreamBuffer& block) override {
    if (++blocks == failAtBlock) {
      failures.push_back({audio.size(), static_cast<size_t>(block.Size())});
      throw std::runtime_error("disk full");
    }
    audio.append(reinterpret_cast<const char*>(block.Data()), static_cast<size_t>(block.Size()));
  }
  void OnText(StreamEvent kind, std::string text) override { events.push_back({kind, std::move(text), audio.size()}); }
  std::vector<Event> Titles() const {
    std::vector<Event> titles;
    std::copy_if(events.begin(), events.end(), std::back_inserter(titles),
                 [](const Event& event) { return event.kind == StreamEvent::Title; });
    return titles;
  }

  std::string audio;
  std::vector<Event> events;
  int blocks = 0;
  int failAtBlock = -1;
  std::vector<std::pair<size_t, size_t>> failures;  // where in audio, how many bytes
};

// Equal byte strings; otherwise where they part (never the bytes themselves).
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) {
    return ::testing::AssertionSuccess();
  }
  const auto [differs, unused] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure() << actual.size() << " bytes instead of " << expected.size()
                                       << ", first difference at byte " << (differs - actual.begin());
}

struct Announcement {
  size_t offset;  // audio bytes before the title's metadata block
  std::string title;
};

// What a Play saw of the cutter.
struct Playback {
  const SilenceCutter* cutter = nullptr;
  int64_t maxHeld = 0;  // of cutter's HeldBytes after each block
  size_t fed = 0;       // audio bytes handed to the observer
};

// Plays a stream's calls into observer: a response whose first title is
// titles[0], audio in blocks (split where a title comes), byte counters
// before each block, Title and Url at each announcement; then, with stop,
// the stream's stop.
void Play(StreamObserver& observer, const std::string& format, const std::string& audio,
          const std::vector<Announcement>& titles, size_t blockSize, bool stop = true,
          Playback* playback = nullptr) {
  observer.OnText(StreamEvent::State, "Connected");
  observer.OnText(StreamEvent::Format, format);
  observer.OnText(StreamEvent::Station, "Harbour FM");
  size_t next = 0;
  size_t sent = 0;
  while (sent < audio.size() || next < titles.size()) {
    if (next < titles.size() && titles[next].offset <= sent) {
      observer.OnText(StreamEvent::Title, titles[next].title);
      observer.OnText(StreamEvent::Url, "http://harbour.example/" + std::to_string(next));
      ++next;
      continue;
    }
    size_t size = std::min(blockSize, audio.size() - sent);
    if (next < titles.size()) {
      size = std::min(size, titles[next].offset - sent);
    }
    observer.OnText(StreamEvent::Received, std::to_string(sent));
    const StreamBuffer block(audio.data() + sent, static_cast<int32_t>(size));
    if (playback != nullptr) {
      playback->fed = sent + size;
    }
    observer.OnAudio(block);
    sent += size;
    if (playback != nullptr && playback->cutter != nullptr) {
      playback->maxHeld = std::max(playback->maxHeld, playback->cutter->HeldBytes());
    }
  }
  if (stop) {
    observer.OnText(StreamEvent::State, "Disconnected");
    observer.OnText(StreamEvent::Title, "");
  }
}

class SilenceCutterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FfmpegAvailable()) {
      GTEST_SKIP() << "ffmpeg is not installed";
    }
  }

  SongAudio Songs(SongCodec codec, const std::vector<SongPart>& parts) { return MakeSongs(codec, parts, temp.Path()); }

  // The title's place on the decoded timeline; fails unless it is a frame
  // boundary.
  static double CutMs(const SongAudio& audio, const EventLog::Event& title) {
    const size_t frame = audio.FrameAtOffset(title.at);
    EXPECT_LT(frame, audio.frames.size()) << "title \"" << title.text << "\" at byte " << title.at << " splits a frame";
    return frame < audio.frames.size() ? audio.frames[frame].startMs : -1.0;
  }
  // Where a title announced at offset changes on the byte-rate timeline.
  static double ChangeMs(const SongAudio& audio, size_t offset) {
    for (const SongFrame& frame : audio.frames) {
      if (offset < frame.offset + frame.size) {
        return frame.startMs + audio.frameMs * static_cast<double>(offset - frame.offset) /
                                   static_cast<double>(frame.size);
      }
    }
    return audio.frames.back().startMs + audio.frameMs;
  }

  TempDir temp;
  EventLog log;
  RecordingOptions options = RecordingOptions::ForNewEntries();
};

constexpr double kTone = 440;
constexpr double kOtherTone = 660;

// Where the cut lands around one title change, for both codecs. A cut in a
// gap lies at the frame boundary nearest the gap's middle (half a frame and a
// 10 ms block of slack).
TEST_F(SilenceCutterTest, CutLandsInTheRightPlace) {
  struct Case {
    const char* name;
    std::vector<SongPart> parts;
    int gap;             // the silence the cut must go to (-1: none)
    double titleMs;      // the announcement, relative to the end of part 0
    int32_t offsetMs;    // split offset
    double expectedMs;   // without a gap: the cut, relative to the announcement
  };
  const SongPart quietTone{0.5, 900, -62};
  const std::vector<Case> cases = {
      {"late title", {{10, kTone}, {0.8}, {10, kOtherTone}}, 0, 5500, 0, 0},
      {"early title", {{10, kTone}, {0.8}, {10, kOtherTone}}, 0, -3500, 0, 0},
      {"no gap: at the change", {{10, kTone}, {10, kOtherTone}}, -1, 1200, 0, 0},
      {"no gap: the offset", {{10, kTone}, {10, kOtherTone}}, -1, 1200, 1500, 1500},
      {"gap out of range", {{10, kTone}, {0.8}, {10, kOtherTone}}, -1, 7500, 0, 0},
      {"gap across the range's edge", {{10, kTone}, {0.8}, {10, kOtherTone}}, 0, 6200, 0, 0},
      {"quieter beats nearer", {{10, kTone}, {0.5}, {2, kTone}, quietTone, {8, kOtherTone}}, 0, 2700, 0, 0},
      {"longer beats nearer", {{10, kTone}, {0.8}, {1.5, kTone}, {0.2}, {8, kOtherTone}}, 0, 2800, 0, 0},
  };
  for (const SongCodec codec : {SongCodec::Mp3, SongCodec::Aac}) {
    for (const Case& test : cases) {
      SCOPED_TRACE(std::string(test.name) + (codec == SongCodec::Mp3 ? " (mp3)" : " (aac)"));
      const SongAudio audio = Songs(codec, test.parts);
      ASSERT_EQ(audio.silences.size(), static_cast<size_t>(std::count_if(test.parts.begin(), test.parts.end(),
                                                                          [](const SongPart& part) {
                                                                            return part.frequency == 0;
                                                                          })));
      const size_t announced = audio.OffsetNearMs(audio.parts[0].endMs + test.titleMs) + 5;
      EventLog cut;
      RecordingOptions chosen = options;
      chosen.splitOffsetMs = test.offsetMs;
      {
        SilenceCutter cutter(cut, chosen);
        Play(cutter, codec == SongCodec::Mp3 ? "mp3" : "aac", audio.bytes, {{0, "A"}, {announced, "B"}}, 8192);
      }
      ASSERT_TRUE(SameBytes(cut.audio, audio.bytes));
      const std::vector<EventLog::Event> titles = cut.Titles();
      ASSERT_EQ(titles.size(), 3u);
      const double cutMs = CutMs(audio, titles[1]);
      if (test.gap >= 0) {
        const SongSpan& gap = audio.silences[test.gap];
        EXPECT_NEAR(cutMs, gap.MiddleMs(), audio.frameMs / 2 + SilenceCutter::kBlockMs);
      } else {
        EXPECT_NEAR(cutMs, ChangeMs(audio, announced) + test.expectedMs, audio.frameMs / 2 + 1);
      }
    }
  }
}

TEST_F(SilenceCutterTest, ChangeRightAfterConnectingUsesTheHistoryThereIs) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{0.6, kTone}, {0.4}, {8, kOtherTone}});
  SilenceCutter cutter(log, options);
  Play(cutter, "mp3", audio.bytes, {{0, "A"}, {audio.OffsetNearMs(1500) + 3, "B"}}, 8192);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  EXPECT_NEAR(CutMs(audio, log.Titles()[1]), audio.silences[0].MiddleMs(), audio.frameMs / 2 + 10);
}

TEST_F(SilenceCutterTest, TwoChangesInOneWindowEachFindTheirGap) {
  const SongAudio audio = Songs(SongCodec::Aac, {{8, kTone}, {0.5}, {2.5, 550}, {0.5}, {8, kOtherTone}});
  ASSERT_EQ(audio.silences.size(), 2u);
  SilenceCutter cutter(log, options);
  Play(cutter, "aac", audio.bytes,
       {{0, "A"}, {audio.OffsetNearMs(audio.parts[2].startMs + 1000), "B"},
        {audio.OffsetNearMs(audio.parts[4].startMs + 1000) + 1, "C"}},
       8192);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  const auto titles = log.Titles();
  ASSERT_EQ(titles.size(), 4u);
  EXPECT_EQ(titles[1].text, "B");
  EXPECT_EQ(titles[2].text, "C");
  EXPECT_NEAR(CutMs(audio, titles[1]), audio.silences[0].MiddleMs(), audio.frameMs / 2 + 10);
  EXPECT_NEAR(CutMs(audio, titles[2]), audio.silences[1].MiddleMs(), audio.frameMs / 2 + 10);
}

TEST_F(SilenceCutterTest, StopInsideTheWindowHandsEverythingOnInOrder) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{6, kTone}, {0.4}, {1.5, kOtherTone}});
  SilenceCutter cutter(log, options);
  // Announced 1 s before the gap; the stream stops 1.5 s after it.
  Play(cutter, "mp3", audio.bytes, {{0, "A"}, {audio.OffsetNearMs(5000) + 9, "B"}}, 8192);
  EXPECT_EQ(cutter.HeldBytes(), 0);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  ASSERT_GE(log.events.size(), 2u);
  EXPECT_EQ(log.events[log.events.size() - 2], (EventLog::Event{StreamEvent::State, "Disconnected", audio.bytes.size()}));
  EXPECT_EQ(log.events.back(), (EventLog::Event{StreamEvent::Title, "", audio.bytes.size()}));
  EXPECT_NEAR(CutMs(audio, log.Titles()[1]), audio.silences[0].MiddleMs(), audio.frameMs / 2 + 10);
}

TEST_F(SilenceCutterTest, RepeatedTitlesDoNotUndoAMovedCut) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{6, kTone}, {0.6}, {8, kOtherTone}});
  // The station repeats the title in every metadata block, and is 2 s late.
  const size_t change = audio.OffsetNearMs(audio.parts[2].startMs + 2000);
  std::vector<Announcement> titles;
  for (size_t at = 0; at < audio.bytes.size(); at += 8192) {
    titles.push_back({at, at < change ? "A" : "B"});
  }
  SilenceCutter cutter(log, options);
  Play(cutter, "mp3", audio.bytes, titles, 8192);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  std::vector<EventLog::Event> switches;
  for (const auto& title : log.Titles()) {
    if (switches.empty() || switches.back().text != title.text) {
      switches.push_back(title);
    }
  }
  ASSERT_EQ(switches.size(), 3u);  // A, B, and the stop's ""
  EXPECT_NEAR(CutMs(audio, switches[1]), audio.silences[0].MiddleMs(), audio.frameMs / 2 + 10);
}

// A new title every 400 ms across a gap is a burst, not songs: no title
// moves into the gap, each stays at the frame where it came.
TEST_F(SilenceCutterTest, BurstOfTitlesStaysWhereItCame) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{5, kTone}, {0.6}, {5, kOtherTone}});
  std::vector<Announcement> titles{{0, "A"}};
  for (double ms = 3000; ms < 8000; ms += 400) {
    titles.push_back({audio.OffsetNearMs(ms), "T" + std::to_string(titles.size())});
  }
  SilenceCutter cutter(log, options);
  Play(cutter, "mp3", audio.bytes, titles, 1024);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  const auto cuts = log.Titles();
  ASSERT_EQ(cuts.size(), titles.size() + 1);
  for (size_t at = 1; at < titles.size(); ++at) {
    EXPECT_NEAR(CutMs(audio, cuts[at]), ChangeMs(audio, titles[at].offset), audio.frameMs) << titles[at].title;
  }
}

// Whatever the blocks and the titles, the bytes come out whole and in order,
// every title after the first at a frame boundary, the titles in their order.
TEST_F(SilenceCutterTest, NoFrameIsLostSplitOrDoubled) {
  std::vector<SongPart> parts;
  parts.reserve(12);
  for (int song = 0; song < 6; ++song) {
    parts.push_back({3.0 + song % 3, 300.0 + 150 * song, -9, song % 2 == 1});
    parts.push_back({0.1 + 0.15 * song});
  }
  std::mt19937 random(7);
  for (const SongCodec codec : {SongCodec::Mp3, SongCodec::Aac}) {
    const SongAudio audio = Songs(codec, parts);
    // A title now and then, and a new one in every 1 KiB interval.
    for (const auto& [blockSize, spacing] : {std::pair<size_t, size_t>{97, 0}, {8192, 0},
                                             {SilenceCutter::kMaxPieceBytes + 7, 0}, {97, 1024}, {1024, 1024}}) {
      SCOPED_TRACE(std::to_string(blockSize) + "/" + std::to_string(spacing) + (codec == SongCodec::Mp3 ? " mp3" : " aac"));
      std::vector<Announcement> titles = {{0, "T0"}};
      for (size_t at = 20000; at < audio.bytes.size(); at += spacing != 0 ? spacing : 5000 + random() % 90000) {
        titles.push_back({at, "T" + std::to_string(titles.size())});
      }
      EventLog cut;
      SilenceCutter cutter(cut, options);
      Play(cutter, codec == SongCodec::Mp3 ? "mp3" : "aac", audio.bytes, titles, blockSize);
      ASSERT_TRUE(SameBytes(cut.audio, audio.bytes));
      const auto out = cut.Titles();
      ASSERT_EQ(out.size(), titles.size() + 1);
      for (size_t index = 1; index < titles.size(); ++index) {
        EXPECT_EQ(out[index].text, titles[index].title);
        EXPECT_GT(out[index].at, out[index - 1].at);
        CutMs(audio, out[index]);
      }
    }
  }
}

// A station whose titles come 5.7 s after each 1.6 s gap: the first window
// (6 s back) holds only the gap's end. Learning widens the window around
// the lag the first cuts found, and the later cuts go to the gaps' middles;
// with the window given, they stay at its edge.
TEST_F(SilenceCutterTest, LearnedLagCentresTheWindowUnlessItIsGiven) {
  std::vector<SongPart> parts;
  for (int song = 0; song < 8; ++song) {
    parts.push_back({14, 300.0 + 110 * song});
    parts.push_back({1.6});
  }
  const SongAudio audio = Songs(SongCodec::Mp3, parts);
  std::vector<Announcement> titles = {{0, "S0"}};
  for (size_t song = 1; song < 8; ++song) {
    titles.push_back({audio.OffsetNearMs(audio.parts[2 * song].startMs + 5700) + 1, "S" + std::to_string(song)});
  }
  for (const bool learn : {true, false}) {
    SCOPED_TRACE(learn ? "learning" : "window given");
    options.learnTitleLag = learn;
    EventLog cut;
    {
      SilenceCutter cutter(cut, options);
      Play(cutter, "mp3", audio.bytes, titles, 8192);
    }
    ASSERT_TRUE(SameBytes(cut.audio, audio.bytes));
    const auto out = cut.Titles();
    ASSERT_EQ(out.size(), titles.size() + 1);
    for (size_t song = 1; song < titles.size(); ++song) {
      const double missMs = std::abs(CutMs(audio, out[song]) - audio.silences[song - 1].MiddleMs());
      if (song <= TitleLag::kMinCuts) {
        EXPECT_NEAR(missMs, 500, 60) << song;  // at the window's edge
      } else {
        EXPECT_NEAR(missMs, learn ? 0 : 500, learn ? audio.frameMs / 2 + 10 : 60) << song;
      }
    }
  }
}

// A Gap decides what is pending with the audio before it: no cut moves
// across it, however quiet the audio after it is.
TEST_F(SilenceCutterTest, NoCutMovesAcrossAGap) {
  const SongAudio audio = Songs(SongCodec::Aac, {{6, kTone}, {4, kOtherTone}, {0.5}, {4, kTone}});
  const size_t change = audio.OffsetNearMs(7000);
  const size_t gap = audio.OffsetNearMs(7500);
  SilenceCutter cutter(log, options);
  cutter.OnText(StreamEvent::State, "Connected");
  cutter.OnText(StreamEvent::Format, "aac");
  cutter.OnText(StreamEvent::Title, "A");
  for (const auto& [from, to] : {std::pair{size_t{0}, change}, {change, gap}, {gap, audio.bytes.size()}}) {
    if (from == change) {
      cutter.OnText(StreamEvent::Title, "B");
    } else if (from == gap) {
      cutter.OnText(StreamEvent::Gap, "1 segment");
    }
    for (size_t at = from; at < to; at += 4096) {
      cutter.OnAudio(StreamBuffer(audio.bytes.data() + at, static_cast<int32_t>(std::min<size_t>(4096, to - at))));
    }
  }
  cutter.Flush();
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  const auto titles = log.Titles();
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[1], (EventLog::Event{StreamEvent::Title, "B", change}));
  EXPECT_TRUE(std::find(log.events.begin(), log.events.end(),
                        EventLog::Event{StreamEvent::Gap, "1 segment", gap}) != log.events.end());
}

TEST_F(SilenceCutterTest, OggPassesThroughUntouched) {
  const std::string ogg = MakeChainedOgg(OggCodec::Vorbis, {{"One", "", 1.5}, {"Two", "", 1.5}}, temp.Path());
  EventLog direct;
  Play(direct, "ogg", ogg, {{0, "One"}, {ogg.size() / 2, "Two"}}, 4000);
  SilenceCutter cutter(log, options);
  Playback playback{&cutter};
  Play(cutter, "ogg", ogg, {{0, "One"}, {ogg.size() / 2, "Two"}}, 4000, true, &playback);
  EXPECT_EQ(playback.maxHeld, 0);
  EXPECT_TRUE(SameBytes(log.audio, direct.audio));
  EXPECT_EQ(log.events, direct.events);
}

TEST_F(SilenceCutterTest, HeldAudioStaysWithinTheWindowAndTheHardBound) {
  std::vector<SongPart> parts;
  parts.reserve(12);
  for (int song = 0; song < 12; ++song) {
    parts.push_back({5, 200.0 + 100 * song, -9, true});
  }
  const SongAudio audio = Songs(SongCodec::Mp3, parts);
  std::vector<Announcement> titles = {{0, "T0"}};
  for (size_t at = 30000; at < audio.bytes.size(); at += 60000) {
    titles.push_back({at, "T" + std::to_string(titles.size())});
  }
  int64_t maxHeld = 0;
  {
    SilenceCutter cutter(log, options);
    Playback playback{&cutter};
    Play(cutter, "mp3", audio.bytes, titles, 8192, true, &playback);
    maxHeld = playback.maxHeld;
  }
  // searchBefore + searchAfter, the reach each side, the preroll, the
  // decision margin and a block.
  const double window =
      (options.searchBeforeMs + options.searchAfterMs + 2 * SilenceCutter::kReachMs + 100) / 1000.0 * 16000 +
                        (SilenceCutter::kPrerollFrames + 2) * 418 + 2 * 8192;
  EXPECT_LE(maxHeld, static_cast<int64_t>(window));
  EXPECT_GT(maxHeld, static_cast<int64_t>(window / 2));

  // Bytes no parser takes for frames, in blocks as large as a metadata
  // interval may be: handed on whole, never more than the hard bound held.
  std::string junk(size_t{6} * 1024 * 1024, '\0');
  std::mt19937 random(3);
  std::generate(junk.begin(), junk.end(), [&random] { return static_cast<char>(random() & 0xFF); });
  EventLog junkLog;
  SilenceCutter cutter(junkLog, options);
  Playback playback{&cutter};
  Play(cutter, "mp3", junk, {{0, "A"}, {100000, "B"}, {3000000, "C"}}, size_t{4} * 1024 * 1024, true, &playback);
  EXPECT_LE(playback.maxHeld, SilenceCutter::kMaxHeldBytes);
  EXPECT_TRUE(SameBytes(junkLog.audio, junk));
  EXPECT_EQ(junkLog.Titles().size(), 4u);
}

TEST_F(SilenceCutterTest, FlushHandsOnAndTheDestructorDoesNot) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{4, kTone}, {0.3}, {4, kOtherTone}});
  auto cutter = std::make_unique<SilenceCutter>(log, options);
  Play(*cutter, "mp3", audio.bytes, {{0, "A"}, {40000, "B"}}, 8192, false);
  EXPECT_GT(cutter->HeldBytes(), 0);
  cutter->Flush();
  EXPECT_EQ(cutter->HeldBytes(), 0);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  const StreamBuffer more("\xFF\xFB\x90\x00", 4);
  cutter->OnAudio(more);
  const size_t seen = log.events.size();
  cutter.reset();
  EXPECT_EQ(log.events.size(), seen);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
}

// A writer that fails a block loses that block only; the stop's flush
// neither throws nor loses the rest.
TEST_F(SilenceCutterTest, FailingWriterLosesOnlyTheFailedBlocks) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{8, kTone}, {0.3}, {4, kOtherTone}});
  log.failAtBlock = 5;
  SilenceCutter cutter(log, options);
  Playback playback;
  EXPECT_THROW(Play(cutter, "mp3", audio.bytes, {{0, "A"}, {70000, "B"}}, 8192, false, &playback),
               std::runtime_error);
  log.failAtBlock = log.blocks + 2;
  EXPECT_NO_THROW(cutter.OnText(StreamEvent::State, "Error on connecting"));
  EXPECT_EQ(cutter.HeldBytes(), 0);
  EXPECT_EQ(log.events.back().text, "Error on connecting");
  ASSERT_EQ(log.failures.size(), 2u);
  std::string expected = audio.bytes.substr(0, playback.fed);
  for (const auto& [at, size] : log.failures) {  // each `at` counts without the bytes lost before it
    expected.erase(at, size);
  }
  EXPECT_TRUE(SameBytes(log.audio, expected));
}

// Through the writer: the old song's file ends in the gap, the new one
// begins there, and together they are the stream, with no overlap.
TEST_F(SilenceCutterTest, WriterFilesMeetInTheGap) {
  const SongAudio audio = Songs(SongCodec::Mp3, {{6, kTone}, {0.6}, {6, kOtherTone}});
  RecordingWriter writer;
  writer.SetDirectory(temp.File("out"));
  options.keepPartialApart = false;  // both songs are partial here
  writer.SetRecordingOptions(options);
  {
    SilenceCutter cutter(writer, options);
    Play(cutter, "mp3", audio.bytes, {{0, "A"}, {audio.OffsetNearMs(audio.parts[2].startMs + 1500) + 1, "B"}},
         16000);
  }
  const std::string first = ReadFileBytes(temp.Path() / "out" / "A.mp3");
  const std::string second = ReadFileBytes(temp.Path() / "out" / "B.mp3");
  EXPECT_TRUE(SameBytes(first + second, audio.bytes));
  const size_t frame = audio.FrameAtOffset(first.size());
  ASSERT_LT(frame, audio.frames.size());
  EXPECT_GT(audio.frames[frame].startMs, audio.silences[0].startMs);
  EXPECT_LT(audio.frames[frame].startMs, audio.silences[0].endMs);
}

// Behind a real stream: the worker feeds the cutter, the test thread watches
// HeldBytes, and the stop from this thread flushes everything into place.
TEST_F(SilenceCutterTest, BehindAStreamEverythingArrivesAndTheStopFlushes) {
  struct Tap : StreamObserver {
    void OnAudio(const StreamBuffer& block) override { bytes += block.Size(); }
    std::atomic<int64_t> bytes{0};
  };
  const SongAudio audio = Songs(SongCodec::Mp3, {{6, kTone}, {0.5}, {10, kOtherTone}});
  const size_t change = audio.OffsetNearMs(audio.parts[2].startMs + 2000);
  IcyTestServer server;
  IcyResponse response{"ICY 200 OK\r\ncontent-type: audio/mpeg\r\nicy-metaint:8192\r\n\r\n",
                       InterleaveMetadata(audio.bytes, 8192, {{0, "A"}, {change, "B"}})};
  response.stall = true;
  server.Push(response);
  Tap tap;
  SilenceCutter cutter(log, options);
  ServerStream stream;
  stream.SetUrl(server.Url("/live"));
  stream.AddObserver(&tap);
  stream.AddObserver(&cutter);
  stream.Toggle();
  // The stream hands on the last, partial interval only when the response ends.
  const auto whole = static_cast<int64_t>(audio.bytes.size() / 8192 * 8192);
  int64_t maxHeld = 0;
  EXPECT_TRUE(Eventually([&] {
    maxHeld = std::max(maxHeld, cutter.HeldBytes());
    return tap.bytes.load() == whole;
  }));
  EXPECT_GT(maxHeld, 0);
  stream.Stop();
  EXPECT_EQ(cutter.HeldBytes(), 0);
  EXPECT_TRUE(SameBytes(log.audio, audio.bytes));
  const auto titles = log.Titles();
  ASSERT_GE(titles.size(), 2u);
  EXPECT_EQ(titles[1].text, "B");
  EXPECT_NEAR(CutMs(audio, titles[1]), audio.silences[0].MiddleMs(), audio.frameMs / 2 + 10);
}

}  // namespace

// The recorder's console lines, from a stream's events.
#include "cli/ConsoleReporter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/StreamBuffer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::ElementsAreArray;

// A stream event, or a block of audio.
using Event = std::pair<StreamEvent, std::string>;

constexpr StreamEvent kAudioKind = static_cast<StreamEvent>(0);
const Event kAudio{kAudioKind, ""};

std::vector<std::string> LinesFor(const std::vector<Event>& events, std::chrono::milliseconds retryReport = 10s) {
  ConsoleReporter reporter("1", "http://x/", nullptr, retryReport);
  const StreamBuffer audio("abcd", 4);
  for (const auto& [kind, text] : events) {
    if (kind == kAudioKind) {
      reporter.OnAudio(audio);
    } else {
      reporter.OnText(kind, text);
    }
  }
  return reporter.TakeLines();
}

Event State(const char* text) { return {StreamEvent::State, text}; }
Event Reason(const std::string& text) { return {StreamEvent::Reason, text}; }

// Attempts as the stream makes them, times over.
std::vector<Event> Times(int times, const std::vector<Event>& attempt) {
  std::vector<Event> events;
  for (int i = 0; i < times; ++i) {
    events.insert(events.end(), attempt.begin(), attempt.end());
  }
  return events;
}
std::vector<Event> operator+(std::vector<Event> first, const std::vector<Event>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}
std::vector<Event> Refused(const std::string& why, int times = 1) {
  return Times(times, {State("Connecting"), Reason(why), State("Error on connecting")});
}
const char* const kBad = "metadata interval out of range (-5)";
// Connected, then refused for what the server sent (a bad icy-metaint).
const std::vector<Event> kConnectedThenRefused = {State("Connecting"), Reason(""), State("Connected"), Reason(kBad),
                                                  State("Error on connecting")};
const std::string kBadLine = std::string("Error on connecting: ") + kBad;

struct FailureRow {
  const char* what;
  std::vector<Event> events;
  std::vector<std::string> lines;  // after "[1] http://x/: "
  std::chrono::milliseconds reminder = 10s;
};
void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.what; }

class ConsoleReporterFailureTest : public testing::TestWithParam<FailureRow> {};

TEST_P(ConsoleReporterFailureTest, AReasonIsSaidOnceThenCountedAndTheCountSaidWhenItEnds) {
  std::vector<std::string> expected;
  for (const auto& line : GetParam().lines) {
    expected.push_back("[1] http://x/: " + line);
  }
  EXPECT_THAT(LinesFor(GetParam().events, GetParam().reminder), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ConsoleReporterFailureTest,
    testing::Values(
        FailureRow{"refused, then recovered",
                   Refused("refused", 5) + std::vector<Event>{State("Connecting"), State("Connected"), kAudio},
                   {"Connecting", "Error on connecting: refused; retrying every second",
                    "Error on connecting: refused (repeated 4 times)", "Connected"}},
        FailureRow{"a bad header value every second, then stopped",
                   Times(41, kConnectedThenRefused) + std::vector<Event>{State("Disconnected")},
                   {"Connecting", "Connected", kBadLine + "; retrying every second", kBadLine + " (repeated 40 times)",
                    "Disconnected"}},
        FailureRow{"the reason changes",
                   Refused("HTTP 404", 3) + Refused("refused") + Refused("HTTP 404"),
                   {"Connecting", "Error on connecting: HTTP 404; retrying every second",
                    "Error on connecting: HTTP 404 (repeated 2 times)",
                    "Error on connecting: refused; retrying every second",
                    "Error on connecting: HTTP 404; retrying every second"}},
        FailureRow{"another state, same reason",
                   Refused("no memory") + std::vector<Event>{State("Error when preparing buffer")},
                   {"Connecting", "Error on connecting: no memory; retrying every second",
                    "Error when preparing buffer: no memory; retrying every second"}},
        FailureRow{"audio between two failures",
                   kConnectedThenRefused + std::vector<Event>{State("Connecting"), State("Connected"), kAudio} +
                       std::vector<Event>{State("Error on connecting")},
                   {"Connecting", "Connected", kBadLine + "; retrying every second", "Connected",
                    kBadLine + "; retrying every second"}},
        FailureRow{"a long streak is recalled",
                   Refused("host not found", 3),
                   {"Connecting", "Error on connecting: host not found; retrying every second",
                    "Error on connecting: host not found (repeated 1 time so far)",
                    "Error on connecting: host not found (repeated 2 times so far)"},
                   0ms}));

TEST(ConsoleReporterTest, AFileFailureForFileAfterFileIsSaidOnceAndCountedUntilAFileCanBeCreated) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "blocked", "x");
  RecordingWriter writer;
  writer.SetDirectory((dir.Path() / "blocked" / "sub").string());
  ConsoleReporter reporter("1", "http://x/", &writer);
  const StreamBuffer audio("abcd", 4);
  const auto song = [&](const std::string& title) {
    for (StreamObserver* observer : {static_cast<StreamObserver*>(&writer), static_cast<StreamObserver*>(&reporter)}) {
      observer->OnText(StreamEvent::Title, title);
      observer->OnAudio(audio);
    }
  };
  for (const char* title : {"A", "B", "C"}) {
    song(title);
  }
  writer.SetDirectory(dir.Path().string());
  song("D");
  const std::string failure = "[1] http://x/: cannot record to " + (dir.Path() / "blocked" / "sub").string() + ": Not a directory";
  EXPECT_THAT(reporter.TakeLines(),
              ElementsAre("[1] http://x/: title \"A\"", failure, "[1] http://x/: title \"B\"",
                          "[1] http://x/: title \"C\"", "[1] http://x/: title \"D\"", failure + " (repeated 2 times)"));
}

TEST(ConsoleReporterTest, ACleanStopSaysDisconnectedOnce) {
  EXPECT_THAT(LinesFor({State("Connecting"), State("Connected"), State("Disconnected"), State("Disconnected"), {StreamEvent::Title, ""}}),
              ElementsAre("[1] http://x/: Connecting", "[1] http://x/: Connected", "[1] http://x/: Disconnected"));
}

TEST(ConsoleReporterTest, ServerTextCannotSteerTheTerminal) {
  EXPECT_THAT(LinesFor({{StreamEvent::Title, "Song\x1b[2J\rX"},
                        {StreamEvent::Name, "Radio\x1b]0;owned\x07"},
                        {StreamEvent::Bitrate, "128\x9b"},
                        Reason("HTTP 500 \x1b[31mOops"),
                        State("Error on connecting")}),
              ElementsAre("[1] http://x/: title \"Song\\x1b[2J\\x0dX\"",
                          "[1] http://x/: station \"Radio\\x1b]0;owned\\x07\"",
                          // A lone 0x9b is no UTF-8: read as Windows-1252 it is a harmless quote.
                          "[1] http://x/: bit rate 128\xE2\x80\xBA kbit/s",
                          "[1] http://x/: Error on connecting: HTTP 500 \\x1b[31mOops; retrying every second"));
}

TEST(ConsoleReporterTest, AStreamAPlaylistLedToIsNamedWhenItChangesWithThePlaylistsStation) {
  const Event source1{StreamEvent::Source, "http://s1/live"};
  const Event source2{StreamEvent::Source, "http://s2/live"};
  const Event station{StreamEvent::Station, "Playlist FM"};
  EXPECT_THAT(LinesFor({source1, station, State("Connected"), State("Error on connecting"), source1, station,
                        source2, station}),
              ElementsAre("[1] http://x/: stream http://s1/live", "[1] http://x/: station \"Playlist FM\"",
                          "[1] http://x/: Connected", "[1] http://x/: Error on connecting; retrying every second",
                          "[1] http://x/: stream http://s2/live"));
  // Without a playlist the station text only names untitled files; an HLS
  // playlist given as the entry's URL is no news either.
  EXPECT_THAT(LinesFor({station, {StreamEvent::Source, "http://x/"}, station}), ElementsAre());
}

TEST(ConsoleReporterTest, TheLastLineNamesEveryEntryThatRecordedNothing) {
  ConsoleReporter first("1", "http://a/", nullptr);
  ConsoleReporter second("2", "http://b/\x1b", nullptr);
  second.OnText(StreamEvent::Reason, "HTTP 404 Not Found");
  EXPECT_EQ(ConsoleReporter::NothingRecordedLine({&first, &second}),
            "nothing recorded from http://a/ (no audio arrived), http://b/\\x1b (HTTP 404 Not Found)");
  EXPECT_EQ(ConsoleReporter::NothingRecordedLine({}), "");
}

}  // namespace

// The recorder's console lines, from a stream's events.
#include "cli/ConsoleReporter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;

using Event = std::pair<StreamEvent, std::string>;

std::vector<std::string> LinesFor(const std::vector<Event>& events, std::chrono::milliseconds retryReport = 10s) {
  ConsoleReporter reporter(1, "http://x/", nullptr, retryReport);
  for (const auto& [kind, text] : events) {
    reporter.OnText(kind, text);
  }
  return reporter.TakeLines();
}

Event State(const char* text) { return {StreamEvent::State, text}; }
Event Reason(const std::string& text) { return {StreamEvent::Reason, text}; }

TEST(ConsoleReporterTest, AFailingStreamSaysWhyOnceAndAgainOnlyWhenTheReasonChanges) {
  EXPECT_THAT(LinesFor({State("Connecting"), Reason("HTTP 404 Not Found"), State("Error on connecting"), State("Connecting"), Reason("HTTP 404 Not Found"),
                        State("Error on connecting"), State("Connecting"), Reason("connection refused"), State("Error on connecting"), State("Connecting"), Reason(""),
                        State("Connected")}),
              ElementsAre("[1] http://x/: Connecting",
                          "[1] http://x/: Error on connecting: HTTP 404 Not Found; retrying every second",
                          "[1] http://x/: Error on connecting: connection refused; retrying every second",
                          "[1] http://x/: Connected"));
  // With the report interval passed at every attempt, the retries are counted.
  EXPECT_THAT(LinesFor({State("Connecting"), Reason("host not found"), State("Error on connecting"), State("Connecting"), State("Error on connecting"), State("Connecting"), State("Error on connecting")},
                       0ms),
              ElementsAre("[1] http://x/: Connecting",
                          "[1] http://x/: Error on connecting: host not found; retrying every second",
                          "[1] http://x/: Error on connecting: host not found (retried 1 time)",
                          "[1] http://x/: Error on connecting: host not found (retried 2 times)"));
}

TEST(ConsoleReporterTest, AConnectionThatFailsAgainForTheSameReasonIsOnlyCounted) {
  // A bad metadata interval: connected, then refused, every second.
  std::vector<Event> events = {State("Connecting"), State("Connected")};
  for (int attempt = 0; attempt < 4; ++attempt) {
    events.insert(events.end(), {Reason("metadata interval out of range (-5)"), State("Error on connecting"),
                                 State("Connecting"), State("Connected")});
  }
  EXPECT_THAT(LinesFor(events),
              ElementsAre("[1] http://x/: Connecting", "[1] http://x/: Connected",
                          "[1] http://x/: Error on connecting: metadata interval out of range (-5); retrying every second",
                          "[1] http://x/: Connected"));
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
  ConsoleReporter first(1, "http://a/", nullptr);
  ConsoleReporter second(2, "http://b/\x1b", nullptr);
  second.OnText(StreamEvent::Reason, "HTTP 404 Not Found");
  EXPECT_EQ(ConsoleReporter::NothingRecordedLine({&first, &second}),
            "nothing recorded from http://a/ (no audio arrived), http://b/\\x1b (HTTP 404 Not Found)");
  EXPECT_EQ(ConsoleReporter::NothingRecordedLine({}), "");
}

}  // namespace

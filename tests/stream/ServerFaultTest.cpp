// ServerStream against servers that misbehave: every fault ends the attempt
// with "Error on connecting", the stream retries, the audio recorded before
// the fault stays on disk, and a stop returns at once whatever the server
// is doing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

class Collector : public StreamObserver {
 public:
  void OnAudio(const StreamBuffer& audio) override {
    std::lock_guard<std::mutex> lock(mutex);
    this->audio.append(reinterpret_cast<const char*>(audio.Data()), static_cast<size_t>(audio.Size()));
  }
  void OnText(StreamEvent kind, std::string text) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (kind == StreamEvent::State) {
      states.push_back(text);
    }
  }
  std::string Audio() const {
    std::lock_guard<std::mutex> lock(mutex);
    return audio;
  }
  size_t Count(const std::string& state) const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const auto& s : states) {
      n += s == state ? 1 : 0;
    }
    return n;
  }

 private:
  mutable std::mutex mutex;
  std::string audio;
  std::vector<std::string> states;
};

const std::string kHead = "ICY 200 OK\r\nicy-name:Fault FM\r\nicy-metaint:1000\r\n\r\n";
const std::string kTitle = "Before the fault";

std::string MetaintHead(const std::string& interval) {
  return "ICY 200 OK\r\nicy-name:Fault FM\r\nicy-metaint:" + interval + "\r\n\r\n";
}

// What one run against a faulty server left behind.
struct FaultOutcome {
  std::string audio;  // every audio byte the stream delivered
  std::string file;   // the recording on disk
  size_t errors = 0;
  size_t requests = 0;
};

// A good response (3000 audio bytes, a title, then the server closes) and
// after it the fault, served again on every retry. The stream gives up on a
// transfer slower than 100 bytes per second for 1 s, so stalls end quickly.
// File Splitting is off: one file receives the audio, except that audio
// after a reconnect that does not continue it starts a "(n)" file. The fault
// is served alike on every retry, so the writer skips its later copies as
// repeats of what it has written.
FaultOutcome RunAgainst(const IcyResponse& fault, const std::string& goodAudio) {
  IcyTestServer server;
  server.Push({kHead, InterleaveMetadata(goodAudio, 1000, {{0, kTitle}})});
  server.Push(fault);
  TempDir directory;
  RecordingWriter writer;
  writer.SetDirectory(directory.Path().string());
  writer.SetFileSplitting(false);
  Collector collector;
  FaultOutcome outcome;
  {
    ServerStream stream;
    stream.SetUrl(server.Url("/stream"));
    stream.SetStallLimit(100, 1);
    stream.AddObserver(&writer);
    stream.AddObserver(&collector);
    stream.Toggle();
    // The good response ends in an error too; the fault must bring a second
    // one and a retry after it.
    EXPECT_TRUE(Eventually([&] { return collector.Count("Error on connecting") >= 2 && server.Requests().size() >= 3; }));
    EXPECT_TRUE(ReturnsWithin([&] { stream.Stop(); }));
    stream.ClearObservers();
  }
  writer.Reset();  // closes the file
  outcome.audio = collector.Audio();
  outcome.file = ReadFileBytes(directory.Path() / (kTitle + ".mp3"));
  for (int n = 1; std::filesystem::exists(directory.Path() / (kTitle + "(" + std::to_string(n) + ").mp3")); ++n) {
    outcome.file += ReadFileBytes(directory.Path() / (kTitle + "(" + std::to_string(n) + ").mp3"));
  }
  outcome.errors = collector.Count("Error on connecting");
  outcome.requests = server.Requests().size();
  return outcome;
}

// A stream with the default stall limit, stopped while the fault is going on.
void ExpectPromptStop(const IcyResponse& fault) {
  IcyTestServer server;
  server.Push(fault);
  Collector collector;
  ServerStream stream;
  stream.SetUrl(server.Url("/stream"));
  stream.AddObserver(&collector);
  stream.Toggle();
  ASSERT_TRUE(server.WaitForRequests(1));
  // Inside the fault: a head that ends has been read (connected, or already
  // refused); a head that never ends keeps the stream connecting.
  if (fault.head.find("\r\n\r\n") != std::string::npos) {
    ASSERT_TRUE(Eventually([&] { return collector.Count("Connected") + collector.Count("Error on connecting") > 0; }));
  }
  EXPECT_TRUE(ReturnsWithin([&] { stream.Stop(); }));
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);
}

class ServerFaultTest : public testing::Test {
 protected:
  // Runs the fault; the good audio and exactly what the stream delivered
  // after it must be on disk.
  FaultOutcome Expect(const IcyResponse& fault) {
    FaultOutcome outcome = RunAgainst(fault, goodAudio);
    EXPECT_GE(outcome.errors, 2u);
    EXPECT_GE(outcome.requests, 3u);
    EXPECT_EQ(outcome.audio.substr(0, goodAudio.size()), goodAudio);
    // The files hold the good audio, then what the first faulty attempt
    // delivered.
    EXPECT_TRUE(outcome.file.substr(0, goodAudio.size()) == goodAudio);
    const std::string faultFiles = outcome.file.substr(std::min(outcome.file.size(), goodAudio.size()));
    const std::string faultAudio = outcome.audio.substr(goodAudio.size());
    EXPECT_TRUE(faultAudio.substr(0, faultFiles.size()) == faultFiles);
    EXPECT_EQ(faultFiles.empty(), faultAudio.empty());
    ExpectPromptStop(fault);
    return outcome;
  }

  const std::string goodAudio = TestBytes(3000, 7);
};

TEST_F(ServerFaultTest, HeaderBlockThatStallsOrNeverEndsIsAbandoned) {
  IcyResponse stalled{"ICY 200 OK\r\nicy-name:Fault FM\r\nicy-met", "", IcyResponse::kEverything, true};
  EXPECT_TRUE(Expect(stalled).audio == goodAudio);

  std::string endless = "ICY 200 OK\r\n";
  while (endless.size() < 200 * 1024) {
    endless += "x-filler: " + std::string(60, 'f') + "\r\n";
  }
  EXPECT_TRUE(Expect({endless, "", IcyResponse::kEverything, true}).audio == goodAudio);

  IcyResponse silent{"", "", IcyResponse::kEverything, true};  // accepts, reads the request, never answers
  EXPECT_TRUE(Expect(silent).audio == goodAudio);
}

TEST_F(ServerFaultTest, ExtremeMetadataIntervalsAreRecordedOrRefused) {
  // 0: no metadata at all, every body byte is audio.
  const std::string raw = TestBytes(5000, 9);
  const FaultOutcome none = Expect({MetaintHead("0"), raw});
  EXPECT_EQ(none.audio.substr(goodAudio.size(), raw.size()), raw);

  // 1: a length byte after every audio byte; the title block goes by as well.
  const std::string tiny = TestBytes(600, 10);
  const FaultOutcome one = Expect({MetaintHead("1"), InterleaveMetadata(tiny, 1, {{0, "Tiny"}})});
  EXPECT_EQ(one.audio.substr(goodAudio.size(), tiny.size()), tiny);

  // 2^31-1: beyond what a stream may ask for; refused before any audio.
  const FaultOutcome huge = Expect({MetaintHead("2147483647"), TestBytes(5000, 11)});
  EXPECT_TRUE(huge.audio == goodAudio);
}

TEST_F(ServerFaultTest, MetadataBlockLongerThanTheRestOfTheStreamLosesNoAudio) {
  const std::string audio = TestBytes(1000, 12);
  // Length byte 255 announces 4080 bytes; 100 follow before the server closes.
  const FaultOutcome outcome = Expect({kHead, audio + std::string(1, '\xff') + std::string(100, 'm')});
  EXPECT_EQ(outcome.audio.substr(goodAudio.size(), audio.size()), audio);
}

TEST_F(ServerFaultTest, ConnectionResetInsideABlockKeepsEveryAudioByteBeforeIt) {
  const std::string audio = TestBytes(5000, 13);
  IcyResponse reset{kHead, InterleaveMetadata(audio, 1000, {{0, "Reset"}})};
  reset.closeAfter = kHead.size() + 2500;  // inside the third audio block
  reset.reset = true;
  const FaultOutcome outcome = Expect(reset);
  // 2500 body bytes: two blocks, a 49-byte title block, a length byte 0 and
  // 450 bytes of the broken block, which are kept too; every retry alike.
  const size_t perAttempt = 2450;
  EXPECT_EQ((outcome.audio.size() - goodAudio.size()) % perAttempt, 0u);
  EXPECT_EQ(outcome.audio.substr(goodAudio.size(), perAttempt), audio.substr(0, perAttempt));
}

TEST_F(ServerFaultTest, RedirectLoopEndsTheAttempt) {
  EXPECT_TRUE(Expect(IcyResponse::Redirect("/stream")).audio == goodAudio);
}

TEST_F(ServerFaultTest, TrickleOfOneBytePerSecondIsRecordedUntilTheStallLimit) {
  const std::string audio = TestBytes(1100, 14);
  const std::string body = InterleaveMetadata(audio, 1000, {{0, "Slow"}});
  IcyResponse trickle{kHead, body};
  trickle.paceAfter = kHead.size() + 1000 + MetadataBlock(StreamTitleText("Slow")).size();
  trickle.pieceSize = 1;
  trickle.pieceDelay = 1s;
  const FaultOutcome outcome = Expect(trickle);
  EXPECT_EQ(outcome.audio.substr(goodAudio.size(), 1000), audio.substr(0, 1000));
}

}  // namespace

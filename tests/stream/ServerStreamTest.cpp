// ServerStream against the loopback ICY server: connection, retry, stop.
#include "stream/ServerStream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/StreamBuffer.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"

namespace {

using namespace std::chrono_literals;

// Collects what a stream reports, from whichever thread reports it.
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
    } else if (kind == StreamEvent::Title) {
      titles.push_back(text);
    } else if (kind == StreamEvent::Name) {
      names.push_back(text);
    }
  }

  std::string Audio() const {
    std::lock_guard<std::mutex> lock(mutex);
    return audio;
  }
  std::vector<std::string> States() const {
    std::lock_guard<std::mutex> lock(mutex);
    return states;
  }
  std::vector<std::string> Titles() const {
    std::lock_guard<std::mutex> lock(mutex);
    return titles;
  }
  std::vector<std::string> Names() const {
    std::lock_guard<std::mutex> lock(mutex);
    return names;
  }
  size_t Count(const std::string& state) const {
    const auto all = States();
    return static_cast<size_t>(std::count(all.begin(), all.end(), state));
  }

 private:
  mutable std::mutex mutex;
  std::string audio;
  std::vector<std::string> states;
  std::vector<std::string> titles;
  std::vector<std::string> names;
};

const std::string kHead = "ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-br:128\r\nicy-metaint:1000\r\n\r\n";

class ServerStreamTest : public testing::Test {
 protected:
  void Start(const std::string& url) {
    stream.SetUrl(url);
    stream.AddObserver(&collector);
    stream.Toggle();
  }

  IcyTestServer server;
  Collector collector;
  ServerStream stream;
};

TEST_F(ServerStreamTest, RecordsExactlyTheAudioBytesAndTheTitles) {
  const std::string audio = TestBytes(40000);
  server.Push({kHead, InterleaveMetadata(audio, 1000, {{0, "First"}, {15000, "Second"}, {30000, "Third"}}),
               IcyResponse::kEverything, true});
  Start(server.Url("/stream"));

  ASSERT_TRUE(Eventually([&] { return collector.Audio().size() >= audio.size(); }));
  stream.Stop();
  EXPECT_TRUE(collector.Audio() == audio.substr(0, collector.Audio().size()));
  EXPECT_THAT(collector.Titles(), testing::ElementsAre("First", "Second", "Third", ""));
  EXPECT_THAT(collector.Names(), testing::ElementsAre("Loopback FM"));
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);

  const std::string request = server.Request(0);
  EXPECT_NE(request.find("icy-metadata:1\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("Accept: text/*\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("User-Agent: winamp\r\n"), std::string::npos) << request;
  EXPECT_EQ(request.find("User-Agent"), request.rfind("User-Agent")) << request;
}

TEST_F(ServerStreamTest, DroppedConnectionReconnectsWithNoOldBytesInFront) {
  const std::string first = TestBytes(5000, 1);
  const std::string second = TestBytes(5000, 2);
  // The first response breaks in the middle of an audio block.
  const std::string firstBody = InterleaveMetadata(first, 1000, {{0, "One"}});
  server.Push({kHead, firstBody, kHead.size() + 2500});
  server.Push({kHead, InterleaveMetadata(second, 1000, {{0, "Two"}}), IcyResponse::kEverything, true});
  Start(server.Url("/stream"));

  // 2500 body bytes: two blocks, the 33-byte title block, a length byte 0
  // and 466 bytes of the third block, which are audio all the same.
  const size_t firstAudio = 2466;
  ASSERT_TRUE(Eventually([&] { return collector.Audio().size() >= firstAudio + 4000; }));
  stream.Stop();
  // The second response's audio follows from its first byte.
  EXPECT_TRUE(collector.Audio() ==
              first.substr(0, firstAudio) + second.substr(0, collector.Audio().size() - firstAudio));
  EXPECT_GE(collector.Count("Error on connecting"), 1u);
  EXPECT_GE(collector.Count("Connected"), 2u);
  EXPECT_THAT(collector.Names(), testing::ElementsAre("Loopback FM", "Loopback FM"));
  EXPECT_THAT(collector.Titles(), testing::ElementsAre("One", "Two", ""));
}

TEST_F(ServerStreamTest, ErrorAnswersAndEndedStreamsAreRetriedNotRecorded) {
  for (const char* head : {"HTTP/1.0 404 Not Found\r\n\r\n", "HTTP/1.1 503 Service Unavailable\r\n\r\n",
                           "ICY 401 Unauthorized\r\n\r\n"}) {
    IcyTestServer failing;
    failing.Push({head, "<html>error page</html>"});
    Collector observer;
    ServerStream errorStream;
    errorStream.SetUrl(failing.Url("/stream"));
    errorStream.AddObserver(&observer);
    errorStream.Toggle();
    ASSERT_TRUE(Eventually([&] { return observer.Count("Error on connecting") >= 2; }, 20s)) << head;
    errorStream.Stop();
    EXPECT_EQ(observer.Count("Connected"), 0u) << head;
    EXPECT_GE(observer.Count("Error on connecting"), 2u) << head;
    EXPECT_EQ(observer.Audio(), "") << head;
  }

  // A stream that ends is a lost connection: an error, then a new request,
  // every time; never read on in a busy loop, never asked for again without
  // the error in between.
  server.Push({kHead, InterleaveMetadata(TestBytes(3000), 1000, {{0, "Short"}})});
  Start(server.Url("/short"));
  ASSERT_TRUE(server.WaitForRequests(2, 20s));
  const size_t requestsBefore = server.Requests().size();
  ASSERT_TRUE(server.WaitForRequests(requestsBefore + 2, 20s));
  stream.Stop();
  const size_t requests = server.Requests().size();
  const size_t errors = collector.Count("Error on connecting");
  EXPECT_GE(errors + 1, requests);  // the last request may have been cut short by the stop
  EXPECT_LE(errors, requests);
}

TEST_F(ServerStreamTest, UnreachableServerAlternatesConnectingAndError) {
  RefusingPort refusing;
  Start(refusing.Url("/stream"));
  ASSERT_TRUE(Eventually([&] { return collector.Count("Error on connecting") >= 2; }));
  stream.Stop();
  const auto states = collector.States();
  // Connecting / Error pairs, then the stop.
  ASSERT_GE(states.size(), 5u);
  for (size_t i = 0; i + 1 < states.size() && states[i] != "Disconnected"; i += 2) {
    EXPECT_EQ(states[i], "Connecting") << i;
    EXPECT_EQ(states[i + 1], "Error on connecting") << i;
  }
  EXPECT_EQ(states.back(), "Disconnected");
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);
}

TEST_F(ServerStreamTest, StopReturnsPromptlyWhereverTheWorkerWaits) {
  // Connecting: the server accepts and never answers.
  server.Push({"", "", IcyResponse::kEverything, true});
  Start(server.Url("/silent"));
  ASSERT_TRUE(server.WaitForRequests(1));
  EXPECT_TRUE(ReturnsWithin([&] { stream.Stop(); }));
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);

  // Blocked in a read: the head arrives, then nothing.
  IcyTestServer stalling;
  stalling.Push({kHead, "", IcyResponse::kEverything, true});
  Collector readingObserver;  // outlives the stream that reports to it
  ServerStream reading;
  reading.SetUrl(stalling.Url("/stall"));
  reading.AddObserver(&readingObserver);
  reading.Toggle();
  ASSERT_TRUE(Eventually([&] { return readingObserver.Count("Connected") == 1; }));
  EXPECT_TRUE(ReturnsWithin([&] { reading.Stop(); }));
  EXPECT_EQ(readingObserver.Titles().back(), "");

  // Between attempts, in the pause after an error.
  RefusingPort refusing;
  Collector retryingObserver;
  ServerStream retrying;
  retrying.SetUrl(refusing.Url());
  retrying.AddObserver(&retryingObserver);
  retrying.Toggle();
  ASSERT_TRUE(Eventually([&] { return retryingObserver.Count("Error on connecting") >= 1; }));
  EXPECT_TRUE(ReturnsWithin([&] { retrying.Stop(); }));

  // Destroying a running stream stops it as well.
  IcyTestServer another;
  another.Push({kHead, "", IcyResponse::kEverything, true});
  auto doomed = std::make_unique<ServerStream>();
  doomed->SetUrl(another.Url());
  doomed->Toggle();
  ASSERT_TRUE(another.WaitForRequests(1));
  EXPECT_TRUE(ReturnsWithin([&] { doomed.reset(); }));
}

// A stop is two steps (the stopped flag with the closed connection, then the
// join); the worker may end in between, reporting the aborted read last.
// Whenever it ends, a stopped stream's last state is Disconnected.
TEST_F(ServerStreamTest, AWorkerThatEndsBeforeTheJoinStillEndsDisconnected) {
  server.Push({kHead, "", IcyResponse::kEverything, true});
  Start(server.Url("/stall"));
  ASSERT_TRUE(Eventually([&] { return collector.Count("Connected") == 1; }));

  stream.RequestStop();
  // The worker's last word is the empty title.
  ASSERT_TRUE(Eventually([&] { return !collector.Titles().empty() && collector.Titles().back().empty(); }));
  EXPECT_EQ(collector.States().back(), "Disconnected");
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);
  stream.Stop();
  EXPECT_EQ(collector.States().back(), "Disconnected");
}

TEST_F(ServerStreamTest, ChunkedAndRedirectedResponsesDeliverTheSameEvents) {
  const std::string audio = TestBytes(8000);
  const std::string body = InterleaveMetadata(audio, 1000, {{0, "Alpha"}, {4000, "Beta"}});
  const auto record = [&](IcyTestServer& source) {
    Collector observer;
    ServerStream recording;
    recording.SetUrl(source.Url("/stream"));
    recording.AddObserver(&observer);
    recording.Toggle();
    EXPECT_TRUE(Eventually([&] { return observer.Audio().size() >= audio.size(); }));
    recording.Stop();
    return std::make_pair(observer.Audio(), observer.Titles());
  };

  IcyTestServer plain;
  plain.Push({kHead, body, IcyResponse::kEverything, true});
  const auto expected = record(plain);
  EXPECT_TRUE(expected.first == audio) << expected.first.size() << " bytes";
  EXPECT_THAT(expected.second, testing::ElementsAre("Alpha", "Beta", ""));

  IcyTestServer chunked;
  chunked.Push({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nicy-name:Loopback FM\r\nicy-metaint:1000\r\n\r\n",
                ChunkedBody(body, 777), IcyResponse::kEverything, true});
  EXPECT_TRUE(record(chunked) == expected);

  IcyTestServer redirected;
  redirected.Push(IcyResponse::Redirect("/elsewhere"));
  redirected.Push({kHead, body, IcyResponse::kEverything, true});
  EXPECT_TRUE(record(redirected) == expected);
}

TEST_F(ServerStreamTest, SetUrlKeepsTheReadSizeAndResetsAStoppedStream) {
  stream.SetReadSize(8192);
  stream.SetUrl(server.Url("/a"));
  EXPECT_EQ(stream.ReadSize(), 8192);
  EXPECT_EQ(stream.Url(), server.Url("/a"));
  EXPECT_TRUE(stream.IsStopped());
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);
}

}  // namespace

#include "stream/StreamSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "stream/StreamBuffer.h"

namespace {

using namespace std::chrono_literals;

// A stream without a network: the test calls the notifications directly, or
// lets the worker deliver a scripted sequence.
class FakeSource : public StreamSource {
 public:
  ~FakeSource() override { StopWorker(); }

  void Run() override {
    SetState(StreamState::Connecting);
    SetState(StreamState::Connected);
    StreamBuffer audio("abcd", 4);
    while (!IsStopRequested()) {
      DeliverAudio(&audio);
      Notify(StreamEvent::Title, "song");
      std::this_thread::sleep_for(1ms);
    }
    Notify(StreamEvent::Title, "");
  }

  using StreamSource::AllocateReadBuffer;
  using StreamSource::DeliverAudio;
  using StreamSource::Notify;
  using StreamSource::ReadBuffer;
  using StreamSource::SetState;
  using StreamSource::StartWorker;
  using StreamSource::StopWorker;
};

// Writes every call as one line: "name:kind=text" or "name:audio=bytes".
class RecordingObserver : public StreamObserver {
 public:
  RecordingObserver(std::string name, std::vector<std::string>& log) : name(std::move(name)), log(log) {}
  void OnAudio(const StreamBuffer& audio) override {
    log.push_back(name + ":audio=" + std::string(reinterpret_cast<const char*>(audio.Data()), audio.Size()));
  }
  void OnText(StreamEvent kind, std::string text) override {
    log.push_back(name + ":" + std::to_string(static_cast<int>(kind)) + "=" + text);
  }

 private:
  std::string name;
  std::vector<std::string>& log;
};

class ThrowingObserver : public StreamObserver {
 public:
  void OnAudio(const StreamBuffer&) override { throw std::runtime_error("disk full"); }
  void OnText(StreamEvent kind, std::string) override {
    if (kind == StreamEvent::Title) {
      throw std::runtime_error("cannot create file");
    }
  }
};

constexpr int kTitle = 1, kState = 5, kReceived = 6, kComplete = 7;

std::string Line(const char* who, int kind, const std::string& text) {
  return std::string(who) + ":" + std::to_string(kind) + "=" + text;
}

TEST(StreamSourceTest, NewSourceIsDisconnectedWithDefaultReadSize) {
  FakeSource source;
  EXPECT_EQ(source.GetState(), StreamState::Disconnected);
  EXPECT_EQ(source.ReadSize(), 50000);
  source.SetReadSize(0);
  EXPECT_EQ(source.ReadSize(), 50000);
  source.SetReadSize(-5);
  EXPECT_EQ(source.ReadSize(), 50000);
  source.SetReadSize(8192);
  source.Reset();
  EXPECT_EQ(source.ReadSize(), 8192);
  ASSERT_TRUE(source.AllocateReadBuffer());
  EXPECT_NE(source.ReadBuffer(), nullptr);
  source.Reset();
  EXPECT_EQ(source.ReadBuffer(), nullptr);
}

TEST(StreamSourceTest, StateTextsIncludingValuesNeverEntered) {
  std::vector<std::string> log;
  RecordingObserver observer("w", log);
  FakeSource source;
  EXPECT_FALSE(source.AddObserver(nullptr));
  ASSERT_TRUE(source.AddObserver(&observer));
  source.SetState(static_cast<StreamState>(9));
  source.SetState(StreamState::Disconnecting);
  source.SetState(StreamState::ErrorPreparingBuffer);
  EXPECT_THAT(log, testing::ElementsAre(Line("w", kState, "Undefined"), Line("w", kState, "Disconnecting"),
                                        Line("w", kState, "Error when preparing buffer")));
  EXPECT_EQ(source.GetState(), StreamState::ErrorPreparingBuffer);
}

TEST(StreamSourceTest, CountersReachEveryObserverBeforeTheAudioAndEarlierObserversFirst) {
  std::vector<std::string> log;
  RecordingObserver writer("w", log);
  RecordingObserver presenter("p", log);
  FakeSource source;
  source.AddObserver(&writer);
  source.AddObserver(&presenter);

  std::string block(8192, 'x');
  StreamBuffer audio(block.data(), static_cast<int32_t>(block.size()));
  source.DeliverAudio(&audio);
  source.DeliverAudio(nullptr);  // nothing at all

  EXPECT_THAT(log, testing::ElementsAre(Line("w", kReceived, "8192"), Line("w", kComplete, "8192"),
                                        Line("p", kReceived, "8192"), Line("p", kComplete, "8192"),
                                        "w:audio=" + block, "p:audio=" + block));
}

TEST(StreamSourceTest, TitleChangeResetsReceivedBeforeTheNewTitleIsSeen) {
  std::vector<std::string> log;
  RecordingObserver writer("w", log);
  FakeSource source;
  source.AddObserver(&writer);
  StreamBuffer audio("abc", 3);

  source.Notify(StreamEvent::Title, "first");  // first title: no reset
  source.DeliverAudio(&audio);
  log.clear();
  source.Notify(StreamEvent::Title, "first");  // same title: seen again, counters untouched
  EXPECT_THAT(log, testing::ElementsAre(Line("w", kTitle, "first")));

  log.clear();
  source.Notify(StreamEvent::Title, "second");
  EXPECT_THAT(log, testing::ElementsAre(Line("w", kReceived, "0"), Line("w", kComplete, "3"),
                                        Line("w", kTitle, "second")));

  log.clear();
  source.DeliverAudio(&audio);
  source.Notify(StreamEvent::Title, "");  // an empty title after a real one resets as well
  EXPECT_THAT(log, testing::ElementsAre(Line("w", kReceived, "3"), Line("w", kComplete, "6"), "w:audio=abc",
                                        Line("w", kReceived, "0"), Line("w", kComplete, "6"),
                                        Line("w", kTitle, "")));
}

TEST(StreamSourceTest, ClearedObserversAreNeitherCalledNorDestroyed) {
  std::vector<std::string> log;
  RecordingObserver writer("w", log);
  FakeSource source;
  source.AddObserver(&writer);
  source.ClearObservers();
  StreamBuffer audio("abc", 3);
  source.DeliverAudio(&audio);
  source.Notify(StreamEvent::Title, "t");
  EXPECT_TRUE(log.empty());
}

TEST(StreamSourceTest, ThrowingObserverLeavesNoLockHeld) {
  ThrowingObserver thrower;
  FakeSource source;
  source.AddObserver(&thrower);
  StreamBuffer audio("abc", 3);
  EXPECT_THROW(source.DeliverAudio(&audio), std::runtime_error);
  EXPECT_THROW(source.Notify(StreamEvent::Title, "t"), std::runtime_error);

  // Another thread must be able to take the observer lock now.
  std::atomic<bool> done{false};
  std::thread other([&] {
    source.ClearObservers();
    done.store(true);
  });
  other.join();
  EXPECT_TRUE(done.load());
}

TEST(StreamSourceTest, WorkerEventsAreSerialisedWithTheControllingThread) {
  std::vector<std::string> log;
  RecordingObserver writer("w", log);
  FakeSource source;
  source.AddObserver(&writer);
  ASSERT_TRUE(source.StartWorker());
  for (int i = 0; i < 20; ++i) {
    source.Notify(StreamEvent::Name, "from the controlling thread");
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(source.StopWorker());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), Line("w", kTitle, ""));
  EXPECT_EQ(source.GetState(), StreamState::Connected);
}

}  // namespace

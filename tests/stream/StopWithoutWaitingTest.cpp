// A stop never waits for the worker: not while an observer sits in a disk
// write that hangs, nor while the network read hangs. Once the disk is
// released, every byte the stream took in before the stop still reaches
// the observer, and the stream ends Disconnected.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamReaper.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"

namespace {

using namespace std::chrono_literals;

// An observer whose OnAudio blocks, as a write to a hung disk does, for as
// long as the disk is hung; then it keeps the bytes.
class Disk : public StreamObserver {
 public:
  explicit Disk(bool hung = false) : hung(hung) {}
  ~Disk() override { destroyed.store(true); }

  void OnAudio(const StreamBuffer& audio) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++writers;
    changed.notify_all();
    changed.wait(lock, [this] { return !hung; });
    --writers;
    bytes.append(reinterpret_cast<const char*>(audio.Data()), static_cast<size_t>(audio.Size()));
  }
  void OnText(StreamEvent kind, std::string text) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (kind == StreamEvent::State) {
      states.push_back(text);
    } else if (kind == StreamEvent::Title) {
      titles.push_back(text);
    }
  }

  bool Blocked() const {
    std::lock_guard<std::mutex> lock(mutex);
    return writers > 0;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    hung = false;
    changed.notify_all();
  }
  std::string Bytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
  }
  std::vector<std::string> States() const {
    std::lock_guard<std::mutex> lock(mutex);
    return states;
  }
  std::vector<std::string> Titles() const {
    std::lock_guard<std::mutex> lock(mutex);
    return titles;
  }

  static inline std::atomic<bool> destroyed{false};

 private:
  mutable std::mutex mutex;
  std::condition_variable changed;
  bool hung;
  int writers = 0;
  std::string bytes;
  std::vector<std::string> states;
  std::vector<std::string> titles;
};

// Runs stop on a thread of its own; true when it returned while the disk
// was still hung. The disk is released afterwards either way, so that a
// stop that waits for it ends too.
bool ReturnsWhileHung(Disk& disk, const std::function<void()>& stop) {
  std::atomic<bool> returned{false};
  std::thread stopping([&] {
    stop();
    returned.store(true);
  });
  // A bound only a stop that waits for the disk misses.
  const bool before = Eventually([&] { return returned.load(); }, 10s);
  disk.Release();
  stopping.join();
  return before;
}

// A metadata interval of 1000: the first interval with its title, a second
// one, and 400 bytes of a third that the stop must hand on, all in one
// send; then the server sends nothing more.
const std::string kAudio = TestBytes(2400, 5);
IcyResponse StallingResponse() {
  const std::string body = InterleaveMetadata(kAudio, 1000, {{0, "One"}});
  return {"ICY 200 OK\r\nicy-metaint:1000\r\n\r\n", body, IcyResponse::kEverything, true};
}

struct StopCase {
  const char* name;
  bool diskHangs;  // else the network read hangs, the disk keeps up
  void (*stop)(ServerStream&);
};

class StopWithoutWaitingTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopWithoutWaitingTest, StopReturnsAtOnceAndEveryByteTakenInReachesTheDisk) {
  const StopCase& c = GetParam();
  IcyTestServer server;
  server.Push(StallingResponse());
  Disk disk(c.diskHangs);
  ServerStream stream;
  stream.SetUrl(server.Url("/stream"));
  stream.AddObserver(&disk);
  stream.Toggle();
  if (c.diskHangs) {
    ASSERT_TRUE(Eventually([&] { return disk.Blocked(); }));
  } else {
    // Two whole intervals written; the third waits for the rest of its block.
    ASSERT_TRUE(Eventually([&] { return disk.Bytes().size() == 2000; }));
  }

  EXPECT_TRUE(ReturnsWhileHung(disk, [&] { c.stop(stream); }));
  EXPECT_TRUE(stream.IsStopped());
  EXPECT_EQ(stream.GetState(), StreamState::Disconnected);

  ASSERT_TRUE(Eventually([&] { return stream.IsIdle(); }));
  EXPECT_EQ(disk.Bytes().size(), kAudio.size());
  EXPECT_TRUE(disk.Bytes() == kAudio);
  EXPECT_EQ(stream.Consumed().audio, static_cast<int64_t>(kAudio.size()));
  EXPECT_EQ(disk.States().back(), "Disconnected");
  EXPECT_EQ(disk.Titles(), (std::vector<std::string>{"One", ""}));
  // No error for a stop, and nothing announced from the stopping thread
  // ahead of the audio: one Disconnected, after the last byte.
  const auto states = disk.States();
  EXPECT_EQ(std::count(states.begin(), states.end(), "Disconnected"), 1) << testing::PrintToString(states);
  EXPECT_EQ(std::count(states.begin(), states.end(), "Error on connecting"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    HungDiskOrNetwork, StopWithoutWaitingTest,
    testing::Values(StopCase{"ToggleWhileTheDiskHangs", true, [](ServerStream& s) { s.Toggle(); }},
                    StopCase{"RequestStopWhileTheDiskHangs", true, [](ServerStream& s) { s.RequestStop(); }},
                    StopCase{"ToggleWhileTheReadHangs", false, [](ServerStream& s) { s.Toggle(); }}),
    [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST(StopWithoutWaitingTest, StartWhileTheLastRunStillWritesBeginsOnceItHasEnded) {
  IcyTestServer server;
  server.Push(StallingResponse());
  Disk disk(true);
  ServerStream stream;
  stream.SetUrl(server.Url("/stream"));
  stream.AddObserver(&disk);
  stream.Toggle();
  ASSERT_TRUE(Eventually([&] { return disk.Blocked(); }));

  // Stop and start again, the disk hung through both.
  EXPECT_TRUE(ReturnsWhileHung(disk, [&] {
    stream.Toggle();
    stream.Toggle();
  }));
  EXPECT_FALSE(stream.IsStopped());
  // The first run ends (all its audio, then Disconnected), then the second
  // connects anew and records the response again.
  ASSERT_TRUE(Eventually([&] { return disk.Bytes().size() >= kAudio.size() + 2000; }));
  ASSERT_TRUE(server.WaitForRequests(2));
  const auto states = disk.States();
  const auto firstEnd = std::find(states.begin(), states.end(), "Disconnected");
  ASSERT_NE(firstEnd, states.end());
  EXPECT_NE(std::find(firstEnd, states.end(), "Connected"), states.end());
  EXPECT_TRUE(disk.Bytes().substr(0, kAudio.size()) == kAudio);
  EXPECT_TRUE(disk.Bytes().substr(kAudio.size(), 2000) == kAudio.substr(0, 2000));
  stream.Stop();
  EXPECT_TRUE(stream.IsIdle());
}

TEST(StreamReaperTest, RetiredStreamEndsAndItsObserverGoesOnlyAfterItsWorker) {
  IcyTestServer server;
  server.Push(StallingResponse());
  auto disk = std::make_shared<Disk>(true);
  auto stream = std::make_shared<ServerStream>();
  stream->SetUrl(server.Url("/stream"));
  stream->AddObserver(disk.get());
  stream->Toggle();
  ASSERT_TRUE(Eventually([&] { return disk->Blocked(); }));

  Disk::destroyed.store(false);
  std::string recorded;
  {
    StreamReaper reaper;
    Disk& hung = *disk;
    EXPECT_TRUE(ReturnsWhileHung(hung, [&] {
      stream->RequestStop();
      // The owner lets go of both; the reaper destroys the stream first.
      reaper.Retire([stream = std::move(stream), disk = std::move(disk), &recorded]() mutable {
        stream->Stop();
        stream.reset();
        recorded = disk->Bytes();
        disk.reset();
      });
    }));
    reaper.WaitIdle();
    EXPECT_TRUE(Disk::destroyed.load());
  }
  EXPECT_TRUE(recorded == kAudio);
}

}  // namespace

#include "stream/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stream/ThreadTask.h"

namespace {

using namespace std::chrono_literals;

// Loops until asked to stop, counting its runs and the threads it ran on.
class PollingTask : public ThreadTask {
 public:
  void Run() override {
    runs.fetch_add(1);
    started.store(true);
    while (!IsStopRequested()) {
      std::this_thread::sleep_for(1ms);
    }
    finished.store(true);
  }
  std::atomic<int> runs{0};
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
};

// Ignores its stop request and works for a fixed time.
class StubbornTask : public ThreadTask {
 public:
  explicit StubbornTask(std::chrono::milliseconds duration) : duration(duration) {}
  void Run() override {
    std::this_thread::sleep_for(duration);
    finished.store(true);
  }
  std::chrono::milliseconds duration;
  std::atomic<bool> finished{false};
};

void WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 10000 && !flag.load(); ++i) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(flag.load());
}

TEST(WorkerThreadTest, SecondStartWithoutStopIsRefused) {
  PollingTask task;
  WorkerThread worker(&task);
  EXPECT_TRUE(worker.Start());
  WaitFor(task.started);
  EXPECT_FALSE(worker.Start());
  EXPECT_TRUE(worker.Stop());
  EXPECT_EQ(task.runs.load(), 1);
}

TEST(WorkerThreadTest, StopWithoutThreadChangesNothing) {
  PollingTask task;
  WorkerThread worker(&task);
  EXPECT_FALSE(worker.Stop());
  EXPECT_FALSE(task.IsStopRequested());
  EXPECT_FALSE(worker.HasThread());
}

TEST(WorkerThreadTest, RestartRunsTheTaskAgainOnANewThread) {
  PollingTask task;
  WorkerThread worker(&task);
  ASSERT_TRUE(worker.Start());
  WaitFor(task.started);
  ASSERT_TRUE(worker.Stop(1000));
  EXPECT_TRUE(task.finished.load());
  EXPECT_FALSE(worker.TimedOut());
  EXPECT_FALSE(worker.HasThread());
  EXPECT_TRUE(task.IsStopRequested());  // stays set until the next Start
  task.started.store(false);
  task.finished.store(false);
  ASSERT_TRUE(worker.Start());
  WaitFor(task.started);
  ASSERT_TRUE(worker.Stop());
  EXPECT_EQ(task.runs.load(), 2);
  EXPECT_TRUE(task.finished.load());
}

TEST(WorkerThreadTest, TaskIgnoringItsStopRequestIsWaitedForPastTheTimeout) {
  StubbornTask task(200ms);
  WorkerThread worker(&task);
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.Stop(10));
  // The thread never outlives Stop: the task has finished by now.
  EXPECT_TRUE(task.finished.load());
  EXPECT_TRUE(worker.TimedOut());
  EXPECT_FALSE(worker.HasThread());
}

TEST(WorkerThreadTest, DestructorStopsARunningThreadBeforeTheTaskGoesAway) {
  PollingTask task;
  {
    WorkerThread worker(&task);
    ASSERT_TRUE(worker.Start());
    WaitFor(task.started);
  }
  EXPECT_TRUE(task.finished.load());
}

TEST(WorkerThreadTest, TaskThatEndedByItselfIsStillStoppedOnce) {
  StubbornTask task(0ms);
  WorkerThread worker(&task);
  ASSERT_TRUE(worker.Start());
  WaitFor(task.finished);
  EXPECT_FALSE(worker.Start());  // ended, but not yet stopped
  EXPECT_TRUE(worker.Stop());
  EXPECT_FALSE(worker.Stop());
}

TEST(WorkerThreadTest, NullTaskEndsAtOnce) {
  WorkerThread worker;
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.Stop());
}

TEST(WorkerThreadTest, RapidStartStopCyclesNeverHang) {
  PollingTask task;
  WorkerThread worker(&task);
  for (int i = 0; i < 500; ++i) {
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.Stop());
  }
  EXPECT_FALSE(worker.HasThread());
}

}  // namespace

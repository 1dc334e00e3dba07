#include "stream/WorkerThread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
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

// Notes the stack of the thread it runs on, then uses most of it.
class StackTask : public ThreadTask {
 public:
  void Run() override {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstacksize(&attributes, &stackBytes);
      pthread_attr_destroy(&attributes);
    }
    // A frame three quarters of the promised stack must fit: a thread that
    // silently got less (an attribute lost on the way) would crash here.
    Touch(WorkerThread::kStackBytes * 3 / 4);
    finished.store(true);
  }
  static void Touch(size_t bytes) {
    auto* frame = static_cast<volatile char*>(__builtin_alloca(bytes));
    for (size_t i = 0; i < bytes; i += 4096) {
      frame[i] = 1;
    }
  }
  size_t stackBytes = 0;
  std::atomic<bool> finished{false};
};

TEST(WorkerThreadTest, EveryThreadGetsTheStackItWasPromised) {
  StackTask task;
  WorkerThread worker(&task);
  for (int round = 0; round < 2; ++round) {  // the second start must set it again
    task.stackBytes = 0;
    task.finished.store(false);
    ASSERT_TRUE(worker.Start());
    WaitFor(task.finished);
    ASSERT_TRUE(worker.Stop());
    EXPECT_EQ(task.stackBytes, WorkerThread::StackBytes());
  }
  EXPECT_GE(WorkerThread::StackBytes(), WorkerThread::kStackBytes);
  // Far below the usual 8 MiB default: ten thousand streams must not need
  // tens of gigabytes of address space.
  EXPECT_LE(WorkerThread::kStackBytes, size_t{1} << 20);
}

// Notes how the thread it runs on is scheduled.
class SchedulingTask : public ThreadTask {
 public:
  void Run() override {
    timerSlackNs = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    policy = sched_getscheduler(0);
  }
  long timerSlackNs = -1;
  int policy = -1;
};

TEST(WorkerThreadTest, SchedulingReachesEveryThreadStartedAfterwardsAndNotTheStarter) {
  using namespace std::chrono_literals;
  const long ownSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  struct Row {
    WorkerThread::Scheduling scheduling;
    long timerSlackNs;
    int policy;
  };
  for (const Row& row : {Row{{100ms, true}, 100000000L, SCHED_BATCH}, Row{{}, ownSlack, SCHED_OTHER}}) {
    WorkerThread::SetScheduling(row.scheduling);
    SchedulingTask task;
    WorkerThread worker(&task);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.Stop());
    EXPECT_EQ(task.timerSlackNs, row.timerSlackNs);
    EXPECT_EQ(task.policy, row.policy);
  }
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), ownSlack);
  EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
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

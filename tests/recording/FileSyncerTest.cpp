// Recordings reach the disk: synced at close, after creation (their
// directory) and every sync interval while open, on the syncer's thread.
#include "recording/FileSyncer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/StreamBuffer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

// The syncer's sync function and clock, seen from the test: which files and
// directories were synced, at what fake time; optionally holding every sync
// until released, or failing it.
class SyncLog {
 public:
  int Sync(int fd, bool directory) {
    std::unique_lock<std::mutex> lock(mutex);
    std::error_code ignored;
    const fs::path target = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ignored);
    syncs.push_back({target.filename().string(), directory, now});
    changed.notify_all();
    changed.wait(lock, [this] { return !holding; });
    return failWith;
  }
  std::chrono::steady_clock::time_point Now() {
    std::lock_guard<std::mutex> lock(mutex);
    return now;
  }
  void Advance(std::chrono::milliseconds step) {
    std::lock_guard<std::mutex> lock(mutex);
    now += step;
  }
  void Hold(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    holding = on;
    changed.notify_all();
  }
  void FailWith(int error) {
    std::lock_guard<std::mutex> lock(mutex);
    failWith = error;
  }
  void WaitForSyncs(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, 10s, [&] { return syncs.size() >= count; });
  }
  // How often each name was synced as a file.
  std::map<std::string, int> FileSyncs() {
    std::lock_guard<std::mutex> lock(mutex);
    std::map<std::string, int> counts;
    for (const auto& sync : syncs) {
      if (!sync.directory) {
        ++counts[sync.name];
      }
    }
    return counts;
  }
  std::vector<std::string> Directories() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> names;
    for (const auto& sync : syncs) {
      if (sync.directory) {
        names.push_back(sync.name);
      }
    }
    return names;
  }
  // The fake times at which files were synced.
  std::vector<std::chrono::steady_clock::time_point> FileSyncTimes() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const auto& sync : syncs) {
      if (!sync.directory) {
        times.push_back(sync.at);
      }
    }
    return times;
  }

 private:
  struct Entry {
    std::string name;
    bool directory;
    std::chrono::steady_clock::time_point at;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Entry> syncs;
  std::chrono::steady_clock::time_point now{};
  bool holding = false;
  int failWith = 0;
};

class FileSyncerTest : public testing::Test {
 protected:
  FileSyncerTest() { FileSyncer::Install(&syncer); }
  ~FileSyncerTest() override {
    log.Hold(false);
    FileSyncer::Install(nullptr);
  }

  std::unique_ptr<RecordingWriter> NewWriter(int32_t interval = 10) {
    auto writer = std::make_unique<RecordingWriter>();
    writer->SetDirectory(dir.Path().string());
    writer->SetSyncInterval(interval);
    writer->SetSmartSplitting(false);
    return writer;
  }
  static void Record(RecordingWriter& writer, const std::string& bytes) {
    const StreamBuffer block(bytes.data(), static_cast<int32_t>(bytes.size()));
    writer.OnAudio(block);
  }
  static bool HeldOpen(const fs::path& file) {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ignored;
      if (fs::read_symlink(fd.path(), ignored) == file) {
        return true;
      }
    }
    return false;
  }

  TempDir dir;
  SyncLog log;
  FileSyncer syncer{[this](int fd, bool directory) { return log.Sync(fd, directory); },
                    [this] { return log.Now(); }};
};

TEST_F(FileSyncerTest, FilesAreSyncedWhenClosedAndWhileOpenAndTheirDirectoryAfterCreation) {
  auto writer = NewWriter(10);
  writer->OnText(StreamEvent::Title, "A");
  Record(*writer, "a0");
  // Every interval (the first one stretched by up to one interval) brings a
  // sync of the open file, however many blocks come in between.
  for (int second = 0; second < 60; ++second) {
    log.Advance(1s);
    Record(*writer, "a");
    syncer.WaitUntilIdle();  // as a second of real time would let it
  }
  writer->OnText(StreamEvent::Title, "B");  // closes A
  Record(*writer, "b");
  writer.reset();  // closes B
  syncer.WaitUntilIdle();

  const auto files = log.FileSyncs();
  // 60 s: between 3 and 6 periodic syncs of A, and one at its close.
  EXPECT_GE(files.at("A.mp3"), 4);
  EXPECT_LE(files.at("A.mp3"), 7);
  EXPECT_EQ(files.at("B.mp3"), 1);
  const fs::path directoryName = dir.Path().filename();
  EXPECT_EQ(log.Directories(), (std::vector<std::string>{directoryName.string(), directoryName.string()}));
  EXPECT_FALSE(HeldOpen(dir.Path() / "A.mp3"));
  EXPECT_FALSE(HeldOpen(dir.Path() / "B.mp3"));
  EXPECT_EQ(ReadFileBytes(dir.Path() / "A.mp3").size(), 62u);
}

TEST_F(FileSyncerTest, IntervalZeroSyncsOnlyAtClose) {
  auto writer = NewWriter(0);
  writer->OnText(StreamEvent::Title, "A");
  for (int second = 0; second < 30; ++second) {
    log.Advance(1s);
    Record(*writer, "a");
  }
  writer.reset();
  syncer.WaitUntilIdle();
  EXPECT_EQ(log.FileSyncs().at("A.mp3"), 1);
}

TEST_F(FileSyncerTest, ASlowDiskHoldsUpNoWriterAndSyncsOfOneFileDoNotPileUp) {
  log.Hold(true);
  auto writer = NewWriter(1);
  writer->OnText(StreamEvent::Title, "A");
  for (int second = 0; second < 20; ++second) {
    log.Advance(1s);
    Record(*writer, "a");  // returns although the disk does not answer
  }
  writer->OnText(StreamEvent::Title, "B");
  Record(*writer, "b");
  EXPECT_EQ(ReadFileBytes(dir.Path() / "B.mp3"), "b");
  log.WaitForSyncs(1);  // the directory's, held
  log.Hold(false);
  syncer.WaitUntilIdle();
  // One periodic sync was waiting the whole time; the close sync of A.
  EXPECT_LE(log.FileSyncs().at("A.mp3"), 3);
}

TEST_F(FileSyncerTest, AFailedSyncIsTheWritersLastError) {
  log.FailWith(EIO);
  auto writer = NewWriter(10);
  writer->OnText(StreamEvent::Title, "A");
  Record(*writer, "a");
  syncer.WaitUntilIdle();
  // A's closing sync fails only after B has begun (a file that succeeds
  // clears what failed before it, not what fails after it).
  log.Hold(true);
  writer->OnText(StreamEvent::Title, "B");
  Record(*writer, "b");
  log.Hold(false);
  syncer.WaitUntilIdle();
  const auto error = writer->LastError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->path, (dir.Path() / "A.mp3").string());
  EXPECT_EQ(error->reason, std::generic_category().message(EIO));
}

// A finish that fails before the next file opens (a tag module that is not
// there fails at once) is still seen once; then the next file clears it.
TEST(SyncReportTest, AnUnreadFailureOutlivesTheNextFile) {
  SyncReport report;
  report.SetFailure("/music/A.mp3", "cannot tag");
  report.Clear();
  EXPECT_EQ(report.FailedPath(), "/music/A.mp3");
  EXPECT_EQ(report.Failure(), "cannot tag");
  report.Clear();
  EXPECT_EQ(report.Failure(), "");
  EXPECT_EQ(report.Failures(), 1u);
}

TEST_F(FileSyncerTest, StreamsStartedTogetherSyncAtDifferentMoments) {
  std::vector<std::unique_ptr<RecordingWriter>> writers;
  for (int i = 0; i < 50; ++i) {
    writers.push_back(NewWriter(10));
    writers.back()->OnText(StreamEvent::Title, "S" + std::to_string(i));
    Record(*writers.back(), "x");
  }
  for (int tenth = 0; tenth < 200; ++tenth) {
    log.Advance(100ms);
    for (auto& writer : writers) {
      Record(*writer, "x");
    }
    syncer.WaitUntilIdle();  // as a tenth of a second would let it
  }
  syncer.WaitUntilIdle();
  std::map<std::chrono::steady_clock::time_point, int> perMoment;
  for (const auto at : log.FileSyncTimes()) {
    ++perMoment[at];
  }
  ASSERT_GE(log.FileSyncTimes().size(), 50u);
  // Spread over the interval: no moment carries more than a fifth of them.
  for (const auto& [at, count] : perMoment) {
    EXPECT_LE(count, 10);
  }
}

// After tagging put a new, synced file in a recording's place, the syncer
// leaves the replaced copy alone; a file that could not be tagged (no Ogg
// inside) is synced as it is, and the failure is the writer's last error.
TEST_F(FileSyncerTest, OnlyTheFileThatStaysIsSynced) {
  const std::pair<std::string, int> rows[] = {{"mp3", 0}, {"ogg", 1}};  // format, syncs through the syncer
  for (const auto& [format, wantSyncs] : rows) {
    SCOPED_TRACE(format);
    auto writer = NewWriter(0);
    RecordingOptions options;
    options.tags = true;
    writer->SetRecordingOptions(options);
    writer->OnText(StreamEvent::Format, format);
    writer->OnText(StreamEvent::Title, "A");
    Record(*writer, "audio");
    writer->OnText(StreamEvent::Title, "");
    syncer.WaitUntilIdle();
    const auto error = writer->LastError();
    std::map<std::string, int> files = log.FileSyncs();
    EXPECT_EQ(files["A." + format], wantSyncs);
    EXPECT_EQ(files["A." + format + " (deleted)"], 0);
    EXPECT_EQ(error.has_value(), wantSyncs == 1);
    if (error) {
      EXPECT_EQ(error->path, (dir.Path() / ("A." + format)).string());
      EXPECT_NE(error->reason.find("cannot tag"), std::string::npos) << error->reason;
    }
  }
}

}  // namespace

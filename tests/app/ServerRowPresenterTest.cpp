#include "app/ServerRowPresenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stream/StreamBuffer.h"
#include "stream/StreamSource.h"
#include "app/MemoryListControl.h"
#include "support/Eventually.h"

namespace {

using Row = std::vector<std::string>;
constexpr int kState = ServerRowPresenter::kStateColumn;
constexpr int kReceived = ServerRowPresenter::kReceivedColumn;
constexpr int kTitle = ServerRowPresenter::kTitleColumn;
constexpr int kComplete = ServerRowPresenter::kReceivedCompleteColumn;
constexpr char kUrl[] = "http://127.0.0.1:8000/live";

class ServerRowPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(presenter.Attach(&list, kUrl)); }

  MemoryListControl list;
  ServerRowPresenter presenter;
};

TEST_F(ServerRowPresenterTest, FreshRowShowsUrlDisconnectedAndZeroCounts) {
  EXPECT_EQ(presenter.RowIndex(), 0);
  EXPECT_EQ(list.rows.at(0), (Row{kUrl, "Disconnected", "", "0 Bytes", "", "0 Bytes", ""}));
  EXPECT_EQ(list.fits, std::vector<int>(7, 1));

  ServerRowPresenter unattached;
  EXPECT_FALSE(unattached.Attach(nullptr, kUrl));
  unattached.OnText(StreamEvent::Title, "Song");
  EXPECT_EQ(unattached.RowIndex(), -1);
  EXPECT_EQ(list.rows.size(), 1u);
}

TEST_F(ServerRowPresenterTest, EachEventLandsInItsOwnColumnAndUrlEventsNowhere) {
  presenter.OnText(StreamEvent::State, "Connected");
  presenter.OnText(StreamEvent::Bitrate, "128");
  presenter.OnText(StreamEvent::Name, "Harbour FM");
  presenter.OnText(StreamEvent::Title, "Artist - Song");
  presenter.OnText(StreamEvent::Received, "512");
  presenter.OnText(StreamEvent::ReceivedComplete, "2048");
  const Row expected{kUrl, "Connected", "128", "512 Bytes", "Artist - Song", "2048 Bytes", "Harbour FM"};
  EXPECT_EQ(list.rows.at(0), expected);
  EXPECT_EQ(list.fits, std::vector<int>(7, 7));

  const int writes = list.cellWrites;
  presenter.OnText(StreamEvent::Url, "http://127.0.0.1/other");
  presenter.OnText(static_cast<StreamEvent>(42), "junk");
  EXPECT_EQ(list.cellWrites, writes);
  EXPECT_EQ(list.rows.at(0), expected);
}

// A 32-bit reading would show 5000000000 bytes (three and a half days of a
// 128 kbit/s station) as 705,032 MBytes, and -5 as 4294967291.
TEST_F(ServerRowPresenterTest, CountsAreReadWholeAndShownAsBytesOrMegabytes) {
  const std::pair<const char*, const char*> cases[] = {
      {"123", "123 Bytes"},          {"1234567", "1,234 MBytes"},
      {"4294967295", "4294,967 MBytes"}, {"5000000000", "5000,000 MBytes"},
      {"  42 bytes", "42 Bytes"},    {"-5", "0 Bytes"}, {"none", "0 Bytes"}};
  for (const auto& [text, shown] : cases) {
    presenter.OnText(StreamEvent::Received, text);
    presenter.OnText(StreamEvent::ReceivedComplete, text);
    EXPECT_EQ(list.rows.at(0).at(kReceived), shown) << text;
    EXPECT_EQ(list.rows.at(0).at(kComplete), shown) << text;
  }
  // Millions far past one ByteCounter::Add step come through whole.
  EXPECT_EQ(ServerRowPresenter::ReadCount("12345678901234").FormatDigits(), "12345678901234");
}

TEST_F(ServerRowPresenterTest, ListFailuresAreSwallowedAndTheRowRecovers) {
  list.throwOnUpdate = true;
  EXPECT_NO_THROW(presenter.OnText(StreamEvent::Title, "Lost"));
  list.throwOnUpdate = false;
  presenter.OnText(StreamEvent::State, "Connected");
  EXPECT_EQ(list.rows.at(0).at(kTitle), "Lost");

  // A failed insert leaves no row, writes no cell, still fits the columns,
  // and the next event tries again.
  MemoryListControl failing;
  failing.failInsert = true;
  ServerRowPresenter second;
  ASSERT_TRUE(second.Attach(&failing, kUrl));
  EXPECT_EQ(second.RowIndex(), -1);
  EXPECT_EQ(failing.cellWrites, 0);
  EXPECT_EQ(failing.fits, std::vector<int>(7, 1));
  failing.failInsert = false;
  second.OnText(StreamEvent::State, "Connecting");
  EXPECT_EQ(second.RowIndex(), 0);
  EXPECT_EQ(failing.rows.at(0).at(kState), "Connecting");
}

// After its own row is deleted an entry must neither overwrite the row that
// moved into its place nor append a stray row on its next event.
TEST(ServerRowPresenterRows, RemovingARowMovesRowsBelowUpAndSilencesItsEntry) {
  MemoryListControl list;
  std::vector<std::unique_ptr<ServerRowPresenter>> entries;
  for (int i = 0; i < 6; ++i) {
    entries.push_back(std::make_unique<ServerRowPresenter>());
    ASSERT_TRUE(entries.back()->Attach(&list, "http://127.0.0.1:" + std::to_string(9000 + i)));
  }
  list.rows.erase(list.rows.begin() + 3);
  for (auto& entry : entries) {
    entry->OnRowRemoved(3);
    entry->OnRowRemoved(-1);  // names no row
  }
  const std::vector<int> expected{0, 1, 2, -1, 3, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(entries[i]->RowIndex(), expected[i]) << i;
  }
  entries[3]->OnText(StreamEvent::Title, "Stale");
  entries[4]->OnText(StreamEvent::Title, "Moved");
  EXPECT_EQ(list.rows.size(), 5u);
  EXPECT_EQ(list.rows[3], (Row{"http://127.0.0.1:9004", "Disconnected", "", "0 Bytes", "Moved", "0 Bytes", ""}));
}

// Delivers audio on its worker until stopped, after one title change.
class LoopSource : public StreamSource {
 public:
  ~LoopSource() override { StopWorker(); }
  void Start() { StartWorker(); }
  void Stop() {
    StopWorker();
    SetState(StreamState::Disconnected);  // announced on this thread, as a stop does
  }
  void Run() override {
    SetState(StreamState::Connected);
    Notify(StreamEvent::Title, "First");
    std::vector<uint8_t> bytes(8192);
    StreamBuffer block(bytes.data(), static_cast<int32_t>(bytes.size()));
    for (int i = 0; i < 200; ++i) {
      DeliverAudio(&block);
    }
    Notify(StreamEvent::Title, "Second");
    for (; !IsStopRequested(); ++blocksAfterTitle) {
      DeliverAudio(&block);
    }
  }
  std::atomic<int> blocksAfterTitle{0};
};

bool WaitForBlocks(const LoopSource& source, int count) {
  return Eventually([&] { return source.blocksAfterTitle.load() >= count; });
}

// Worker events and the user-interface thread renumbering rows meet in the
// presenter's lock; the row must end up right and nothing may race.
TEST(ServerRowPresenterThreads, RowRenumberedWhileTheWorkerReportsEndsUpRight) {
  MemoryListControl list;
  ServerRowPresenter above;
  ServerRowPresenter streamed;
  LoopSource source;
  ASSERT_TRUE(above.Attach(&list, "http://127.0.0.1:1/"));
  ASSERT_TRUE(streamed.Attach(&list, "http://127.0.0.1:2/"));
  ASSERT_TRUE(source.AddObserver(&streamed));
  source.Start();
  ASSERT_TRUE(WaitForBlocks(source, 5));
  above.Detach();
  {
    std::lock_guard lock(list.mutex);
    list.rows.erase(list.rows.begin());
  }
  streamed.OnRowRemoved(0);
  ASSERT_TRUE(WaitForBlocks(source, 10));
  source.Stop();
  source.ClearObservers();

  ASSERT_EQ(list.rows.size(), 1u);
  const long long after = source.blocksAfterTitle.load();
  const Row& row = list.rows[0];
  EXPECT_EQ(row[0], "http://127.0.0.1:2/");
  EXPECT_EQ(row[kState], "Disconnected");
  EXPECT_EQ(row[kTitle], "Second");
  EXPECT_EQ(row[kReceived], ServerRowPresenter::ReadCount(std::to_string(8192 * after)).FormatDisplay());
  EXPECT_EQ(row[kComplete],
            ServerRowPresenter::ReadCount(std::to_string(8192 * (200 + after))).FormatDisplay());
}

}  // namespace

#include "ui/ServerRowPresenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stream/StreamBuffer.h"
#include "stream/StreamSource.h"
#include "uicore/MemoryListControl.h"

namespace {

using Row = std::vector<std::string>;
constexpr int kState = ServerRowPresenter::kStateColumn;
constexpr int kBitrate = ServerRowPresenter::kBitrateColumn;
constexpr int kReceived = ServerRowPresenter::kReceivedColumn;
constexpr int kTitle = ServerRowPresenter::kTitleColumn;
constexpr int kComplete = ServerRowPresenter::kReceivedCompleteColumn;
constexpr int kStation = ServerRowPresenter::kStationNameColumn;

class ServerRowPresenterTest : public ::testing::Test {
 protected:
  MemoryListControl list;
  ServerRowPresenter presenter;

  void AttachFirst() { ASSERT_TRUE(presenter.Attach(&list, "http://127.0.0.1:8000/live")); }
  std::string Shown(int column) { return list.Cell(presenter.RowIndex(), column); }
};

TEST_F(ServerRowPresenterTest, FreshRowShowsUrlDisconnectedAndZeroCounts) {
  AttachFirst();
  EXPECT_EQ(presenter.RowIndex(), 0);
  EXPECT_EQ(list.Row(0), (Row{"http://127.0.0.1:8000/live", "Disconnected", "", "0 Bytes", "",
                              "0 Bytes", ""}));
  for (int column = 0; column < ServerRowPresenter::kColumnCount; ++column) {
    EXPECT_EQ(list.Fits(column), 1) << "column " << column;
  }
  EXPECT_TRUE(presenter.FileSplitting());
  EXPECT_TRUE(presenter.SmartSplitting());
}

TEST_F(ServerRowPresenterTest, AttachWithoutListIsRefusedAndInsertsNothing) {
  EXPECT_FALSE(presenter.Attach(nullptr, "http://127.0.0.1:8000/"));
  EXPECT_EQ(presenter.RowIndex(), -1);
  EXPECT_EQ(presenter.Url(), "");
  presenter.OnText(StreamEvent::Title, "Song");  // no list: must not crash
  EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(ServerRowPresenterTest, LaterEntriesAppendBelowEarlierOnes) {
  AttachFirst();
  ServerRowPresenter second;
  ASSERT_TRUE(second.Attach(&list, "http://127.0.0.1:8001/"));
  EXPECT_EQ(second.RowIndex(), 1);
  EXPECT_EQ(list.Cell(1, 0), "http://127.0.0.1:8001/");
  second.OnText(StreamEvent::Title, "Other");
  EXPECT_EQ(list.Cell(0, kTitle), "");
  EXPECT_EQ(list.Cell(1, kTitle), "Other");
}

TEST_F(ServerRowPresenterTest, EachEventLandsInItsOwnColumn) {
  AttachFirst();
  presenter.OnText(StreamEvent::State, "Connected");
  presenter.OnText(StreamEvent::Bitrate, "128");
  presenter.OnText(StreamEvent::Name, "Harbour FM");
  presenter.OnText(StreamEvent::Title, "Artist - Song");
  presenter.OnText(StreamEvent::Received, "512");
  presenter.OnText(StreamEvent::ReceivedComplete, "2048");
  EXPECT_EQ(list.Row(0), (Row{"http://127.0.0.1:8000/live", "Connected", "128", "512 Bytes",
                              "Artist - Song", "2048 Bytes", "Harbour FM"}));
  // Every event rewrites the row and refits every column.
  EXPECT_EQ(list.Fits(0), 7);
  EXPECT_EQ(list.Fits(6), 7);
}

TEST_F(ServerRowPresenterTest, UrlAndUnknownEventsLeaveTheRowUntouched) {
  AttachFirst();
  const int writes = list.CellWrites();
  presenter.OnText(StreamEvent::Url, "http://example.invalid/");
  presenter.OnText(static_cast<StreamEvent>(42), "junk");
  EXPECT_EQ(list.CellWrites(), writes);
  EXPECT_EQ(list.Fits(0), 1);
  EXPECT_EQ(list.Row(0)[0], "http://127.0.0.1:8000/live");
}

TEST_F(ServerRowPresenterTest, CountsShowAsBytesOrMegabytes) {
  AttachFirst();
  presenter.OnText(StreamEvent::Received, "123");
  EXPECT_EQ(Shown(kReceived), "123 Bytes");
  presenter.OnText(StreamEvent::Received, "1234567");
  EXPECT_EQ(Shown(kReceived), "1,234 MBytes");
  presenter.OnText(StreamEvent::ReceivedComplete, "999999");
  EXPECT_EQ(Shown(kComplete), "999999 Bytes");
  EXPECT_EQ(Shown(kReceived), "1,234 MBytes");
}

// A 32-bit reading would show 5000000000 bytes (three and a half days of a
// 128 kbit/s station) as 705,032 MBytes.
TEST_F(ServerRowPresenterTest, CountPastFourGigabytesIsNotCutTo32Bits) {
  AttachFirst();
  presenter.OnText(StreamEvent::ReceivedComplete, "4294967295");
  EXPECT_EQ(Shown(kComplete), "4294,967 MBytes");
  presenter.OnText(StreamEvent::ReceivedComplete, "4294967296");
  EXPECT_EQ(Shown(kComplete), "4294,967 MBytes");
  presenter.OnText(StreamEvent::ReceivedComplete, "5000000000");
  EXPECT_EQ(Shown(kComplete), "5000,000 MBytes");
}

TEST(ServerRowPresenterReadCount, ReadsLeadingDigitsOnlyAndNeverGoesNegative) {
  EXPECT_EQ(ServerRowPresenter::ReadCount("  \t42 bytes").FormatDigits(), "42");
  EXPECT_EQ(ServerRowPresenter::ReadCount("+7").FormatDigits(), "7");
  EXPECT_EQ(ServerRowPresenter::ReadCount("").FormatDigits(), "0");
  EXPECT_EQ(ServerRowPresenter::ReadCount("abc").FormatDigits(), "0");
  EXPECT_EQ(ServerRowPresenter::ReadCount("-").FormatDigits(), "0");
  // A 32-bit wrap would turn -5 into 4294967291.
  EXPECT_EQ(ServerRowPresenter::ReadCount("-5").FormatDigits(), "0");
  EXPECT_EQ(ServerRowPresenter::ReadCount("7000042").FormatDigits(), "7000042");
  // Millions far past one Add step come through whole.
  EXPECT_EQ(ServerRowPresenter::ReadCount("12345678901234").FormatDigits(), "12345678901234");
}

TEST_F(ServerRowPresenterTest, FailedInsertKeepsNoRowAndRetriesOnTheNextEvent) {
  list.SetFailInsert(true);
  AttachFirst();
  EXPECT_EQ(presenter.RowIndex(), -1);
  EXPECT_EQ(list.CellWrites(), 0);
  EXPECT_EQ(list.Fits(3), 1);  // widths are fitted all the same

  list.SetFailInsert(false);
  presenter.OnText(StreamEvent::State, "Connecting");
  EXPECT_EQ(presenter.RowIndex(), 0);
  EXPECT_EQ(list.Cell(0, kState), "Connecting");
}

TEST_F(ServerRowPresenterTest, ListErrorsAreSwallowedAndTheRowRecovers) {
  AttachFirst();
  list.SetThrowOnUpdate(true);
  EXPECT_NO_THROW(presenter.OnText(StreamEvent::Title, "Lost"));
  list.SetThrowOnUpdate(false);
  presenter.OnText(StreamEvent::Bitrate, "96");
  EXPECT_EQ(Shown(kTitle), "Lost");
  EXPECT_EQ(Shown(kBitrate), "96");
}

TEST(ServerRowPresenterRows, RemovingARowMovesOnlyTheRowsBelowItUp) {
  MemoryListControl list;
  std::vector<std::unique_ptr<ServerRowPresenter>> entries;
  for (int i = 0; i < 6; ++i) {
    entries.push_back(std::make_unique<ServerRowPresenter>());
    ASSERT_TRUE(entries.back()->Attach(&list, "http://127.0.0.1:" + std::to_string(9000 + i)));
  }
  list.RemoveRow(3);
  for (int i : {0, 1, 2, 4, 5}) {
    entries[i]->OnRowRemoved(3);
  }
  EXPECT_EQ(entries[2]->RowIndex(), 2);
  EXPECT_EQ(entries[4]->RowIndex(), 3);
  EXPECT_EQ(entries[5]->RowIndex(), 4);
  // The moved entries write to their new rows.
  entries[4]->OnText(StreamEvent::Title, "Moved");
  EXPECT_EQ(list.Cell(3, 0), "http://127.0.0.1:9004");
  EXPECT_EQ(list.Cell(3, kTitle), "Moved");

  // A negative index names no row.
  entries[5]->OnRowRemoved(-1);
  EXPECT_EQ(entries[5]->RowIndex(), 4);
}

// After its own row is deleted an entry must neither overwrite the row that
// moved into its place nor append a stray row on its next event.
TEST(ServerRowPresenterRows, EntryWhoseRowWasRemovedStopsWriting) {
  MemoryListControl list;
  ServerRowPresenter gone;
  ServerRowPresenter below;
  ASSERT_TRUE(gone.Attach(&list, "http://127.0.0.1:1/"));
  ASSERT_TRUE(below.Attach(&list, "http://127.0.0.1:2/"));
  list.RemoveRow(0);
  gone.OnRowRemoved(0);
  below.OnRowRemoved(0);
  gone.OnText(StreamEvent::State, "Disconnected?");
  gone.OnText(StreamEvent::Title, "Stale");
  EXPECT_EQ(gone.RowIndex(), -1);
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.Row(0), (Row{"http://127.0.0.1:2/", "Disconnected", "", "0 Bytes", "", "0 Bytes", ""}));
}

// A stream that delivers audio blocks on its worker until it is stopped.
class LoopSource : public StreamSource {
 public:
  ~LoopSource() override { StopWorker(); }
  void Start() { ASSERT_TRUE(StartWorker()); }
  void Stop() {
    StopWorker();
    SetState(StreamState::Disconnected);  // as a stop announces it, on this thread
  }
  void Run() override {
    SetState(StreamState::Connected);
    Notify(StreamEvent::Name, "Loop FM");
    Notify(StreamEvent::Title, "First");
    std::vector<uint8_t> bytes(8192, 0x55);
    StreamBuffer block(bytes.data(), static_cast<int32_t>(bytes.size()));
    for (int i = 0; i < 200; ++i) {
      DeliverAudio(&block);
    }
    Notify(StreamEvent::Title, "Second");
    while (!IsStopRequested()) {
      DeliverAudio(&block);
      ++blocksAfterTitle;
    }
  }
  std::atomic<int> blocksAfterTitle{0};
};

// Worker events and the user-interface thread renumbering rows meet in the
// presenter's lock; the row must end up right and nothing may race.
TEST(ServerRowPresenterThreads, RowsRenumberedWhileTheWorkerReportsStayConsistent) {
  MemoryListControl list;
  ServerRowPresenter first;
  ServerRowPresenter streamed;
  ASSERT_TRUE(first.Attach(&list, "http://127.0.0.1:1/"));
  LoopSource source;
  ASSERT_TRUE(streamed.Attach(&list, "http://127.0.0.1:2/"));
  ASSERT_TRUE(source.AddObserver(&streamed));
  source.Start();
  while (source.blocksAfterTitle.load() < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  first.Detach();
  list.RemoveRow(0);
  streamed.OnRowRemoved(0);
  while (source.blocksAfterTitle.load() < 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  source.Stop();
  source.ClearObservers();

  ASSERT_EQ(streamed.RowIndex(), 0);
  ASSERT_EQ(list.RowCount(), 1);
  const int after = source.blocksAfterTitle.load();
  const long long total = 8192LL * (200 + after);
  EXPECT_EQ(list.Cell(0, 0), "http://127.0.0.1:2/");
  EXPECT_EQ(list.Cell(0, kState), "Disconnected");
  EXPECT_EQ(list.Cell(0, kStation), "Loop FM");
  EXPECT_EQ(list.Cell(0, kTitle), "Second");
  EXPECT_EQ(list.Cell(0, kReceived), ServerRowPresenter::ReadCount(std::to_string(8192LL * after)).FormatDisplay());
  EXPECT_EQ(list.Cell(0, kComplete), ServerRowPresenter::ReadCount(std::to_string(total)).FormatDisplay());
}

}  // namespace

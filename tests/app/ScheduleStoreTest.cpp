// The window's shows through the settings store: a show cut short by a stop
// by hand or by removing its entry.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "app/MemoryListControl.h"
#include "app/ScheduleRunner.h"
#include "app/SettingsStore.h"
#include "schedule/Instants.h"
#include "stream/ServerStream.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HandClock : public ShowClock {
 public:
  Instant Now() const override { return now; }
  Instant now;
};

// The recordings under directory, as paths relative to it.
std::set<std::string> RecordingsUnder(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mp3") {
      names.insert(fs::relative(entry.path(), directory).string());
    }
  }
  return names;
}

// The stop returns at once either way; the audio the worker still hands on
// goes into the show's one file, which counts as partial, and no file of
// the entry's own follows it.
TEST(ScheduleStoreTest, AShowCutShortInTheWindowIsOneFileKeptApart) {
  for (const bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "entry removed" : "stopped by hand");
    IcyTestServer server;
    const std::string audio = TestBytes(400000);
    IcyResponse response{"ICY 200 OK\r\n\r\n", audio, IcyResponse::kEverything, true};
    response.pieceSize = 1000;
    response.pieceDelay = 5ms;
    server.Push(response);
    TempDir dir;
    HandClock clock;
    clock.now = At("2027-01-04 07:00");  // the show's start: it records at once, not late
    ScheduleRunner runner(clock);
    runner.SetRolls(Rolls{0s, 0s});
    MemoryListControl list;
    SettingsStore store;  // after the runner and the list, which it uses until it goes
    store.SetScheduleRunner(&runner);
    ASSERT_TRUE(store.LoadSettings(&list, dir.File("Driftharbour.ini")));
    ASSERT_TRUE(store.AddServer(server.Url("/live"), dir.Path().string(), true, true, RecordingOptions{}));
    Schedule show;
    std::string error;
    ASSERT_TRUE(ParseScheduleOption("Show=daily 07:00+1h@UTC", show, error)) << error;
    ASSERT_TRUE(store.SetEntrySchedules(0, {show}));
    const ServerStream* stream = store.StreamAt(0);
    ASSERT_FALSE(stream->IsStopped());
    const fs::path file = dir.Path() / "Show 2027-01-04 0700.mp3";
    ASSERT_TRUE(Eventually([&] { return fs::exists(file) && fs::file_size(file) > 0; }));

    if (remove) {
      ASSERT_TRUE(store.RemoveRow(0));
    } else {
      store.ToggleRow(0);
      EXPECT_FALSE(runner.Current(stream));
    }
    store.WaitForStops();

    EXPECT_EQ(RecordingsUnder(dir.Path()), (std::set<std::string>{"incomplete/Show 2027-01-04 0700.mp3"}));
    const std::string recorded = ReadFileBytes(dir.Path() / "incomplete" / file.filename());
    EXPECT_FALSE(recorded.empty());
    EXPECT_TRUE(recorded == audio.substr(0, recorded.size())) << "the file is not the station's audio";
  }
}

}  // namespace

#include "app/ScheduleKeys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MemoryListControl.h"
#include "app/SettingsStore.h"
#include "support/TempDir.h"

namespace {

// Entry 0 has no schedules; entry 1 has three, numbered with gaps the way a
// hand edit leaves them, and one value that is no schedule.
const std::string kFile =
    "[Default]\r\nBuffer=50000\r\nDownloadDirectory=/tmp\r\nPreRoll=30\r\n\r\n"
    "[Server]\r\nServer_0=http://a/\r\nServer_1=http://b/\r\n"
    "Schedule_1_10=Late|daily|23:30|1h|UTC\r\n"
    "Schedule_1_2=Bad|Mon|7 o'clock|1h|UTC\r\n"
    "Schedule_1_5=Morning Show|mon-fri|7:00|2h|Europe/Berlin\r\n"
    "Schedule_1_0=Night Jazz|Sat|23:00|3h|America/New_York|split\r\n"
    "Schedule_1_x=not read: no number\r\n";

std::vector<std::string> Names(const std::vector<Schedule>& schedules) {
  std::vector<std::string> names;
  for (const Schedule& schedule : schedules) {
    names.push_back(schedule.show);
  }
  return names;
}

TEST(ScheduleKeysTest, SchedulesLoadInTheirOrderSkipBadValuesAndSaveOnlyWhereAnEntryHasThem) {
  TempDir dir;
  const std::string path = dir.File("Driftharbour.ini");
  WriteFileBytes(path, kFile);
  MemoryListControl list;
  SettingsStore store;
  ASSERT_TRUE(store.LoadSettings(&list, path, SettingsStore::FileUse::ReadOnly));

  ASSERT_NE(store.EntrySchedules(0), nullptr);
  EXPECT_TRUE(store.EntrySchedules(0)->empty());
  EXPECT_EQ(Names(*store.EntrySchedules(1)), (std::vector<std::string>{"Night Jazz", "Morning Show", "Late"}));
  ASSERT_EQ(store.ScheduleProblems().size(), 1u);
  EXPECT_EQ(ScheduleKeys::Describe(path, SettingsStore::kServerSection, store.ScheduleProblems()[0]),
            "Driftharbour.ini line 10: Schedule_1_2=Bad|Mon|7 o'clock|1h|UTC: start '7 o'clock' is not HH:MM or "
            "HH:MM:SS; skipped");
  // The recorder's reading of the file gives the same.
  IniDocument document;
  std::vector<SettingsStore::StoredServer> servers;
  ASSERT_TRUE(SettingsStore::ReadSettingsFile(path, document, servers));
  EXPECT_EQ(servers.at(1).schedules, *store.EntrySchedules(1));
  EXPECT_EQ(servers.at(1).scheduleProblems, store.ScheduleProblems());
  EXPECT_EQ(ScheduleKeys::ReadRolls(document, SettingsStore::kDefaultSection).pre, std::chrono::seconds{30});
  EXPECT_EQ(ScheduleKeys::ReadRolls(document, SettingsStore::kDefaultSection).post, Rolls::kDefaultPost);

  // Saved renumbered, in the written form; nothing for entry 0.
  std::vector<Schedule> changed = *store.EntrySchedules(1);
  changed.pop_back();
  ASSERT_TRUE(store.SetEntrySchedules(1, changed));
  ASSERT_TRUE(store.SaveServerList());
  const std::string saved = ReadFileBytes(path);
  EXPECT_NE(saved.find("Schedule_1_0=Night Jazz|Sat|23:00|3h|America/New_York|split\r\n"
                       "Schedule_1_1=Morning Show|Mon-Fri|07:00|2h|Europe/Berlin\r\n"),
            std::string::npos)
      << saved;
  EXPECT_EQ(saved.find("Schedule_0_"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Schedule_1_2"), std::string::npos) << saved;
}

}  // namespace

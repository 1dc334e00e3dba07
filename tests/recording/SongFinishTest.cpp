// Partial songs go into incomplete/ under a free name, whatever the file
// system allows, and every failure around a finished file is told once.
#include "recording/SongFinish.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include "recording/FileSyncer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// How the rename behaves in a row.
enum class Rename {
  Real,          // renameat2 as the kernel does it
  NoReplaceBad,  // EINVAL: the file system knows no RENAME_NOREPLACE
  Missing,       // ENOSYS: the kernel knows no renameat2
  NumbersClash,  // every numbered name is taken just before us
  Denied,        // EACCES
};

TEST(SongFinishMoveTest, PartialSongsFindAFreeNameInIncomplete) {
  struct Row {
    const char* name;
    Rename rename;
    std::vector<std::string> present;  // already in incomplete/
    const char* wantName;              // a regular expression; "" when the file stays
    int wantFailures;
  };
  const Row rows[] = {
      {"free name", Rename::Real, {}, R"(Song\.mp3)", 0},
      {"taken name", Rename::Real, {"Song.mp3", "Song(1).mp3"}, R"(Song\(2\)\.mp3)", 0},
      {"no RENAME_NOREPLACE: link and unlink", Rename::NoReplaceBad, {"Song.mp3"}, R"(Song\(1\)\.mp3)", 0},
      {"no renameat2: link and unlink", Rename::Missing, {}, R"(Song\.mp3)", 0},
      {"a hundred clashes: a unique suffix", Rename::NumbersClash, {"Song.mp3"}, R"(Song-[0-9a-f]{8}\.mp3)", 0},
      {"denied: stays, told once", Rename::Denied, {}, "", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir temp;
    const std::string path = temp.File("Song.mp3");
    WriteFileBytes(path, "audio");
    fs::create_directory(temp.Path() / "incomplete");
    for (const std::string& name : row.present) {
      WriteFileBytes(temp.Path() / "incomplete" / name, "older");
    }
    int renames = 0;
    const SongFinish::RenameNoReplace rename = [&](const std::string& from, const std::string& to) {
      ++renames;
      switch (row.rename) {
        case Rename::NoReplaceBad:
          return EINVAL;
        case Rename::Missing:
          return ENOSYS;
        case Rename::NumbersClash:
          if (to.find('(') != std::string::npos) {
            return EEXIST;
          }
          break;
        case Rename::Denied:
          return EACCES;
        case Rename::Real:
          break;
      }
      return SongFinish::RenameWithoutReplacing(from, to);
    };
    SyncReport report;
    const std::string moved = SongFinish::MoveToIncomplete(path, report, rename);
    EXPECT_EQ(report.Failures(), static_cast<uint64_t>(row.wantFailures));
    if (row.wantName[0] == '\0') {
      EXPECT_EQ(moved, "");
      EXPECT_EQ(ReadFileBytes(path), "audio");
      EXPECT_EQ(report.FailedPath(), path);
      EXPECT_NE(report.Failure().find(std::generic_category().message(EACCES)), std::string::npos);
      continue;
    }
    EXPECT_TRUE(std::regex_match(fs::path(moved).filename().string(), std::regex(row.wantName))) << moved;
    EXPECT_EQ(fs::path(moved).parent_path(), temp.Path() / "incomplete");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFileBytes(moved), "audio");
    for (const std::string& name : row.present) {
      EXPECT_EQ(ReadFileBytes(temp.Path() / "incomplete" / name), "older");
    }
    // A refused RENAME_NOREPLACE is asked once, not for every name tried.
    if (row.rename == Rename::NoReplaceBad || row.rename == Rename::Missing) {
      EXPECT_EQ(renames, 1);
    }
  }
}

// A tag that cannot be written and a move that cannot be made are each
// told once, naming the file and the system's reason.
TEST(SongFinishMoveTest, EachFailureIsToldOnceWithItsReason) {
  TempDir temp;
  const std::string path = temp.File("Song.mp3");
  WriteFileBytes(temp.Path() / "incomplete", "a file where the folder should be");
  RecordingOptions options;
  options.tags = true;
  options.keepPartialApart = true;
  SongFinish::Song song;
  song.title = "Band - Song";
  song.extension = "mp3";
  song.startsPartial = true;
  const auto report = std::make_shared<SyncReport>();
  const FileSyncer::Finish finish = SongFinish::Make(options, true, "http://r/", song, report);
  // The file is gone before it could be tagged.
  EXPECT_FALSE(finish.beforeSync(path));
  EXPECT_EQ(report->Failures(), 1u);
  EXPECT_EQ(report->FailedPath(), path);
  EXPECT_NE(report->Failure().find(std::generic_category().message(ENOENT)), std::string::npos) << report->Failure();

  WriteFileBytes(path, "audio");
  EXPECT_EQ(finish.afterClose(path), "");
  EXPECT_EQ(report->Failures(), 2u);
  EXPECT_EQ(report->FailedPath(), path);
  EXPECT_NE(report->Failure().find("incomplete"), std::string::npos) << report->Failure();
  EXPECT_EQ(ReadFileBytes(path), "audio");
}

}  // namespace

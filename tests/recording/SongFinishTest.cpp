// Partial songs go into incomplete/ under a free name, whatever the file
// system allows; a move that cannot be made is told once, with its reason.
#include "recording/SongFinish.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(SongFinishMoveTest, PartialSongsFindAFreeNameInIncomplete) {
  struct Row {
    const char* name;
    int renameError;                   // what the rename answers instead of renaming; -1: numbered names clash
    std::vector<std::string> present;  // already in incomplete/
    const char* wantName;              // a shell pattern (fnmatch); "" when the file stays
  };
  const Row rows[] = {
      {"free name", 0, {}, "Song.mp3"},
      {"taken name", 0, {"Song.mp3", "Song(1).mp3"}, "Song(2).mp3"},
      {"no RENAME_NOREPLACE: link and unlink", EINVAL, {"Song.mp3"}, "Song(1).mp3"},
      {"no renameat2: link and unlink", ENOSYS, {}, "Song.mp3"},
      {"a hundred clashes: a unique suffix", -1, {"Song.mp3"},
       "Song-[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f].mp3"},
      {"denied: stays, told once", EACCES, {}, ""},
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
    const auto rename = [&](const std::string& from, const std::string& to) {
      ++renames;
      if (row.renameError == -1 && to.find('(') != std::string::npos) {
        return EEXIST;
      }
      return row.renameError > 0 ? row.renameError : SongFinish::RenameWithoutReplacing(from, to);
    };
    SyncReport report;
    const std::string moved = SongFinish::MoveToIncomplete(path, report, rename);
    const bool stays = row.wantName[0] == '\0';
    EXPECT_EQ(report.Failures(), stays ? 1u : 0u);
    EXPECT_EQ(ReadFileBytes(stays ? path : moved), "audio");
    EXPECT_EQ(fs::exists(path), stays);
    if (stays) {
      EXPECT_EQ(report.FailedPath(), path);
      EXPECT_NE(report.Failure().find(std::generic_category().message(EACCES)), std::string::npos);
      continue;
    }
    EXPECT_EQ(fnmatch(row.wantName, fs::path(moved).filename().c_str(), 0), 0) << moved;
    EXPECT_EQ(fs::path(moved).parent_path(), temp.Path() / "incomplete");
    for (const std::string& name : row.present) {
      EXPECT_EQ(ReadFileBytes(temp.Path() / "incomplete" / name), "older");
    }
    if (row.renameError == EINVAL || row.renameError == ENOSYS) {
      EXPECT_EQ(renames, 1);  // a refusal is not asked again for every name tried
    }
  }
}

}  // namespace

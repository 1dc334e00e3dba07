#include "base/ReplacementFile.h"

#include <fcntl.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

// What stays on disk after a replacement ends at each step.
TEST(ReplacementFileTest, OnlyARenamedFileStays) {
  enum class End { Dropped, Closed, Renamed };
  for (const End end : {End::Dropped, End::Closed, End::Renamed}) {
    TempDir temp;
    const std::string target = temp.File("song.mp3");
    const std::string copy = temp.File(".copy");
    WriteFileBytes(target, "old");
    {
      ReplacementFile file;
      file.Adopt(UniqueFd(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)), copy);
      ASSERT_TRUE(file.IsOpen());
      ASSERT_EQ(file.Write("new", 3), 0);
      if (end != End::Dropped) {
        EXPECT_EQ(file.Close(), 0);
      }
      if (end == End::Renamed) {
        EXPECT_EQ(file.RenameOver(target), 0);
      }
    }
    EXPECT_FALSE(std::filesystem::exists(copy)) << static_cast<int>(end);
    EXPECT_EQ(ReadFileBytes(target), end == End::Renamed ? "new" : "old") << static_cast<int>(end);
  }
}

TEST(ReplacementFileTest, FailuresComeBackAsTheirErrno) {
  TempDir temp;
  const std::string copy = temp.File(".copy");
  ReplacementFile file;
  // Open for reading only: every write fails.
  WriteFileBytes(copy, "");
  file.Adopt(UniqueFd(::open(copy.c_str(), O_RDONLY | O_CLOEXEC)), copy);
  EXPECT_EQ(file.Write("x", 1), EBADF);
  EXPECT_EQ(file.RenameOver(temp.File("missing/target")), ENOENT);
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "recording/RecordingWriter.h"
#include "stream/StreamBuffer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Every file under directory, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file()) {
      names.insert(fs::relative(entry.path(), directory).string());
    }
  }
  return names;
}

// A show's recording as the writer files it: one file named after the show
// and its local start, or files by title in a folder of that name; apart
// in incomplete/ when the show was joined late or stopped by hand; the
// entry's own files again after it.
TEST(RecordingWriterShowTest, ShowsAreFiledByTheirNameAndStart) {
  const struct {
    const char* name;
    bool splitTitles;
    bool late;
    bool whole;
    std::set<std::string> files;
  } rows[] = {
      {"OneFileForTheWholeShow", false, false, true, {"Jazz 2026-12-12 2300.mp3", "After.mp3"}},
      {"JoinedLateIsPartial", false, true, true, {"incomplete/Jazz 2026-12-12 2300.mp3", "After.mp3"}},
      {"StoppedByHandIsPartial", false, false, false, {"incomplete/Jazz 2026-12-12 2300.mp3", "After.mp3"}},
      {"TitlesInAFolder", true, false, true, {"Jazz 2026-12-12 2300/A.mp3", "Jazz 2026-12-12 2300/B.mp3", "After.mp3"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir temp;
    RecordingWriter writer;
    writer.SetDirectory(temp.Path().string());
    // The show decides title splitting, whatever the entry's switch says.
    writer.SetFileSplitting(!row.splitTitles);
    writer.SetSmartSplitting(false);
    const auto audio = [&writer](const std::string& bytes) {
      writer.OnAudio(StreamBuffer(bytes.data(), static_cast<int32_t>(bytes.size())));
    };
    writer.BeginShow(ShowFile{"Jazz", "2026-12-12", "2300", row.splitTitles, row.late});
    writer.OnText(StreamEvent::State, "Connected");
    writer.OnText(StreamEvent::Format, "mp3");
    writer.OnText(StreamEvent::Title, "A");
    audio("a1");
    writer.OnText(StreamEvent::Title, "B");
    audio("b1");
    writer.EndShow(row.whole);
    writer.SetFileSplitting(true);
    writer.OnText(StreamEvent::Title, "After");
    audio("c1");
    writer.Reset();

    EXPECT_EQ(FilesUnder(temp.Path()), row.files);
    if (!row.splitTitles) {
      const fs::path show = row.late || !row.whole ? temp.Path() / "incomplete" / "Jazz 2026-12-12 2300.mp3"
                                                   : temp.Path() / "Jazz 2026-12-12 2300.mp3";
      EXPECT_EQ(ReadFileBytes(show), "a1b1");
    }
  }
}

}  // namespace

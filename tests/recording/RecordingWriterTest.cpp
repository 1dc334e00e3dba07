#include "recording/RecordingWriter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "stream/StreamBuffer.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Feeds a writer the calls its stream would make, in stream order: an audio
// block, then the Title and Url events of the metadata block after it.
class RecordingWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { writer->SetDirectory(temp.Path().string()); }

  void Audio(const std::string& bytes) {
    StreamBuffer block(bytes.data(), static_cast<int32_t>(bytes.size()));
    writer->OnAudio(block);
  }
  void Title(const std::string& title) {
    writer->OnText(StreamEvent::Title, title);
    writer->OnText(StreamEvent::Url, "");
  }
  // A stream's calls in order: "T:x" announces the title x, anything else is
  // an audio block.
  void Feed(std::initializer_list<std::string> calls) {
    for (const auto& call : calls) {
      call.rfind("T:", 0) == 0 ? Title(call.substr(2)) : Audio(call);
    }
  }
  std::set<std::string> Files(const fs::path& directory) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  std::set<std::string> Files() const { return Files(temp.Path()); }
  std::string Content(const std::string& name) const { return ReadFileBytes(temp.Path() / name); }

  // Whether this process still holds the file open.
  static bool HeldOpen(const fs::path& file) {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ignored;
      if (fs::read_symlink(fd.path(), ignored) == file) {
        return true;
      }
    }
    return false;
  }

  TempDir temp;
  std::unique_ptr<RecordingWriter> writer = std::make_unique<RecordingWriter>();
};

TEST_F(RecordingWriterTest, FileSplittingCutsAtTitleChangeAndDropsAudioBeforeFirstTitle) {
  writer->SetSmartSplitting(false);
  Feed({"p1", "p2", "p3", "T:Song A", "a1", "a2", "T:Song B", "b1"});
  writer->OnText(StreamEvent::State, "Disconnected");
  Title("");  // the stream stops

  EXPECT_EQ(Files(), (std::set<std::string>{"Song A.mp3", "Song B.mp3"}));
  EXPECT_EQ(Content("Song A.mp3"), "a1a2");
  EXPECT_EQ(Content("Song B.mp3"), "b1");
  EXPECT_FALSE(HeldOpen(temp.Path() / "Song B.mp3"));
}

TEST_F(RecordingWriterTest, SmartSplittingPutsFirstBlockAfterChangeIntoBothFiles) {
  Feed({"T:A", "a1", "T:B", "b1", "b2"});
  EXPECT_EQ(Content("A.mp3"), "a1b1");
  EXPECT_EQ(Content("B.mp3"), "b1b2");
}

TEST_F(RecordingWriterTest, WithoutFileSplittingOneFileKeepsEverythingUntilWriterGoes) {
  writer->SetFileSplitting(false);
  Feed({"p1", "T:A", "a1", "T:B", "b1", "T:", "c1", "T:C", "c2"});  // "T:": a stop
  EXPECT_EQ(Files(), std::set<std::string>{"A.mp3"});
  EXPECT_TRUE(HeldOpen(temp.Path() / "A.mp3"));
  writer.reset();
  EXPECT_FALSE(HeldOpen(temp.Path() / "A.mp3"));
  EXPECT_EQ(Content("A.mp3"), "p1a1b1c1c2");
}

TEST_F(RecordingWriterTest, HeldAudioIsBoundedToTheNewestBytes) {
  writer->SetFileSplitting(false);
  const int32_t limit = RecordingWriter::kMaxPendingAudio;
  std::string before;
  for (int i = 0; before.size() < static_cast<size_t>(limit) + 50000; ++i) {
    const std::string block(8192, static_cast<char>('a' + i % 26));
    Audio(block);
    before += block;
  }
  Title("A");
  Audio("next");
  EXPECT_EQ(Content("A.mp3"), before.substr(before.size() - limit) + "next");
}

TEST_F(RecordingWriterTest, EqualTitlesNeitherSplitNorReopen) {
  // B is gone again before any audio of it arrives.
  Feed({"T:A", "a1", "T:A", "a2", "T:B", "T:A", "a3"});
  EXPECT_EQ(Files(), std::set<std::string>{"A.mp3"});
  EXPECT_EQ(Content("A.mp3"), "a1a2a3");
}

TEST_F(RecordingWriterTest, EmptyTitleClosesAtOnceAndReturningTitleGetsNumberedName) {
  Feed({"T:A", "a1", "T:"});
  EXPECT_FALSE(HeldOpen(temp.Path() / "A.mp3"));
  Feed({"lost", "T:A", "a2", "T:", "T:A", "a3"});
  EXPECT_EQ(Files(), (std::set<std::string>{"A.mp3", "A(1).mp3", "A(2).mp3"}));
  EXPECT_EQ(Content("A.mp3"), "a1");
  EXPECT_EQ(Content("A(1).mp3"), "a2");
  EXPECT_EQ(Content("A(2).mp3"), "a3");
}

TEST_F(RecordingWriterTest, ExistingFilesAndLinksAreNeverOverwritten) {
  WriteFileBytes(temp.Path() / "A.mp3", "old");
  WriteFileBytes(temp.Path() / "victim", "keep");
  fs::create_symlink(temp.Path() / "victim", temp.Path() / "A(1).mp3");
  fs::create_symlink(temp.Path() / "nowhere", temp.Path() / "A(2).mp3");
  Feed({"T:A", "new"});
  EXPECT_EQ(Content("A.mp3"), "old");
  EXPECT_EQ(Content("victim"), "keep");
  EXPECT_FALSE(fs::exists(temp.Path() / "nowhere"));
  EXPECT_EQ(Content("A(3).mp3"), "new");
}

TEST_F(RecordingWriterTest, FileThatCannotBeCreatedIsReportedAndNextTitleRecovers) {
  WriteFileBytes(temp.Path() / "blocker", "");
  const std::string blocked = (temp.Path() / "blocker" / "sub").string();
  writer->SetDirectory(blocked);
  EXPECT_FALSE(writer->LastError());
  Feed({"T:A", "a1"});
  const auto error = writer->LastError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->path.rfind(blocked, 0), 0u) << error->path;
  EXPECT_FALSE(error->reason.empty());

  // A missing directory is created with its parents.
  writer->SetDirectory(temp.File("later/deeper"));
  Feed({"a2", "T:B", "b1"});  // a2 is still dropped: no file switch yet
  EXPECT_EQ(Files(temp.Path() / "later/deeper"), std::set<std::string>{"B.mp3"});
  EXPECT_EQ(ReadFileBytes(temp.Path() / "later/deeper/B.mp3"), "b1");
  EXPECT_FALSE(writer->LastError());
}

TEST_F(RecordingWriterTest, TitlesNeverNameAFileOutsideTheDirectory) {
  const std::string titles[] = {"AC/DC - Back in Black", "../../.bashrc", "..", "/", "a\tb\nc\x01",
                                "Caf\xC3\xA9", "Caf\xE9 \x7F"};
  writer->SetSmartSplitting(false);
  for (const auto& title : titles) {
    Title(title);
    Audio(title);
  }
  Title("");
  EXPECT_EQ(Files(), (std::set<std::string>{"AC_DC - Back in Black.mp3", ".._.._.bashrc.mp3",
                                             "...mp3", "_.mp3", "a_b_c_.mp3", "Caf\xC3\xA9.mp3",
                                             "Caf\xE9 \x7F.mp3"}));
  EXPECT_EQ(Content(".._.._.bashrc.mp3"), "../../.bashrc");
  EXPECT_FALSE(fs::exists(temp.Path().parent_path().parent_path() / ".bashrc.mp3"));
}

TEST_F(RecordingWriterTest, OverlongTitlesAreCutToFitWithoutSplittingCharacters) {
  const std::string ascii(300, 'x');
  std::string accents;
  while (accents.size() < 300) accents += "\xC3\xA9";     // é, two bytes
  std::string emoji = "x";
  while (emoji.size() < 300) emoji += "\xF0\x9F\x8E\xB5";  // four bytes
  for (const std::string& title : {ascii, ascii, accents, emoji}) {
    Title(title);
    Audio("a");
    Title("");
  }
  const size_t stem = RecordingWriter::kMaxStemBytes;
  EXPECT_EQ(Files(), (std::set<std::string>{
                         ascii.substr(0, stem) + ".mp3", ascii.substr(0, stem) + "(1).mp3",
                         accents.substr(0, stem - stem % 2) + ".mp3",
                         emoji.substr(0, 1 + (stem - 1) / 4 * 4) + ".mp3"}));
}

TEST_F(RecordingWriterTest, EmptyDirectoryMeansWorkingDirectoryNotRoot) {
  const fs::path before = fs::current_path();
  fs::current_path(temp.Path());
  writer->SetDirectory("");
  Feed({"T:driftharbour-writer-test", "a1"});
  fs::current_path(before);
  EXPECT_EQ(Content("driftharbour-writer-test.mp3"), "a1");
  EXPECT_FALSE(fs::exists("/driftharbour-writer-test.mp3"));
}

TEST_F(RecordingWriterTest, FailedWriteRaisesAndWritingResumesWithNextBlock) {
  Feed({"T:A", "a1"});
  {
    FileSizeLimit limit(2);
    EXPECT_THROW(Audio("lost"), std::system_error);
  }
  const auto error = writer->LastError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->path, temp.File("A.mp3"));
  EXPECT_FALSE(error->reason.empty());
  Audio("a2");
  EXPECT_EQ(Content("A.mp3"), "a1a2");
}

TEST_F(RecordingWriterTest, SettingsChangeSafelyWhileTheStreamWrites) {
  std::atomic<bool> done{false};
  std::thread stream([&] {
    for (int i = 0; i < 300; ++i) {
      Title("T" + std::to_string(i % 7));
      Audio("block");
    }
    done = true;
  });
  while (!done) {
    writer->SetSmartSplitting(!writer->SmartSplitting());
    writer->SetDirectory(writer->Directory());
    (void)writer->LastError();
  }
  stream.join();
  EXPECT_FALSE(writer->LastError());
}

}  // namespace

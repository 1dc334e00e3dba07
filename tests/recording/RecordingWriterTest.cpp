#include "recording/RecordingWriter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <csignal>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "stream/StreamBuffer.h"
#include "support/FileSizeLimit.h"
#include "support/IcyTestServer.h"
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
  // A response begins, as the stream announces it.
  void Begin(const std::string& format, const std::string& station) {
    writer->OnText(StreamEvent::State, "Connected");
    writer->OnText(StreamEvent::Format, format);
    writer->OnText(StreamEvent::Station, station);
  }
  // The stream is stopped: its state, then the empty title.
  void Stop() {
    writer->OnText(StreamEvent::State, "Disconnected");
    Title("");
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

TEST_F(RecordingWriterTest, FileSplittingCutsAtTitleChangesAndFilesUntitledAudioUnderTheStation) {
  writer->SetSmartSplitting(false);
  Begin("mp3", "Loopback FM");
  Feed({"p1", "p2", "T:Song A", "a1", "a2", "T:", "u1", "T:", "u2", "T:Song B", "b1"});
  Stop();

  EXPECT_EQ(Files(), (std::set<std::string>{"Loopback FM.mp3", "Song A.mp3", "Loopback FM(1).mp3", "Song B.mp3"}));
  EXPECT_EQ(Content("Loopback FM.mp3"), "p1p2");
  EXPECT_EQ(Content("Song A.mp3"), "a1a2");
  // A repeated empty title does not split the untitled stretch.
  EXPECT_EQ(Content("Loopback FM(1).mp3"), "u1u2");
  EXPECT_EQ(Content("Song B.mp3"), "b1");
  EXPECT_FALSE(HeldOpen(temp.Path() / "Song B.mp3"));
  EXPECT_EQ(writer->BytesWritten(), 14);
}

TEST_F(RecordingWriterTest, StopClosesAnUntitledFileAndTheNextStartOpensAnother) {
  Begin("aac", "");
  Feed({"u1"});
  Stop();
  EXPECT_FALSE(HeldOpen(temp.Path() / "untitled.aac"));
  Begin("aac", "Radio");
  Feed({"u2"});
  EXPECT_EQ(Files(), (std::set<std::string>{"untitled.aac", "Radio.aac"}));
}

TEST_F(RecordingWriterTest, SmartSplittingPutsFirstBlockAfterChangeIntoBothFiles) {
  Feed({"T:A", "a1", "T:B", "b1", "b2"});
  EXPECT_EQ(Content("A.mp3"), "a1b1");
  EXPECT_EQ(Content("B.mp3"), "b1b2");
}

TEST_F(RecordingWriterTest, WithoutFileSplittingOneFileKeepsEverythingUntilWriterGoes) {
  writer->SetFileSplitting(false);
  Feed({"T:A", "a1", "T:B", "b1", "T:", "c1", "T:C", "c2"});  // "T:": a stop
  EXPECT_EQ(Files(), std::set<std::string>{"A.mp3"});
  EXPECT_TRUE(HeldOpen(temp.Path() / "A.mp3"));
  writer.reset();
  EXPECT_FALSE(HeldOpen(temp.Path() / "A.mp3"));
  EXPECT_EQ(Content("A.mp3"), "a1b1c1c2");
}

TEST_F(RecordingWriterTest, WithoutFileSplittingAnUntitledStartNamesTheFileAfterTheStation) {
  writer->SetFileSplitting(false);
  Begin("ogg", "Radio");
  Feed({"u1", "T:A", "a1"});
  EXPECT_EQ(Files(), std::set<std::string>{"Radio.ogg"});
  EXPECT_EQ(Content("Radio.ogg"), "u1a1");
}

TEST_F(RecordingWriterTest, EqualTitlesNeitherSplitNorReopen) {
  // B is gone again before any audio of it arrives.
  Feed({"T:A", "a1", "T:A", "a2", "T:B", "T:A", "a3"});
  EXPECT_EQ(Files(), std::set<std::string>{"A.mp3"});
  EXPECT_EQ(Content("A.mp3"), "a1a2a3");
}

TEST_F(RecordingWriterTest, EmptyTitleClosesAtOnceAndReturningTitleGetsNumberedName) {
  writer->SetSmartSplitting(false);
  Begin("mp3", "S");
  Feed({"T:A", "a1", "T:"});
  EXPECT_FALSE(HeldOpen(temp.Path() / "A.mp3"));
  Feed({"between", "T:A", "a2", "T:", "T:A", "a3"});
  EXPECT_EQ(Files(), (std::set<std::string>{"A.mp3", "S.mp3", "A(1).mp3", "A(2).mp3"}));
  EXPECT_EQ(Content("A.mp3"), "a1");
  EXPECT_EQ(Content("S.mp3"), "between");
  EXPECT_EQ(Content("A(1).mp3"), "a2");
  EXPECT_EQ(Content("A(2).mp3"), "a3");
}

// Smart Splitting's overlap comes with every title change, the empty one
// included, but never carries audio from after a dropped connection ("drop":
// the connection fails and a new response begins) into a file from before it.
TEST_F(RecordingWriterTest, SmartSplittingOverlapsEveryTitleChangeButNeverAcrossADrop) {
  struct Case {
    const char* name;
    bool cutAtSilence;  // the cutter places the cuts: no overlap at all
    std::vector<std::string> calls;
    std::map<std::string, std::string> files;
  };
  const Case cases[] = {
      {"empty title", false, {"T:A", "a1", "T:", "u1", "u2"}, {{"A.mp3", "a1u1"}, {"S.mp3", "u1u2"}}},
      {"empty title, cutting at silence", true, {"T:A", "a1", "T:", "u1"}, {{"A.mp3", "a1"}, {"S.mp3", "u1"}}},
      {"drop, then a new title", false, {"T:A", "a1", "drop", "T:B", "b1"}, {{"A.mp3", "a1"}, {"B.mp3", "b1"}}},
      {"drop, then the empty title", false, {"T:A", "a1", "drop", "T:", "u1"}, {{"A.mp3", "a1"}, {"S.mp3", "u1"}}},
      {"title before the drop, its block after", false, {"T:A", "a1", "T:B", "drop", "b1", "T:C", "c1"},
       {{"A.mp3", "a1"}, {"B.mp3", "b1c1"}, {"C.mp3", "c1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir directory;
    writer = std::make_unique<RecordingWriter>();
    writer->SetDirectory(directory.Path().string());
    RecordingOptions options;
    options.cutAtSilence = c.cutAtSilence;
    writer->SetRecordingOptions(options);
    Begin("mp3", "S");
    for (const std::string& call : c.calls) {
      if (call == "drop") {
        writer->OnText(StreamEvent::State, "Error on connecting");
        Begin("mp3", "S");
      } else {
        Feed({call});
      }
    }
    Stop();
    std::map<std::string, std::string> files;
    for (const std::string& name : Files(directory.Path())) {
      files[name] = ReadFileBytes(directory.Path() / name);
    }
    EXPECT_EQ(files, c.files);
  }
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

  // A folder removed while recording is made again for the next file; a
  // file where the folder should be is reported.
  fs::remove_all(temp.Path() / "later");
  Feed({"T:C", "c1"});
  EXPECT_EQ(ReadFileBytes(temp.Path() / "later/deeper/C.mp3"), "c1");
  EXPECT_FALSE(writer->LastError());
  writer->SetDirectory((temp.Path() / "blocker").string());
  Feed({"T:D", "d1"});
  ASSERT_TRUE(writer->LastError());
  EXPECT_EQ(writer->LastError()->path, (temp.Path() / "blocker").string());
}

// The title rules themselves: RecordingNameTest.
TEST_F(RecordingWriterTest, TitlesNameFilesInsideTheDirectoryOnly) {
  const std::string overlong(300, 'x');
  writer->SetSmartSplitting(false);
  for (const std::string& title : {std::string("../../.bashrc"), std::string("Caf\xE9"), overlong, overlong}) {
    Title(title);
    Audio(title.substr(0, 20));
    Title("");
  }
  const std::string stem = overlong.substr(0, RecordingWriter::kMaxStemBytes);
  EXPECT_EQ(Files(), (std::set<std::string>{"_._.._.bashrc.mp3", "Caf\xC3\xA9.mp3", stem + ".mp3", stem + "(1).mp3"}));
  EXPECT_EQ(Content("_._.._.bashrc.mp3"), "../../.bashrc");
  EXPECT_FALSE(fs::exists(temp.Path().parent_path().parent_path() / ".bashrc.mp3"));
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

TEST_F(RecordingWriterTest, FormatNamesTheExtensionOfEveryFileAfterIt) {
  for (const std::string format : {"aac", "ogg", "opus", "mp3", "wav"}) {
    Begin(format, "S");
    Feed({"T:" + format, "x"});
    Stop();
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"aac.aac", "ogg.ogg", "opus.opus", "mp3.mp3", "wav.mp3"}));
}

// A replaced connection that goes on under the same title: what the new one
// starts with decides between going on in the file and a new "(1)" file.
TEST_F(RecordingWriterTest, ReconnectSkipsTheRepeatedBurstOrStartsANewFileAfterAGap) {
  const std::string before = TestBytes(60000, 1);
  const std::string after = TestBytes(30000, 2);
  struct Case {
    const char* name;
    std::string newAudio;         // what the new connection sends
    std::string format;           // of the new connection
    std::string expectedFile;     // the first file, afterwards
    const char* newFileName;      // a second file expected, or ""
    std::string expectedNewFile;  // its contents
    const char* note;             // part of the writer's note
  };
  const Case cases[] = {
      {"burst", before.substr(before.size() - 29200) + after, "mp3", before + after, "", "", "29200 bytes"},
      {"burst longer than one block", before.substr(before.size() - 45000) + after, "mp3", before + after, "", "",
       "45000 bytes"},
      {"gap", after, "mp3", before, "A(1).mp3", after, "after a gap"},
      {"ends inside the burst", before.substr(before.size() - 20000, 5000), "mp3", before, "", "", "5000 bytes"},
      {"other format", before.substr(before.size() - 29200) + after, "aac", before, "A.aac",
       before.substr(before.size() - 29200) + after, "another format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir directory;
    writer = std::make_unique<RecordingWriter>();
    writer->SetDirectory(directory.Path().string());
    Begin("mp3", "S");
    Title("A");
    for (size_t at = 0; at < before.size(); at += 16000) {
      Audio(before.substr(at, 16000));
    }
    writer->OnText(StreamEvent::State, "Error on connecting");
    Begin(c.format, "S");
    Title("A");
    for (size_t at = 0; at < c.newAudio.size(); at += 7000) {
      Audio(c.newAudio.substr(at, 7000));
    }
    Stop();
    EXPECT_TRUE(ReadFileBytes(directory.Path() / "A.mp3") == c.expectedFile);
    EXPECT_EQ(Files(directory.Path()).size(), *c.newFileName == '\0' ? 1u : 2u);
    if (*c.newFileName != '\0') {
      EXPECT_TRUE(ReadFileBytes(directory.Path() / c.newFileName) == c.expectedNewFile);
    }
    const auto notes = writer->TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find(c.note), std::string::npos) << notes[0];
  }
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

namespace {

// The window reads a writer's state while the writer's disk hangs: none of
// that may wait for the write.
TEST(RecordingWriterDiskTest, AHungDiskNeverHoldsUpTheWritersReaders) {
  TempDir temp;
  RecordingWriter writer;
  writer.SetDirectory(temp.Path().string());
  std::mutex mutex;
  std::condition_variable changed;
  bool writing = false;
  bool released = false;
  writer.SetWriteFunction([&](int fd, const void* data, size_t size) {
    std::unique_lock<std::mutex> lock(mutex);
    writing = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    return ::write(fd, data, size);
  });
  std::thread worker([&] {
    writer.OnText(StreamEvent::Title, "Song");
    const StreamBuffer block("abc", 3);
    writer.OnAudio(block);
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return writing; }));
  }
  auto reads = std::async(std::launch::async, [&] {
    (void)writer.LastError();
    (void)writer.TakeNotes();
    (void)writer.Directory();
    writer.SetSmartSplitting(false);
    return writer.CurrentPath();
  });
  const bool answered = reads.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
  }
  changed.notify_all();
  worker.join();
  ASSERT_TRUE(answered) << "a reader waited for the hung write";
  EXPECT_EQ(reads.get(), (temp.Path() / "Song.mp3").string());
  EXPECT_EQ(writer.FilesWritten(), 1);
}

}  // namespace

namespace {

// With partial songs kept apart, only whole songs stay in the download
// directory: the first of a connection, one cut off by a stop or a lost
// connection, and one shorter than the minimum go under incomplete/.
TEST(RecordingWriterPartialTest, SongsThatAreNotWholeGoUnderIncomplete) {
  struct Case {
    const char* name;
    int32_t minLength;
    std::vector<std::string> calls;  // "F" a response begins, "T:x" a title, "L" the connection is lost, "S" stop
    std::set<std::string> whole;
    std::set<std::string> partial;
  };
  const std::string block(1000, 'x');
  const Case cases[] = {
      {"first and last of a connection", 0, {"F", "T:A", "a", "T:B", "b", "T:C", "c", "S"}, {"B.mp3"},
       {"A.mp3", "C.mp3"}},
      {"a title change after a reconnect", 0, {"F", "T:A", "a", "T:B", "b", "L", "F", "T:C", "c", "T:D", "d", "S"},
       {}, {"A.mp3", "B.mp3", "C.mp3", "D.mp3"}},
      {"shorter than the minimum", 2, {"F", "T:A", "a", "T:B", "b", "T:C", "ccc", "T:D", "d", "S"}, {"C.mp3"},
       {"A.mp3", "B.mp3", "D.mp3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    auto writer = std::make_unique<RecordingWriter>();
    writer->SetDirectory(temp.Path().string());
    writer->SetSmartSplitting(false);
    RecordingOptions options;
    options.keepPartialApart = true;
    options.minLengthSeconds = c.minLength;
    writer->SetRecordingOptions(options);
    writer->OnText(StreamEvent::Bitrate, "8");  // 1000 bytes a second
    for (const std::string& call : c.calls) {
      if (call == "F") {
        writer->OnText(StreamEvent::State, "Connected");
        writer->OnText(StreamEvent::Format, "mp3");
      } else if (call == "L") {
        writer->OnText(StreamEvent::State, "Error on connecting");
      } else if (call == "S") {
        writer->OnText(StreamEvent::State, "Disconnected");
        writer->OnText(StreamEvent::Title, "");
      } else if (call.rfind("T:", 0) == 0) {
        writer->OnText(StreamEvent::Title, call.substr(2));
      } else {
        std::string audio;
        for (size_t i = 0; i < call.size(); ++i) {
          audio += block;
        }
        const StreamBuffer buffer(audio.data(), static_cast<int32_t>(audio.size()));
        writer->OnAudio(buffer);
      }
    }
    writer.reset();
    std::set<std::string> whole;
    std::set<std::string> partial;
    for (const auto& entry : fs::directory_iterator(temp.Path())) {
      if (entry.is_regular_file()) {
        whole.insert(entry.path().filename().string());
      }
    }
    if (fs::exists(temp.Path() / "incomplete")) {
      for (const auto& entry : fs::directory_iterator(temp.Path() / "incomplete")) {
        partial.insert(entry.path().filename().string());
      }
    }
    EXPECT_EQ(whole, c.whole);
    EXPECT_EQ(partial, c.partial);
  }
}

}  // namespace

namespace {

// Tags are written when a file is closed, in front of the audio, which stays
// byte for byte what was recorded.
TEST(RecordingWriterTagsTest, ClosedFilesAreTaggedAndKeepTheirAudio) {
  TempDir temp;
  auto writer = std::make_unique<RecordingWriter>();
  writer->SetDirectory(temp.Path().string());
  RecordingOptions options;
  options.tags = true;
  writer->SetRecordingOptions(options);
  writer->SetSourceUrl("http://radio.example/stream");
  writer->OnText(StreamEvent::Station, "Loopback FM");
  writer->OnText(StreamEvent::Title, "Band - Song");
  const std::string audio = TestBytes(5000, 31);
  const StreamBuffer block(audio.data(), static_cast<int32_t>(audio.size()));
  writer->OnAudio(block);
  writer.reset();
  const std::string file = ReadFileBytes(temp.Path() / "Band - Song.mp3");
  ASSERT_GT(file.size(), audio.size());
  EXPECT_EQ(file.substr(0, 4), std::string("ID3\x04", 4));
  EXPECT_TRUE(file.substr(file.size() - audio.size()) == audio);
  EXPECT_NE(file.find("Loopback FM"), std::string::npos);
  EXPECT_NE(file.find("Band"), std::string::npos);
}

}  // namespace

namespace {

// A producer that ends its reads (OnReadEnd) gets each read's blocks in one
// write per file; every byte still lands in its title's file, in order, and
// a write that fails at the read's end is reported as a block's would be.
TEST(RecordingWriterGatherTest, EachReadIsOneWritePerFileAndNothingIsLostOrMoved) {
  struct Case {
    const char* name;
    std::vector<std::string> calls;  // "T:x" a title, "E" a read ends, else an audio block
    std::vector<size_t> writes;      // the sizes write() saw, in order
    std::map<std::string, std::string> files;
  };
  const Case cases[] = {
      {"before the first read end, a write per block", {"T:A", "aa", "aaa", "E", "aaaa", "a", "E"}, {2, 3, 5},
       {{"A.mp3", "aaaaaaaaaa"}}},
      {"a stop without a read end writes what was gathered", {"T:A", "a", "E", "aa", "aaa"}, {1, 5},
       {{"A.mp3", "aaaaaa"}}},
  };
  for (const Case& c : cases) {
    TempDir temp;
    RecordingWriter writer;
    writer.SetDirectory(temp.Path().string());
    writer.SetSmartSplitting(false);
    std::vector<size_t> writes;
    writer.SetWriteFunction([&](int fd, const void* data, size_t size) {
      writes.push_back(size);
      return ::write(fd, data, size);
    });
    for (const std::string& call : c.calls) {
      if (call.rfind("T:", 0) == 0) {
        writer.OnText(StreamEvent::Title, call.substr(2));
      } else if (call == "E") {
        writer.OnReadEnd();
      } else {
        writer.OnAudio(StreamBuffer(call.data(), static_cast<int32_t>(call.size())));
      }
    }
    writer.Reset();
    EXPECT_EQ(writes, c.writes) << c.name;
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(temp.Path())) {
      files[entry.path().filename().string()] = ReadFileBytes(entry.path());
    }
    EXPECT_EQ(files, c.files) << c.name;
  }

  // A gathered read that cannot be written: the read's end throws and the
  // reason is the writer's last error, as for a block written at once.
  TempDir temp;
  RecordingWriter writer;
  writer.SetDirectory(temp.Path().string());
  writer.SetWriteFunction([](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  });
  writer.OnText(StreamEvent::Title, "A");
  writer.OnReadEnd();
  writer.OnAudio(StreamBuffer("abc", 3));
  EXPECT_THROW(writer.OnReadEnd(), std::system_error);
  ASSERT_TRUE(writer.LastError());
  EXPECT_NE(writer.LastError()->reason.find("space"), std::string::npos);
}

}  // namespace

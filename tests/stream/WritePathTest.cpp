// The path of an audio byte from the socket to the file: the connection's
// receive buffer, the stream's read buffer (lent to the writer, never
// copied), the demultiplexer and the writer. Whatever shape the bytes come
// in (reads cut inside audio, inside metadata, one byte at a time; blocks of
// one byte or of a megabyte), the files hold exactly the audio of each
// title, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "support/Eventually.h"
#include "support/IcyTestServer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Shape {
  const char* name;
  size_t interval;      // icy-metaint; 0: no metadata
  size_t audioBytes;    // may end inside an interval: a tail without metadata
  std::vector<TitleCue> cues;
  size_t pieceSize;     // the server sends in pieces this large (0: at once)
  int32_t readSize;     // the stream's bytes per read (0: its default)
  bool fileSplitting;
};

// What the files must hold: each title's audio (an empty title: the
// station's), or everything in one file when splitting is off. The first
// interval belongs to the title of the first metadata block, so no cue
// falls on the first interval's end.
std::map<std::string, std::string> ExpectedFiles(const Shape& shape, const std::string& audio) {
  std::map<std::string, std::string> files;
  if (!shape.fileSplitting) {
    files["*"] = audio;
    return files;
  }
  for (size_t i = 0; i < shape.cues.size(); ++i) {
    const size_t from = shape.cues[i].audioOffset;
    const size_t to = i + 1 < shape.cues.size() ? shape.cues[i + 1].audioOffset : audio.size();
    const std::string name = (shape.cues[i].title.empty() ? "Loopback FM" : shape.cues[i].title) + ".mp3";
    files[name] += audio.substr(from, to - from);
  }
  return files;
}

class WritePathTest : public testing::TestWithParam<Shape> {};

TEST_P(WritePathTest, FilesHoldEveryTitlesAudioExactly) {
  const Shape& shape = GetParam();
  const std::string audio = TestBytes(shape.audioBytes, 9);
  IcyResponse response;
  response.head = "ICY 200 OK\r\ncontent-type:audio/mpeg\r\nicy-name:Loopback FM\r\n";
  if (shape.interval > 0) {
    response.head += "icy-metaint:" + std::to_string(shape.interval) + "\r\n";
    response.body = InterleaveMetadata(audio, shape.interval, shape.cues);
  } else {
    response.body = audio;
  }
  response.head += "\r\n";
  response.pieceSize = shape.pieceSize;

  // The server ends the response, so the stream hands on the tail after
  // the last metadata block; the reconnect finds a silent one.
  IcyTestServer server;
  server.Push(response);
  server.Push({response.head, "", IcyResponse::kEverything, true});
  TempDir dir;
  RecordingWriter writer;
  writer.SetDirectory(dir.Path().string());
  writer.SetFileSplitting(shape.fileSplitting);
  writer.SetSmartSplitting(false);  // every byte in exactly one file
  ServerStream stream;
  stream.SetReadSize(shape.readSize);
  stream.SetUrl(server.Url("/stream"));
  stream.AddObserver(&writer);
  stream.Toggle();
  EXPECT_TRUE(Eventually([&] { return static_cast<size_t>(writer.BytesWritten()) >= audio.size(); }))
      << writer.BytesWritten() << " of " << audio.size();
  stream.Stop();
  stream.ClearObservers();

  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    files[shape.fileSplitting ? entry.path().filename().string() : "*"] += ReadFileBytes(entry.path());
  }
  const auto expected = ExpectedFiles(shape, audio);
  ASSERT_EQ(files.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    ASSERT_EQ(files.count(name), 1u) << name;
    EXPECT_EQ(files.at(name).size(), bytes.size()) << name;
    EXPECT_TRUE(files.at(name) == bytes) << name << " differs";
  }
}

constexpr size_t kMiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Shapes, WritePathTest,
    testing::Values(
        Shape{"OneByteBlocksInSevenBytePieces", 1, 3001, {{0, "Tiny A"}, {1500, "Tiny B"}}, 7, 0, true},
        Shape{"TitleAtEveryBlock", 100, 450, {{0, "T1"}, {200, "T2"}, {300, "T3"}, {400, "T4"}}, 0, 0, true},
        Shape{"StationSizedBlocksAtOnce", 16000, 200123, {{0, "Song A"}, {64000, "Song B"}, {128000, "Song C"}},
              0, 0, true},
        Shape{"ReadsCutInsideAudioAndMetadata", 16000, 200123,
              {{0, "Song A"}, {64000, ""}, {128000, "Song C"}}, 997, 777, true},
        Shape{"ReadsLargerThanTheReceiveBuffer", 16000, 300123, {{0, "Song A"}, {160000, "Song B"}}, 0, 200000,
              true},
        Shape{"MegabyteBlocks", kMiB, 3 * kMiB + 123, {{0, "Huge A"}, {2 * kMiB, "Huge B"}}, 0, 0, true},
        Shape{"NoMetadata", 0, 150000, {{0, ""}}, 4096, 0, true},
        Shape{"SplittingOffAtOnce", 16000, 200123, {{0, "Song A"}, {64000, "Song B"}}, 0, 0, false},
        Shape{"SplittingOffInPieces", 1000, 20123, {{0, "Song A"}, {7000, "Song B"}}, 333, 500, false}),
    [](const testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

}  // namespace

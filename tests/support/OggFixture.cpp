#include "support/OggFixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "base/UniqueFd.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

struct ToolResult {
  int exitCode = -1;  // -1: could not run, or did not exit normally
  std::string errorOutput;
};

// Runs a program found on PATH with stdin and stdout on /dev/null and
// collects what it writes to stderr.
ToolResult RunTool(std::vector<std::string> arguments) {
  ToolResult result;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    return result;
  }
  UniqueFd readEnd(pipeEnds[0]);
  UniqueFd writeEnd(pipeEnds[1]);

  const pid_t pid = SpawnChild(std::move(arguments), "/dev/null", writeEnd.Get());
  writeEnd.Reset();  // so that the read below ends when the child does
  if (pid <= 0) {
    return result;
  }

  char buffer[4096];
  while (true) {
    const ssize_t got = read(readEnd.Get(), buffer, sizeof buffer);
    if (got > 0) {
      result.errorOutput.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return result;
    }
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool RunsCleanly(std::vector<std::string> arguments) {
  const ToolResult result = RunTool(std::move(arguments));
  return result.exitCode == 0 && result.errorOutput.empty();
}

// ffmpeg's metadata file format escapes these with a backslash; the values
// then pass through unchanged, whatever their size or bytes.
std::string EscapeMetadata(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char character : text) {
    if (character == '=' || character == ';' || character == '#' || character == '\\' || character == '\n') {
      escaped.push_back('\\');
    }
    escaped.push_back(character);
  }
  return escaped;
}

void WriteMetadataFile(const std::filesystem::path& file, const OggSong& song) {
  std::string text = ";FFMETADATA1\n";
  auto addComment = [&text](const std::string& key, const std::string& value) {
    text += EscapeMetadata(key) + "=" + EscapeMetadata(value) + "\n";
  };
  if (!song.extraCommentsLast) {
    for (const auto& [key, value] : song.extraComments) {
      addComment(key, value);
    }
  }
  if (!song.title.empty()) {
    addComment("title", song.title);
  }
  if (!song.artist.empty()) {
    addComment("artist", song.artist);
  }
  if (song.extraCommentsLast) {
    for (const auto& [key, value] : song.extraComments) {
      addComment(key, value);
    }
  }
  WriteFileBytes(file, text);
}

}  // namespace

bool FfmpegAvailable() {
  static const bool available =
      RunTool({"ffmpeg", "-version"}).exitCode == 0 && RunTool({"ffprobe", "-version"}).exitCode == 0;
  return available;
}

std::string MakeChainedOgg(OggCodec codec, const std::vector<OggSong>& songs,
                           const std::filesystem::path& workDirectory, std::vector<size_t>* songOffsets) {
  std::string stream;
  if (songOffsets != nullptr) {
    songOffsets->clear();
  }
  for (size_t index = 0; index < songs.size(); ++index) {
    const OggSong& song = songs[index];
    const std::string base = "ogg-song-" + std::to_string(index);
    const std::filesystem::path metadata = workDirectory / (base + ".txt");
    const std::filesystem::path output = workDirectory / (base + ".ogg");
    WriteMetadataFile(metadata, song);
    const std::string tone =
        "sine=frequency=" + std::to_string(330 + 110 * index) + ":sample_rate=48000:duration=" +
        std::to_string(song.seconds);
    // bitexact makes the serial exactly serial_offset (and the output
    // repeatable); the offsets keep the chained streams' serials apart.
    const ToolResult result = RunTool({"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y",
                                       "-f", "lavfi", "-i", tone, "-f", "ffmetadata", "-i", metadata.string(),
                                       "-map", "0:a", "-map_metadata", "1",
                                       "-c:a", codec == OggCodec::Opus ? "libopus" : "libvorbis",
                                       "-fflags", "+bitexact", "-serial_offset",
                                       std::to_string(1000 * (index + 1)), "-f", "ogg", output.string()});
    if (result.exitCode != 0) {
      throw std::runtime_error("ffmpeg could not make " + output.string() + ": " + result.errorOutput);
    }
    if (songOffsets != nullptr) {
      songOffsets->push_back(stream.size());
    }
    stream += ReadFileBytes(output);
  }
  return stream;
}

bool FfprobeReadsWithoutError(const std::filesystem::path& file) {
  return RunsCleanly({"ffprobe", "-v", "error", file.string()}) &&
         RunsCleanly({"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-i", file.string(), "-f", "null", "-"});
}

#include "support/SongFixture.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "base/UniqueFd.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

constexpr int kSampleRate = 44100;
// sine's tones peak at 1/8 of full scale.
constexpr double kSineDb = -18.0618;
// Below this every decoded sample of a gap stays (-80 dBFS).
constexpr double kSilentSample = 1e-4;
constexpr double kMinSilenceMs = 50.0;

// Runs a program found on PATH with its output into outputFile; throws with
// its error output when it fails.
void Run(std::vector<std::string> arguments, const std::filesystem::path& outputFile,
         const std::filesystem::path& errorFile) {
  const std::string what = arguments.front();
  UniqueFd errors(::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  const pid_t pid = SpawnChild(std::move(arguments), outputFile.string(), errors.Get());
  errors.Reset();
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      break;
    }
  }
  if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(what + " failed: " + ReadFileBytes(errorFile));
  }
}

std::string Number(double value) {
  std::ostringstream text;
  text.precision(6);
  text << std::fixed << value;
  return text.str();
}

// An ffmpeg filter graph that plays the parts one after the other.
std::string FilterGraph(const std::vector<SongPart>& parts) {
  std::string graph;
  std::string inputs;
  for (size_t index = 0; index < parts.size(); ++index) {
    const SongPart& part = parts[index];
    const std::string label = "[p" + std::to_string(index) + "]";
    const std::string rate = std::to_string(kSampleRate);
    const std::string seconds = Number(part.seconds);
    std::string source;
    if (part.frequency <= 0.0) {
      source = "anullsrc=r=" + rate;
      source += ":cl=mono,atrim=duration=" + seconds;
    } else if (part.noise) {
      source = "anoisesrc=r=" + rate + ":c=white:seed=" + std::to_string(1000 + index);
      source += ":a=" + Number(std::pow(10.0, part.levelDb / 20)) + ":d=" + seconds;
      source += ",bandpass=f=" + Number(part.frequency) + ":width_type=o:w=1";
    } else {
      source = "sine=frequency=" + Number(part.frequency) + ":sample_rate=" + rate;
      source += ":duration=" + seconds + ",volume=" + Number(part.levelDb - kSineDb) + "dB";
    }
    graph += source;
    graph += label + ";";
    inputs += label;
  }
  return graph + inputs + "concat=n=" + std::to_string(parts.size()) +
         ":v=0:a=1,aformat=sample_fmts=fltp:sample_rates=" + std::to_string(kSampleRate) +
         ":channel_layouts=stereo[out]";
}

std::vector<SongFrame> ReadFrames(const std::string& listing, double frameMs) {
  std::vector<SongFrame> frames;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    SongFrame frame;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      if (field.rfind("pos=", 0) == 0) {
        frame.offset = std::stoul(field.substr(4));
      } else if (field.rfind("size=", 0) == 0) {
        frame.size = std::stoul(field.substr(5));
      }
    }
    if (frame.size == 0) {
      continue;
    }
    if (!frames.empty() && frames.back().offset + frames.back().size != frame.offset) {
      throw std::runtime_error("ffprobe's packets leave a gap at byte " + std::to_string(frame.offset));
    }
    frame.startMs = static_cast<double>(frames.size()) * frameMs;
    frames.push_back(frame);
  }
  return frames;
}

std::vector<SongSpan> FindSilences(const std::string& pcm) {
  std::vector<float> samples(pcm.size() / sizeof(float));
  std::memcpy(samples.data(), pcm.data(), samples.size() * sizeof(float));
  std::vector<SongSpan> silences;
  const auto minimum = static_cast<size_t>(kMinSilenceMs * kSampleRate / 1000);
  size_t start = 0;
  for (size_t index = 0; index <= samples.size(); ++index) {
    if (index < samples.size() && std::fabs(samples[index]) < kSilentSample) {
      continue;
    }
    if (index - start >= minimum) {
      silences.push_back({1000.0 * static_cast<double>(start) / kSampleRate,
                          1000.0 * static_cast<double>(index) / kSampleRate});
    }
    start = index + 1;
  }
  return silences;
}

}  // namespace

size_t SongAudio::FrameAtOffset(size_t offset) const {
  for (size_t index = 0; index < frames.size(); ++index) {
    if (frames[index].offset == offset) {
      return index;
    }
  }
  return frames.size();
}

size_t SongAudio::FrameNearMs(double ms) const {
  size_t best = 0;
  for (size_t index = 0; index < frames.size(); ++index) {
    if (std::fabs(frames[index].startMs - ms) < std::fabs(frames[best].startMs - ms)) {
      best = index;
    }
  }
  return best;
}

SongAudio MakeSongs(SongCodec codec, const std::vector<SongPart>& parts, const std::filesystem::path& workDirectory) {
  const bool mp3 = codec == SongCodec::Mp3;
  const std::filesystem::path encoded = workDirectory / (mp3 ? "song-audio.mp3" : "song-audio.aac");
  const std::filesystem::path errors = workDirectory / "song-audio.err";
  std::vector<std::string> encode = {"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y",
                                     "-filter_complex", FilterGraph(parts), "-map", "[out]", "-b:a", "128k"};
  if (mp3) {
    encode.insert(encode.end(), {"-c:a", "libmp3lame", "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3"});
  } else {
    encode.insert(encode.end(), {"-c:a", "aac", "-f", "adts"});
  }
  encode.push_back(encoded.string());
  Run(std::move(encode), "/dev/null", errors);

  SongAudio audio;
  audio.bytes = ReadFileBytes(encoded);
  audio.frameMs = (mp3 ? 1152.0 : 1024.0) * 1000.0 / kSampleRate;
  const std::filesystem::path listing = workDirectory / "song-audio.packets";
  Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size", "-of",
       "compact=p=0", encoded.string()},
      listing, errors);
  audio.frames = ReadFrames(ReadFileBytes(listing), audio.frameMs);

  const std::filesystem::path pcm = workDirectory / "song-audio.pcm";
  Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", encoded.string(), "-ac", "1", "-f", "f32le", pcm.string()},
      "/dev/null", errors);
  audio.silences = FindSilences(ReadFileBytes(pcm));

  // The encoder's delay: how far the decoded gaps lie from the asked ones.
  double nominalMs = 0.0;
  double delaySum = 0.0;
  int delays = 0;
  for (const SongPart& part : parts) {
    const double middle = nominalMs + part.seconds * 500.0;
    if (part.frequency <= 0.0) {
      for (const SongSpan& silence : audio.silences) {
        if (std::fabs(silence.MiddleMs() - middle) < 100.0) {
          delaySum += silence.MiddleMs() - middle;
          ++delays;
        }
      }
    }
    nominalMs += part.seconds * 1000.0;
  }
  // libmp3lame's and ffmpeg's AAC encoder's priming samples otherwise.
  const double delayMs = delays > 0 ? delaySum / delays : (mp3 ? 1105.0 : 1024.0) * 1000.0 / kSampleRate;
  nominalMs = 0.0;
  for (const SongPart& part : parts) {
    audio.parts.push_back({nominalMs + delayMs, nominalMs + part.seconds * 1000.0 + delayMs});
    nominalMs += part.seconds * 1000.0;
  }
  auto frameAtOrAfter = [&audio](double ms) {
    size_t index = 0;
    while (index < audio.frames.size() && audio.frames[index].startMs < ms) {
      ++index;
    }
    return index;
  };
  for (std::vector<SongSpan>* spans : {&audio.parts, &audio.silences}) {
    for (SongSpan& span : *spans) {
      span.firstFrame = frameAtOrAfter(span.startMs);
      span.endFrame = frameAtOrAfter(span.endMs);
    }
  }
  return audio;
}

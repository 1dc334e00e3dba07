#pragma once

// Test audio of songs and the silences between them, made with the ffmpeg
// and ffprobe programs on this machine and encoded as a station sends it:
// MP3 (libmp3lame, 128 kbit/s, no Xing frame, no ID3 tag) or AAC in ADTS
// frames (ffmpeg's encoder, 128 kbit/s), 44.1 kHz stereo.
//
//   if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
//   SongAudio audio = MakeSongs(SongCodec::Mp3, {{8.0, 440}, {0.6}, {8.0, 660}}, dir.Path());
//   const SongSpan& gap = audio.silences.at(0);  // where the 0.6 s really are
//
// Times are on the decoded timeline, as FFmpeg's decoders make it from the
// stream's first frame on (both decode every frame, nothing trimmed, so frame
// k begins at k * frameMs); an encoder's delay shifts the parts by some tens
// of milliseconds, and where a silence lies is found in the decoded audio.
// Nothing here touches the network. The functions run child processes and
// may be called from any thread, with distinct work directories.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

enum class SongCodec { Mp3, Aac };

// One stretch of test audio: a tone, a band of noise, or digital silence.
struct SongPart {
  double seconds = 1.0;
  double frequency = 0.0;  // Hz; 0: digital silence
  double levelDb = -6.0;   // peak level of the tone, or the noise's amplitude, dBFS
  bool noise = false;      // a band of noise around frequency instead of a tone
};

struct SongFrame {
  size_t offset = 0;  // in SongAudio::bytes
  size_t size = 0;
  double startMs = 0.0;
};

// A stretch of the decoded timeline, with the frames that begin inside it.
struct SongSpan {
  double startMs = 0.0;
  double endMs = 0.0;
  size_t firstFrame = 0;  // the first frame that begins at or after startMs
  size_t endFrame = 0;    // the first frame that begins at or after endMs
  double MiddleMs() const { return (startMs + endMs) / 2; }
};

struct SongAudio {
  std::string bytes;
  std::vector<SongFrame> frames;  // every frame, in order; they tile bytes
  double frameMs = 0.0;
  // Every part as asked for, shifted by the encoder's delay as measured on
  // the silences (or as the encoder documents it when there are none).
  std::vector<SongSpan> parts;
  // Digital silence as decoded: runs of at least 50 ms in which no sample
  // reaches -80 dBFS.
  std::vector<SongSpan> silences;

  // The frame that begins at byte offset; frames.size() when none does.
  size_t FrameAtOffset(size_t offset) const;
  // The frame whose beginning lies nearest ms.
  size_t FrameNearMs(double ms) const;
  // The byte offset at which the frame nearest ms begins.
  size_t OffsetNearMs(double ms) const { return frames.at(FrameNearMs(ms)).offset; }
};

// The parts encoded in order as one stream in workDirectory (which must
// exist; files named song-audio.* are replaced there). Throws
// std::runtime_error when ffmpeg or ffprobe fails, with their error output.
SongAudio MakeSongs(SongCodec codec, const std::vector<SongPart>& parts, const std::filesystem::path& workDirectory);

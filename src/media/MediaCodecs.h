#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioFormat.h"
#include "base/ModuleLoader.h"

// What the program asks of FFmpeg, as one interface: unpacking HLS segment
// containers, finding the frames of MPEG audio and ADTS AAC, and decoding
// frames to measure how loud they are. The code behind it lives in our
// shared module (libdriftharbour-media.so, built from src/media/ffmpeg/),
// which MediaLoader opens on first use, so that a plain ICY or Ogg stream
// never maps FFmpeg's libraries. Nothing outside the module sees a libav
// header; only the types below cross.
//
// The module and the programs come from one build: kInterfaceVersion is
// checked at load, and the types use the same C++ standard library.
namespace media {

// Raised whenever a type below changes shape.
inline constexpr int kInterfaceVersion = 1;
// The module's file name and its one exported C function, a
// ModuleLoader::Entry: it returns the module's MediaCodecs, or null when
// the version differs.
inline constexpr const char* kModuleFileName = "libdriftharbour-media.so";
inline constexpr const char* kEntryName = "driftharbour_media_codecs";
inline constexpr ModuleLoader::Module kModule{kModuleFileName, kEntryName, kInterfaceVersion, "media module", "FFmpeg"};

// ---- HLS segments --------------------------------------------------------

enum class UnpackOutcome { Audio, Malformed, Unsupported };

struct SegmentTitle {
  int64_t audioOffset = 0;  // the title takes effect at this byte of audio
  std::string title;
};

struct UnpackedSegment {
  UnpackOutcome outcome = UnpackOutcome::Malformed;
  std::string reason;  // in plain words, when outcome is not Audio
  AudioFormat format = AudioFormat::Aac;
  std::vector<uint8_t> audio;
  std::vector<SegmentTitle> titles;  // in offset order; offsets never beyond audio.size()
};

// ---- frames and levels ---------------------------------------------------

// The codecs the frame splitter and the level meter know.
enum class FrameCodec { None, Mpeg, Aac };

// Splits a response's audio into frames as it arrives (FFmpeg's parser).
// Owned by one thread.
class FrameSplitter {
 public:
  virtual ~FrameSplitter() = default;
  // Called for each whole frame found: where it ends in the bytes fed so
  // far, and its bytes (valid during the call only; they may be the
  // splitter's own copy, merged with junk before it).
  using FrameFound = std::function<void(int64_t end, const uint8_t* bytes, int32_t size)>;
  // Feeds the next size bytes. False when the parser failed or stopped
  // making progress: it finds nothing more, and should be dropped.
  virtual bool Feed(const uint8_t* data, int32_t size, const FrameFound& found) = 0;
};

// One frame to decode: its bytes (valid during the call) and its length in
// time, which stands in for a frame that will not decode.
struct FrameBytes {
  const uint8_t* data = nullptr;
  int32_t size = 0;
  int64_t durationUs = 0;
};

// Mean square levels (channels averaged, as fractions of full scale) of
// consecutive blocks of decoded samples.
struct SampleLevels {
  std::vector<double> blocks;  // mean square level of each block
  int64_t blockLength = 0;     // samples in a block
  int32_t rate = 0;            // samples per second
  // The decoded sample at which each measured frame begins, and after the
  // last one the count of all measured samples.
  std::vector<int64_t> starts;
};

// An open decoder that measures loudness. Owned by one thread.
class LevelMeter {
 public:
  virtual ~LevelMeter() = default;
  // Decodes frames[0, count), flushing the decoder first, and measures
  // frames[from, count) in blocks of blockMs; the frames before `from` only
  // warm the decoder up. A frame that will not decode, or a sample format
  // the meter cannot read, counts as loud. Nothing when no frame decodes.
  virtual std::optional<SampleLevels> Measure(const FrameBytes* frames, size_t count, size_t from,
                                              int32_t blockMs) = 0;
};

// ---- the module ------------------------------------------------------------

// Stateless and safe from any thread; the objects it makes are owned by
// their caller. Lives as long as the process (the module is never closed).
class MediaCodecs {
 public:
  // Unpacks one HLS segment (see media/SegmentUnpacker.h for what comes out).
  virtual UnpackedSegment Unpack(std::string_view segment, std::string_view init) const = 0;
  // A frame splitter for codec (not None); null when FFmpeg has no parser.
  virtual std::unique_ptr<FrameSplitter> NewFrameSplitter(FrameCodec codec) const = 0;
  // A decoder for codec (mpegLayer 1 to 3 for Mpeg); null when none opens.
  virtual std::unique_ptr<LevelMeter> NewLevelMeter(FrameCodec codec, int32_t mpegLayer) const = 0;

 protected:
  ~MediaCodecs() = default;
};

}  // namespace media

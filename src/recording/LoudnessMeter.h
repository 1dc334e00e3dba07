#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "recording/FrameIndex.h"

class HeldAudio;

// Decodes held frames with FFmpeg's libavcodec and measures how loud they
// are: the mean square level (channels averaged, as fractions of full scale)
// of each SilenceCutter::kBlockMs block of the decoded samples. A frame that
// will not decode counts as loud, so it is never taken for silence; so does
// a sample format the meter cannot read.
//
// The decoder lives in the media module (a media::LevelMeter, loaded through
// MediaLoader): it is opened at the first Measure of a response (for the
// codec and MPEG layer then known) and flushed before each later one. Owns
// it. Without the module nothing is measured. Not thread-safe: the cutter's
// thread alone uses it.
class LoudnessMeter {
 public:
  // blocks (mean square level of each block), blockLength (samples in a
  // block), rate (samples per second), and starts: the decoded sample at
  // which each measured frame begins, and after the last one the count of
  // all measured samples.
  using Levels = media::SampleLevels;

  LoudnessMeter();
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // A new response: the decoder is opened again when next needed.
  void Reset();
  // Decodes frames[preroll, end) of held and measures frames[from, end)
  // (preroll <= from < end), the frames before `from` only warming the
  // decoder up (an MP3 frame's bit reservoir lies in the frames before it).
  // Nothing when no decoder opens or no frame decodes.
  std::optional<Levels> Measure(const std::deque<AudioFrame>& frames, size_t preroll, size_t from, size_t end,
                                const HeldAudio& held, FrameCodec codec, int32_t mpegLayer);

 private:
  bool Open(FrameCodec codec, int32_t mpegLayer);

  std::unique_ptr<media::LevelMeter> decoder;
  bool failed = false;  // the decoder would not open: no second try this response
  std::vector<media::FrameBytes> spans;  // the frames of one Measure
};

#pragma once

#include <memory>

#include "media/MediaCodecs.h"

struct AVCodecContext;

// Part of the media module. A media::LevelMeter over a libavcodec decoder
// for MPEG audio (layers I to III) or AAC; opened once, flushed before each
// Measure. Owns the decoder; one thread uses it.
class FfmpegLevelMeter : public media::LevelMeter {
 public:
  // Null when no decoder for codec (and mpegLayer, for MPEG audio) opens.
  static std::unique_ptr<FfmpegLevelMeter> Open(media::FrameCodec codec, int32_t mpegLayer);
  // Unusable until Open has given it a decoder.
  FfmpegLevelMeter() = default;

  std::optional<media::SampleLevels> Measure(const media::FrameBytes* frames, size_t count, size_t from,
                                             int32_t blockMs) override;

 private:
  struct ContextFreer {
    void operator()(AVCodecContext* context) const;
  };

  std::unique_ptr<AVCodecContext, ContextFreer> decoder;
};

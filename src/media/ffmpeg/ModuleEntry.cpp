// The media module's one exported function and the MediaCodecs behind it.
// Everything else in libdriftharbour-media.so is hidden, so the module's
// copies of our helpers never bind to a program's.

#include "media/SegmentUnpacker.h"
#include "media/MediaCodecs.h"
#include "media/ffmpeg/FfmpegFrameSplitter.h"
#include "media/ffmpeg/FfmpegLevelMeter.h"

namespace {

class FfmpegCodecs final : public media::MediaCodecs {
 public:
  media::UnpackedSegment Unpack(std::string_view segment, std::string_view init) const override {
    return SegmentUnpacker::Unpack(segment, init);
  }
  std::unique_ptr<media::FrameSplitter> NewFrameSplitter(media::FrameCodec codec) const override {
    return FfmpegFrameSplitter::Open(codec);
  }
  std::unique_ptr<media::LevelMeter> NewLevelMeter(media::FrameCodec codec, int32_t mpegLayer) const override {
    return FfmpegLevelMeter::Open(codec, mpegLayer);
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* driftharbour_media_codecs(int interfaceVersion) {
  static const FfmpegCodecs codecs;
  return interfaceVersion == media::kInterfaceVersion ? static_cast<const media::MediaCodecs*>(&codecs) : nullptr;
}

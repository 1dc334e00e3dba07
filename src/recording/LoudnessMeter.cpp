#include "recording/LoudnessMeter.h"

#include "media/MediaLoader.h"
#include "recording/HeldAudio.h"
#include "recording/SilenceCutter.h"

LoudnessMeter::LoudnessMeter() = default;

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Reset() {
  decoder.reset();
  failed = false;
}

bool LoudnessMeter::Open(FrameCodec codec, int32_t mpegLayer) {
  if (decoder) {
    return true;
  }
  if (failed) {
    return false;
  }
  const media::MediaCodecs* codecs = MediaLoader::Process().Codecs();
  if (codecs != nullptr) {
    decoder = codecs->NewLevelMeter(codec, mpegLayer);
  }
  failed = !decoder;
  return !failed;
}

std::optional<LoudnessMeter::Levels> LoudnessMeter::Measure(const std::deque<AudioFrame>& frames, size_t preroll,
                                                            size_t from, size_t end, const HeldAudio& held,
                                                            FrameCodec codec, int32_t mpegLayer) {
  if (!Open(codec, mpegLayer)) {
    return std::nullopt;
  }
  spans.clear();
  for (size_t at = preroll; at < end; ++at) {
    const AudioFrame& frame = frames[at];
    spans.push_back({held.At(frame.offset), frame.size, frame.durationUs});
  }
  return decoder->Measure(spans.data(), spans.size(), from - preroll, SilenceCutter::kBlockMs);
}

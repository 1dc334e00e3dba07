#include "recording/FrameIndex.h"

#include <algorithm>
#include <cstring>

#include "media/MediaLoader.h"
#include "recording/HeldAudio.h"
#include "recording/SilenceCutter.h"

namespace {

constexpr double kMicrosPerSecond = 1e6;

// What a frame header says about the frame's length in time.
struct FrameTiming {
  int32_t samples = 0;
  int32_t sampleRate = 0;
  int32_t layer = 0;  // MPEG audio only: 1, 2 or 3
};

// An MPEG audio frame header (ISO 11172-3 / 13818-3, and MPEG 2.5).
bool ReadMpegHeader(const uint8_t* data, int32_t size, FrameTiming& timing) {
  if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0) {
    return false;
  }
  const int version = (data[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
  const int layerBits = (data[1] >> 1) & 3;
  const int rateIndex = (data[2] >> 2) & 3;
  if (version == 1 || layerBits == 0 || rateIndex == 3 || (data[2] >> 4) == 15) {
    return false;
  }
  static constexpr int32_t kRates[3] = {44100, 48000, 32000};
  timing.sampleRate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  timing.layer = 4 - layerBits;
  timing.samples = timing.layer == 1 ? 384 : (timing.layer == 3 && version != 3) ? 576 : 1152;
  return true;
}

// An ADTS header (ISO 14496-3, 1.A.2).
bool ReadAdtsHeader(const uint8_t* data, int32_t size, FrameTiming& timing) {
  if (size < 7 || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0) {
    return false;
  }
  static constexpr int32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
  const int rateIndex = (data[2] >> 2) & 0x0F;
  if (rateIndex >= 13) {
    return false;
  }
  timing.sampleRate = kRates[rateIndex];
  timing.samples = 1024 * ((data[6] & 3) + 1);
  return true;
}

}  // namespace

FrameIndex::FrameIndex() = default;

FrameIndex::~FrameIndex() = default;

void FrameIndex::Begin(FrameCodec newCodec) {
  codec = newCodec;
  frames.clear();
  fromStart = true;
  frameBytes = frameMicros = 0;
  trackOffset = -1;
  trackUs = 0;
  splitter.reset();
  mpegLayer = 3;
  if (codec == FrameCodec::None) {
    return;
  }
  // FFmpeg is loaded here, by the first response a cutter looks into.
  MediaLoader& loader = MediaLoader::Process();
  const media::MediaCodecs* codecs = loader.Codecs();
  unavailable = codecs == nullptr ? loader.Failure() : std::string();
  if (codecs != nullptr) {
    // Without a splitter no frame is found: titles stay where they came.
    splitter = codecs->NewFrameSplitter(codec);
  }
}

void FrameIndex::Parse(const uint8_t* bytes, int32_t size, const HeldAudio& held) {
  if (splitter && !splitter->Feed(bytes, size, [&](int64_t end, const uint8_t* frame, int32_t frameSize) {
        Add(end - frameSize, frame, frameSize, held);
      })) {
    splitter.reset();  // a parser that makes no progress would hold us forever
  }
}

void FrameIndex::Add(int64_t offset, const uint8_t* bytes, int32_t size, const HeldAudio& held) {
  if (offset < held.Base() || offset + size > held.End()) {
    return;  // the parser's bytes are not where we hold them: nothing to cut at
  }
  FrameTiming timing;
  const bool header = codec == FrameCodec::Mpeg ? ReadMpegHeader(bytes, size, timing)
                                                : ReadAdtsHeader(bytes, size, timing);
  AudioFrame frame;
  frame.offset = offset;
  frame.size = size;
  if (header) {
    frame.durationUs = int64_t{timing.samples} * 1'000'000 / timing.sampleRate;
    if (codec == FrameCodec::Mpeg && frames.empty() && fromStart) {
      mpegLayer = timing.layer;
    }
  } else if (!frames.empty()) {
    frame.durationUs = frames.back().durationUs;
  }
  // The header must be the held bytes' own: the parser may have put a frame
  // together from its own buffer.
  frame.boundary = header && std::memcmp(held.At(offset), bytes, 4) == 0;
  frame.startUs = trackOffset < 0 ? static_cast<int64_t>(offset * kMicrosPerSecond / BytesPerSecond())
                                  : trackUs + static_cast<int64_t>((offset - trackOffset) * kMicrosPerSecond /
                                                                   BytesPerSecond());
  trackOffset = frame.End();
  trackUs = frame.EndUs();
  frameBytes += size;
  frameMicros += frame.durationUs;
  frames.push_back(frame);
}

void FrameIndex::DropBefore(int64_t position) {
  while (!frames.empty() && frames.front().offset < position) {
    frameBytes -= frames.front().size;
    frameMicros -= frames.front().durationUs;
    frames.pop_front();
    fromStart = false;
  }
}

double FrameIndex::BytesPerSecond() const {
  if (frameMicros > 0 && frameBytes > 0) {
    return frameBytes * kMicrosPerSecond / static_cast<double>(frameMicros);
  }
  return static_cast<double>(fallbackBytesPerSecond > 0 ? fallbackBytesPerSecond
                                                        : SilenceCutter::kDefaultBytesPerSecond);
}

int64_t FrameIndex::TimeAt(int64_t position) const {
  const double perByte = kMicrosPerSecond / BytesPerSecond();
  if (frames.empty()) {
    if (trackOffset < 0) {
      return static_cast<int64_t>(position * perByte);
    }
    return trackUs + static_cast<int64_t>((position - trackOffset) * perByte);
  }
  const auto after = std::upper_bound(frames.begin(), frames.end(), position,
                                      [](int64_t at, const AudioFrame& frame) { return at < frame.offset; });
  if (after == frames.begin()) {
    return frames.front().startUs - static_cast<int64_t>((frames.front().offset - position) * perByte);
  }
  const AudioFrame& frame = *(after - 1);
  if (position < frame.End()) {
    return frame.startUs + (position - frame.offset) * frame.durationUs / std::max(1, frame.size);
  }
  return frame.EndUs() + static_cast<int64_t>((position - frame.End()) * perByte);
}

#include "media/ffmpeg/FfmpegLevelMeter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>


namespace {

// libavcodec's error messages about a stream that starts mid-frame (a bit
// reservoir reaching into audio we never had) are expected here: raised by
// this much they stay below every log level but the most verbose.
constexpr int kQuietLogOffset = AV_LOG_TRACE;

struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// Adds the square of each of count samples (as fractions of full scale) to
// power, reading every stride-th value from first on.
template <typename Sample>
void AddSquares(const uint8_t* plane, int first, int stride, int count, double scale, double offset,
                std::vector<double>& power) {
  const auto* values = reinterpret_cast<const Sample*>(plane);
  for (int index = 0; index < count; ++index) {
    const double value = (static_cast<double>(values[first + index * stride]) - offset) * scale;
    power[static_cast<size_t>(index)] += value * value;
  }
}

// Mean square levels of consecutive blocks of equal length, fed with samples
// as the decoder makes them.
class BlockLevels {
 public:
  void Start(int32_t sampleRate, int32_t blockMs) {
    blockLength = std::max<int64_t>(1, int64_t{sampleRate} * blockMs / 1000);
    rate = sampleRate;
  }
  bool Started() const { return blockLength > 0; }
  int32_t Rate() const { return rate; }
  int64_t BlockLength() const { return blockLength; }
  int64_t Samples() const { return samples; }
  std::vector<double> TakeLevels() { return std::move(levels); }

  void AddFrame(const AVFrame& frame) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = std::max(1, frame.ch_layout.nb_channels);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int count = frame.nb_samples;
    power.assign(static_cast<size_t>(std::max(0, count)), 0.0);
    for (int channel = 0; channel < channels; ++channel) {
      const uint8_t* plane = frame.extended_data[planar ? channel : 0];
      const int first = planar ? 0 : channel;
      const int stride = planar ? 1 : channels;
      switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_FLT:
          AddSquares<float>(plane, first, stride, count, 1.0, 0.0, power);
          break;
        case AV_SAMPLE_FMT_DBL:
          AddSquares<double>(plane, first, stride, count, 1.0, 0.0, power);
          break;
        case AV_SAMPLE_FMT_S16:
          AddSquares<int16_t>(plane, first, stride, count, 1.0 / 32768, 0.0, power);
          break;
        case AV_SAMPLE_FMT_S32:
          AddSquares<int32_t>(plane, first, stride, count, 1.0 / 2147483648.0, 0.0, power);
          break;
        case AV_SAMPLE_FMT_U8:
          AddSquares<uint8_t>(plane, first, stride, count, 1.0 / 128, 128.0, power);
          break;
        default:
          AddLoud(count);  // a format we cannot read is never taken for silence
          return;
      }
    }
    for (double& sum : power) {
      sum /= channels;
    }
    Add(power.data(), power.size());
  }
  // Samples of a frame that would not decode: loud, so never a cut.
  void AddLoud(int64_t count) {
    const std::vector<double> loud(static_cast<size_t>(std::max<int64_t>(0, count)), 1.0);
    Add(loud.data(), loud.size());
  }

 private:
  void Add(const double* powers, size_t count) {
    samples += static_cast<int64_t>(count);
    while (count > 0) {
      const size_t take = std::min(count, static_cast<size_t>(blockLength - filled));
      for (size_t index = 0; index < take; ++index) {
        sum += powers[index];
      }
      powers += take;
      count -= take;
      filled += static_cast<int64_t>(take);
      if (filled == blockLength) {
        levels.push_back(sum / static_cast<double>(blockLength));
        sum = 0.0;
        filled = 0;
      }
    }
  }

  int64_t blockLength = 0;
  int32_t rate = 0;
  int64_t samples = 0;
  int64_t filled = 0;
  double sum = 0.0;
  std::vector<double> levels;
  std::vector<double> power;  // of the frame being added, per sample
};

}  // namespace

void FfmpegLevelMeter::ContextFreer::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }

std::unique_ptr<FfmpegLevelMeter> FfmpegLevelMeter::Open(media::FrameCodec codec, int32_t mpegLayer) {
  if (codec == media::FrameCodec::None) {
    return nullptr;
  }
  const AVCodecID id = codec == media::FrameCodec::Aac ? AV_CODEC_ID_AAC
                       : mpegLayer == 1                ? AV_CODEC_ID_MP1
                       : mpegLayer == 2                ? AV_CODEC_ID_MP2
                                                       : AV_CODEC_ID_MP3;
  const AVCodec* found = avcodec_find_decoder(id);
  if (found == nullptr) {
    return nullptr;
  }
  auto meter = std::make_unique<FfmpegLevelMeter>();
  meter->decoder.reset(avcodec_alloc_context3(found));
  if (!meter->decoder) {
    return nullptr;
  }
  meter->decoder->log_level_offset = kQuietLogOffset;
  meter->decoder->thread_count = 1;  // one frame out per frame in, on this thread
  if (avcodec_open2(meter->decoder.get(), found, nullptr) < 0) {
    return nullptr;
  }
  return meter;
}

std::optional<media::SampleLevels> FfmpegLevelMeter::Measure(const media::FrameBytes* frames, size_t count,
                                                             size_t from, int32_t blockMs) {
  avcodec_flush_buffers(decoder.get());
  const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  const std::unique_ptr<AVFrame, FrameFreer> decoded(av_frame_alloc());
  if (!packet || !decoded || from >= count) {
    return std::nullopt;
  }
  BlockLevels levels;
  media::SampleLevels measured;
  measured.starts.assign(count - from + 1, 0);
  for (size_t at = 0; at < count; ++at) {
    const media::FrameBytes& frame = frames[at];
    const bool counted = at >= from;
    if (counted) {
      measured.starts[at - from] = levels.Samples();
    }
    int64_t made = 0;
    if (av_new_packet(packet.get(), frame.size) == 0) {
      std::memcpy(packet->data, frame.data, static_cast<size_t>(frame.size));
      if (avcodec_send_packet(decoder.get(), packet.get()) == 0) {
        while (avcodec_receive_frame(decoder.get(), decoded.get()) == 0) {
          if (!levels.Started() && decoded->sample_rate > 0) {
            levels.Start(decoded->sample_rate, blockMs);
          }
          if (counted && levels.Started()) {
            levels.AddFrame(*decoded);
            made += decoded->nb_samples;
          }
          av_frame_unref(decoded.get());
        }
      }
      av_packet_unref(packet.get());
    }
    if (counted && made == 0 && levels.Started()) {
      levels.AddLoud(frame.durationUs * levels.Rate() / 1'000'000);
    }
  }
  measured.starts.back() = levels.Samples();
  if (!levels.Started()) {
    return std::nullopt;
  }
  measured.blockLength = levels.BlockLength();
  measured.rate = levels.Rate();
  measured.blocks = levels.TakeLevels();
  return measured;
}

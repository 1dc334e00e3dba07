#include "recording/SilenceCutter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "stream/StreamBuffer.h"
#include "stream/StreamState.h"

namespace {

constexpr double kMicrosPerSecond = 1e6;
// A title change is decided once this much more than searchAfter is there,
// so that the parser, which hands a frame on only when it has seen its end,
// has found every frame of the range.
constexpr int64_t kDecideMarginUs = 100'000;
// What a held item costs beyond its audio bytes, for the hard bound.
constexpr int64_t kItemOverheadBytes = 64;
// Levels below this count as equal: the last bits of a lossy codec's
// rendering of digital silence say nothing about which gap is the real one.
constexpr double kFloorDb = -90.0;
// libavcodec's error messages about a stream that starts mid-frame (a bit
// reservoir reaching into audio we never had) are expected here: raised by
// this much they stay below every log level but the most verbose.
constexpr int kQuietLogOffset = AV_LOG_TRACE;
constexpr int64_t kReachUs = int64_t{SilenceCutter::kReachMs} * 1000;

struct ParserCloser {
  void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct CodecContextFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using ParserHandle = std::unique_ptr<AVCodecParserContext, ParserCloser>;
using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFreer>;

enum class Codec { None, Mpeg, Aac };

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
  void Start(int32_t sampleRate) {
    blockLength = std::max<int64_t>(1, int64_t{sampleRate} * SilenceCutter::kBlockMs / 1000);
    rate = sampleRate;
  }
  bool Started() const { return blockLength > 0; }
  int32_t Rate() const { return rate; }
  int64_t BlockLength() const { return blockLength; }
  int64_t Samples() const { return samples; }
  const std::vector<double>& Levels() const { return levels; }

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

double LevelDb(double power) { return power > 0.0 ? std::max(kFloorDb, 10.0 * std::log10(power)) : kFloorDb; }

}  // namespace

struct SilenceCutter::Impl {
  // What an item of the queue is. A Title's Url has its Title's role.
  enum class Role : uint8_t {
    Audio,
    Event,   // any other event, also a title whose place is settled
    Change,  // a title change whose cut is not decided yet
    Repeat,  // a title equal to the one before it
  };
  struct Item {
    Role role = Role::Event;
    bool url = false;       // the Url that follows a Title
    int64_t position = 0;   // audio bytes of the response before it
    int32_t size = 0;       // audio bytes (Audio)
    StreamEvent kind = StreamEvent::Title;
    std::string text;
  };
  struct Frame {
    int64_t offset = 0;
    int32_t size = 0;
    int64_t startUs = 0;
    int64_t durationUs = 0;
    bool boundary = false;  // a cut may go before it
    int64_t End() const { return offset + size; }
    int64_t EndUs() const { return startUs + durationUs; }
  };

  Impl(StreamObserver& observer, const RecordingOptions& recording)
      : next(observer),
        searchBeforeUs(std::max<int64_t>(0, recording.searchBeforeMs) * 1000),
        searchAfterUs(std::max<int64_t>(0, recording.searchAfterMs) * 1000),
        offsetUs(int64_t{recording.splitOffsetMs} * 1000),
        thresholdPower(std::pow(10.0, recording.silenceThresholdDbfs / 10.0)) {}

  // Constant after construction.
  StreamObserver& next;
  const int64_t searchBeforeUs;
  const int64_t searchAfterUs;
  const int64_t offsetUs;
  const double thresholdPower;

  // The rest is the worker's (or, while the worker is stopped, the
  // controlling thread's); only heldBytes is read from elsewhere.
  Codec codec = Codec::None;
  bool connected = false;
  bool audioInResponse = false;
  std::string lastTitle;        // the latest title in the stream's order
  int64_t icyBytesPerSecond = 0;  // from the Bitrate event; 0: none

  std::deque<Item> items;
  int64_t itemOverhead = 0;  // kItemOverheadBytes and texts of the items
  // Held audio: held[heldFront] is the response's byte `base`; `end` is the
  // response's audio byte count so far.
  std::vector<uint8_t> held;
  size_t heldFront = 0;
  int64_t base = 0;
  int64_t end = 0;
  int64_t lastCut = 0;  // where the last title of this response went
  std::atomic<int64_t> heldBytes{0};

  // Frames of the held audio, oldest first.
  std::deque<Frame> frames;
  bool framesFromStart = true;  // frames.front() is the response's first frame
  int64_t frameBytes = 0;       // sums over `frames`, for the bit rate
  int64_t frameMicros = 0;
  int64_t trackOffset = -1;  // where the last frame found ended (-1: none yet)
  int64_t trackUs = 0;       // and when
  int32_t mpegLayer = 3;
  ParserHandle parser;
  CodecContextHandle parserContext;
  int64_t parsedEnd = 0;  // bytes the parser has consumed
  std::vector<uint8_t> parseScratch;
  CodecContextHandle decoder;
  bool decoderFailed = false;

  void OnAudio(const uint8_t* data, int32_t size);
  void OnText(StreamEvent kind, std::string text);

  void BeginResponse(const std::string& format);
  void Ingest(const uint8_t* data, int32_t size);
  void Parse(const uint8_t* data, int32_t size);
  void AddFrame(int64_t offset, const uint8_t* bytes, int32_t size);
  double BytesPerSecond() const;
  int64_t TimeAt(int64_t position) const;
  const uint8_t* Address(int64_t position) const { return held.data() + heldFront + (position - base); }

  void Hold(Item item);
  void HoldOrPass(StreamEvent kind, std::string text);
  std::exception_ptr FlushAll();
  void FlushAndEnd(StreamEvent kind, std::string text);
  void DecideDue();
  void Release();
  void HandOnBefore(int64_t keepFrom);
  void HandOnFront();
  int64_t KeepFrom() const;
  void DropBefore(int64_t position);
  void UpdateHeld() { heldBytes.store(end - base, std::memory_order_relaxed); }
  int64_t HeldTotal() const { return (end - base) + itemOverhead; }

  std::optional<size_t> FirstChange(size_t from = 0) const;
  void Decide(size_t index);
  std::optional<size_t> ChooseFrame(size_t index);
  std::optional<int64_t> QuietMiddle(size_t reachLow, size_t reachEnd, size_t low, size_t high, int64_t targetUs,
                                     std::vector<int64_t>& starts);
  bool OpenDecoder();
  void Move(size_t index, int64_t cut);
  size_t SplitAt(int64_t position);
  void Settle(size_t index, int64_t cut);
};

SilenceCutter::SilenceCutter(StreamObserver& next, const RecordingOptions& options)
    : impl(std::make_unique<Impl>(next, options)) {}

SilenceCutter::~SilenceCutter() = default;

void SilenceCutter::Reset() {
  Flush();
  impl->BeginResponse("");
  impl->connected = false;
  impl->lastTitle.clear();
  impl->icyBytesPerSecond = 0;
}

void SilenceCutter::OnAudio(const StreamBuffer& audio) { impl->OnAudio(audio.Data(), audio.Size()); }

void SilenceCutter::OnText(StreamEvent kind, std::string text) { impl->OnText(kind, std::move(text)); }

void SilenceCutter::Flush() { (void)impl->FlushAll(); }

int64_t SilenceCutter::HeldBytes() const { return impl->heldBytes.load(std::memory_order_relaxed); }

void SilenceCutter::Impl::OnAudio(const uint8_t* data, int32_t size) {
  if (size <= 0) {
    return;
  }
  if (codec == Codec::None) {
    if (!items.empty()) {
      if (const std::exception_ptr failure = FlushAll()) {
        std::rethrow_exception(failure);
      }
    }
    const StreamBuffer block(data, size);
    next.OnAudio(block);
    return;
  }
  while (size > 0) {
    const int32_t piece = std::min(size, kMaxPieceBytes);
    Ingest(data, piece);
    data += piece;
    size -= piece;
  }
}

void SilenceCutter::Impl::OnText(StreamEvent kind, std::string text) {
  switch (kind) {
    case StreamEvent::State:
      if (text == StreamStateText(StreamState::Connected)) {
        connected = true;
        HoldOrPass(kind, std::move(text));
        return;
      }
      connected = false;
      FlushAndEnd(kind, std::move(text));
      return;
    case StreamEvent::Format: {
      const std::exception_ptr failure = FlushAll();
      BeginResponse(text);
      next.OnText(kind, std::move(text));
      if (failure) {
        std::rethrow_exception(failure);
      }
      return;
    }
    case StreamEvent::Bitrate: {
      // "128", sometimes "128,128": the leading number, in kbit/s.
      int64_t kbps = 0;
      for (const char digit : text) {
        if (digit < '0' || digit > '9' || kbps > 100000) {
          break;
        }
        kbps = kbps * 10 + (digit - '0');
      }
      icyBytesPerSecond = kbps * 1000 / 8;
      HoldOrPass(kind, std::move(text));
      return;
    }
    case StreamEvent::Url:
      if (!items.empty() && items.back().role != Role::Audio && items.back().kind == StreamEvent::Title &&
          !items.back().url) {
        Item item;
        item.role = items.back().role;
        item.url = true;
        item.position = end;
        item.kind = kind;
        item.text = std::move(text);
        Hold(std::move(item));
        return;
      }
      HoldOrPass(kind, std::move(text));
      return;
    case StreamEvent::Title:
      break;
    default:
      HoldOrPass(kind, std::move(text));
      return;
  }
  if (!connected) {
    // The stop's final empty title: nothing more comes.
    FlushAndEnd(kind, std::move(text));
    return;
  }
  if (codec == Codec::None || !audioInResponse) {
    // Nothing to cut: no decodable audio, or the title of a response's first
    // audio, which has nothing before it to move to.
    lastTitle = text;
    HoldOrPass(kind, std::move(text));
    return;
  }
  Item item;
  item.role = text == lastTitle ? Role::Repeat : Role::Change;
  item.position = end;
  item.kind = kind;
  lastTitle = text;
  item.text = std::move(text);
  Hold(std::move(item));
}

void SilenceCutter::Impl::FlushAndEnd(StreamEvent kind, std::string text) {
  // The stream announces these outside any handler of its own: an error of
  // `next` here would end its worker. The writer keeps the reason.
  (void)FlushAll();
  try {
    next.OnText(kind, std::move(text));
  } catch (...) {
  }
}

void SilenceCutter::Impl::BeginResponse(const std::string& format) {
  connected = true;
  audioInResponse = false;
  codec = format == "mp3" ? Codec::Mpeg : format == "aac" ? Codec::Aac : Codec::None;
  held.clear();
  heldFront = 0;
  base = end = lastCut = 0;
  frames.clear();
  framesFromStart = true;
  frameBytes = frameMicros = 0;
  trackOffset = -1;
  trackUs = 0;
  parsedEnd = 0;
  parser.reset();
  parserContext.reset();
  decoder.reset();
  decoderFailed = false;
  mpegLayer = 3;
  UpdateHeld();
  if (codec == Codec::None) {
    return;
  }
  const AVCodecID id = codec == Codec::Mpeg ? AV_CODEC_ID_MP3 : AV_CODEC_ID_AAC;
  parser.reset(av_parser_init(id));
  parserContext.reset(avcodec_alloc_context3(nullptr));
  if (!parser || !parserContext) {
    // Without a parser no frame is found: titles stay where they came.
    parser.reset();
    return;
  }
  parserContext->log_level_offset = kQuietLogOffset;
}

void SilenceCutter::Impl::Ingest(const uint8_t* data, int32_t size) {
  // The piece's bytes go after the held ones; the front, already handed on,
  // is dropped once it is the larger part, so each byte moves about once.
  if (heldFront > 0 && heldFront >= held.size() - heldFront) {
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(heldFront));
    heldFront = 0;
  }
  held.insert(held.end(), data, data + size);
  Item item;
  item.role = Role::Audio;
  item.position = end;
  item.size = size;
  items.push_back(std::move(item));
  itemOverhead += kItemOverheadBytes;
  end += size;
  audioInResponse = true;
  UpdateHeld();
  Parse(data, size);
  DecideDue();
  Release();
}

void SilenceCutter::Impl::Parse(const uint8_t* bytes, int32_t size) {
  if (!parser) {
    return;
  }
  // The parser reads ahead past its input, which must end in zeroed padding.
  parseScratch.assign(bytes, bytes + size);
  parseScratch.resize(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const uint8_t* data = parseScratch.data();
  while (size > 0) {
    uint8_t* frame = nullptr;
    int frameSize = 0;
    const int used = av_parser_parse2(parser.get(), parserContext.get(), &frame, &frameSize, data, size,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, parsedEnd);
    if (used < 0 || (used == 0 && frameSize <= 0)) {
      parser.reset();  // a parser that makes no progress would hold us forever
      return;
    }
    data += used;
    size -= used;
    parsedEnd += used;
    if (frameSize > 0 && frame != nullptr) {
      AddFrame(parsedEnd - frameSize, frame, frameSize);
    }
  }
}

void SilenceCutter::Impl::AddFrame(int64_t offset, const uint8_t* bytes, int32_t size) {
  if (offset < base || offset + size > end) {
    return;  // the parser's bytes are not where we hold them: nothing to cut at
  }
  FrameTiming timing;
  const bool header = codec == Codec::Mpeg ? ReadMpegHeader(bytes, size, timing) : ReadAdtsHeader(bytes, size, timing);
  Frame frame;
  frame.offset = offset;
  frame.size = size;
  if (header) {
    frame.durationUs = int64_t{timing.samples} * 1'000'000 / timing.sampleRate;
    if (codec == Codec::Mpeg && frames.empty() && framesFromStart) {
      mpegLayer = timing.layer;
    }
  } else if (!frames.empty()) {
    frame.durationUs = frames.back().durationUs;
  }
  // The header must be the held bytes' own: the parser may have put a frame
  // together from its own buffer.
  frame.boundary = header && std::memcmp(Address(offset), bytes, 4) == 0;
  frame.startUs = trackOffset < 0 ? static_cast<int64_t>(offset * kMicrosPerSecond / BytesPerSecond())
                                  : trackUs + static_cast<int64_t>((offset - trackOffset) * kMicrosPerSecond /
                                                                   BytesPerSecond());
  trackOffset = frame.End();
  trackUs = frame.EndUs();
  frameBytes += size;
  frameMicros += frame.durationUs;
  frames.push_back(frame);
}

double SilenceCutter::Impl::BytesPerSecond() const {
  if (frameMicros > 0 && frameBytes > 0) {
    return frameBytes * kMicrosPerSecond / static_cast<double>(frameMicros);
  }
  return static_cast<double>(icyBytesPerSecond > 0 ? icyBytesPerSecond : kDefaultBytesPerSecond);
}

int64_t SilenceCutter::Impl::TimeAt(int64_t position) const {
  const double perByte = kMicrosPerSecond / BytesPerSecond();
  if (frames.empty()) {
    if (trackOffset < 0) {
      return static_cast<int64_t>(position * perByte);
    }
    return trackUs + static_cast<int64_t>((position - trackOffset) * perByte);
  }
  const auto after = std::upper_bound(frames.begin(), frames.end(), position,
                                      [](int64_t at, const Frame& frame) { return at < frame.offset; });
  if (after == frames.begin()) {
    return frames.front().startUs - static_cast<int64_t>((frames.front().offset - position) * perByte);
  }
  const Frame& frame = *(after - 1);
  if (position < frame.End()) {
    return frame.startUs + (position - frame.offset) * frame.durationUs / std::max(1, frame.size);
  }
  return frame.EndUs() + static_cast<int64_t>((position - frame.End()) * perByte);
}

void SilenceCutter::Impl::Hold(Item item) {
  itemOverhead += kItemOverheadBytes + static_cast<int64_t>(item.text.size());
  items.push_back(std::move(item));
}

void SilenceCutter::Impl::HoldOrPass(StreamEvent kind, std::string text) {
  if (items.empty()) {
    next.OnText(kind, std::move(text));
    return;
  }
  Item item;
  item.position = end;
  item.kind = kind;
  item.text = std::move(text);
  Hold(std::move(item));
}

std::exception_ptr SilenceCutter::Impl::FlushAll() {
  while (const std::optional<size_t> change = FirstChange()) {
    Decide(*change);
  }
  std::exception_ptr failure;
  while (!items.empty()) {
    try {
      HandOnFront();
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
  }
  itemOverhead = 0;
  DropBefore(end);
  return failure;
}

std::optional<size_t> SilenceCutter::Impl::FirstChange(size_t from) const {
  for (size_t index = from; index < items.size(); ++index) {
    if (items[index].role == Role::Change && !items[index].url) {
      return index;
    }
  }
  return std::nullopt;
}

void SilenceCutter::Impl::DecideDue() {
  const int64_t now = TimeAt(end);
  while (const std::optional<size_t> change = FirstChange()) {
    if (now < TimeAt(items[*change].position) + searchAfterUs + kReachUs + kDecideMarginUs) {
      return;
    }
    Decide(*change);
  }
}

int64_t SilenceCutter::Impl::KeepFrom() const {
  // A title change that comes later arrives at `end` or after, and the
  // oldest undecided one is where it is; either may cut back to searchBefore
  // before it, looks kReachMs further, and its decoding starts kPrerollFrames
  // earlier still.
  int64_t earliest = TimeAt(end);
  if (const std::optional<size_t> change = FirstChange()) {
    earliest = std::min(earliest, TimeAt(items[*change].position));
  }
  earliest -= searchBeforeUs + kReachUs;
  if (frames.empty()) {
    const auto back = static_cast<int64_t>((TimeAt(end) - earliest) * BytesPerSecond() / kMicrosPerSecond);
    return std::max(base, end - back);
  }
  const auto first = std::lower_bound(frames.begin(), frames.end(), earliest,
                                      [](const Frame& frame, int64_t at) { return frame.startUs < at; });
  const auto index = std::max<std::ptrdiff_t>(0, (first - frames.begin()) - kPrerollFrames);
  return frames[static_cast<size_t>(index)].offset;
}

void SilenceCutter::Impl::Release() {
  HandOnBefore(KeepFrom());
  while (HeldTotal() > kMaxHeldBytes) {
    // Past the hard bound: the oldest pending cut is decided with what is
    // here, and if that is not enough, the oldest audio goes on regardless.
    if (const std::optional<size_t> change = FirstChange()) {
      Decide(*change);
      HandOnBefore(KeepFrom());
      continue;
    }
    while (!items.empty() && HeldTotal() > kMaxHeldBytes * 3 / 4) {
      HandOnFront();
    }
    return;
  }
}

void SilenceCutter::Impl::HandOnBefore(int64_t keepFrom) {
  while (!items.empty()) {
    const Item& front = items.front();
    if (front.role == Role::Change) {
      return;
    }
    if (front.role == Role::Audio ? front.position + front.size > keepFrom : front.position > keepFrom) {
      return;
    }
    HandOnFront();
  }
}

void SilenceCutter::Impl::HandOnFront() {
  // Off the queue before `next` sees it: a `next` that throws loses this
  // item only.
  Item item = std::move(items.front());
  items.pop_front();
  itemOverhead -= kItemOverheadBytes + static_cast<int64_t>(item.text.size());
  if (item.role == Role::Audio) {
    const StreamBuffer block(Address(item.position), item.size);
    DropBefore(item.position + item.size);
    next.OnAudio(block);
    return;
  }
  next.OnText(item.kind, std::move(item.text));
}

void SilenceCutter::Impl::DropBefore(int64_t position) {
  position = std::min(position, end);
  if (position <= base) {
    return;
  }
  heldFront += static_cast<size_t>(position - base);
  base = position;
  if (heldFront >= held.size()) {
    held.clear();
    heldFront = 0;
  }
  while (!frames.empty() && frames.front().offset < base) {
    frameBytes -= frames.front().size;
    frameMicros -= frames.front().durationUs;
    frames.pop_front();
    framesFromStart = false;
  }
  UpdateHeld();
}

void SilenceCutter::Impl::Decide(size_t index) {
  std::optional<size_t> chosen;
  try {
    chosen = ChooseFrame(index);
  } catch (const std::exception&) {
    // Out of memory while decoding: the title stays where it came.
  }
  Settle(index, chosen ? frames[*chosen].offset : items[index].position);
}

std::optional<size_t> SilenceCutter::Impl::ChooseFrame(size_t index) {
  const int64_t position = items[index].position;
  const int64_t changeUs = TimeAt(position);
  const std::optional<size_t> following = FirstChange(index + 1);
  const int64_t before = following ? items[*following].position : end;
  // Without the response's first frames, the first kPrerollFrames held only
  // warm the decoder up.
  const size_t firstAllowed = framesFromStart ? 0 : kPrerollFrames;
  auto allowed = [&](const Frame& frame) { return frame.boundary && frame.offset > lastCut && frame.offset < before; };
  std::optional<size_t> low;
  std::optional<size_t> high;
  std::optional<size_t> nearest;  // to the change, should the window hold no boundary
  const int64_t targetUs = changeUs + std::clamp(offsetUs, -searchBeforeUs, searchAfterUs);
  for (size_t at = firstAllowed; at < frames.size(); ++at) {
    const Frame& frame = frames[at];
    if (!allowed(frame)) {
      continue;
    }
    if (!nearest || std::abs(frame.startUs - targetUs) < std::abs(frames[*nearest].startUs - targetUs)) {
      nearest = at;
    }
    if (frame.startUs >= changeUs - searchBeforeUs && frame.startUs <= changeUs + searchAfterUs) {
      low = low.value_or(at);
      high = at;
    }
  }
  if (!low) {
    return nearest;
  }
  // A quiet stretch that crosses the range's edge is followed up to kReachMs
  // beyond it, so that its middle is its own and not the range's.
  size_t reachLow = *low;
  while (reachLow > firstAllowed && frames[reachLow - 1].startUs >= frames[*low].startUs - kReachUs) {
    --reachLow;
  }
  size_t reachEnd = *high + 1;
  while (reachEnd < frames.size() && frames[reachEnd].startUs <= frames[*high].startUs + kReachUs) {
    ++reachEnd;
  }
  std::vector<int64_t> starts;  // decoded sample where each frame from reachLow begins
  std::optional<int64_t> quiet;
  if (*high > *low) {
    quiet = QuietMiddle(reachLow, reachEnd, *low, *high, targetUs, starts);
  }
  size_t best = *low;
  for (size_t at = *low; at <= *high; ++at) {
    if (!allowed(frames[at])) {
      continue;
    }
    const bool nearer = quiet ? std::abs(starts[at - reachLow] - *quiet) < std::abs(starts[best - reachLow] - *quiet)
                              : std::abs(frames[at].startUs - targetUs) < std::abs(frames[best].startUs - targetUs);
    if (nearer) {
      best = at;
    }
  }
  return best;
}

bool SilenceCutter::Impl::OpenDecoder() {
  if (decoder) {
    avcodec_flush_buffers(decoder.get());
    return true;
  }
  if (decoderFailed) {
    return false;
  }
  decoderFailed = true;
  const AVCodecID id = codec == Codec::Aac     ? AV_CODEC_ID_AAC
                       : mpegLayer == 1        ? AV_CODEC_ID_MP1
                       : mpegLayer == 2        ? AV_CODEC_ID_MP2
                                               : AV_CODEC_ID_MP3;
  const AVCodec* found = avcodec_find_decoder(id);
  if (found == nullptr) {
    return false;
  }
  CodecContextHandle context(avcodec_alloc_context3(found));
  if (!context) {
    return false;
  }
  context->log_level_offset = kQuietLogOffset;
  context->thread_count = 1;  // one frame out per frame in, on this thread
  if (avcodec_open2(context.get(), found, nullptr) < 0) {
    return false;
  }
  decoder = std::move(context);
  decoderFailed = false;
  return true;
}

std::optional<int64_t> SilenceCutter::Impl::QuietMiddle(size_t reachLow, size_t reachEnd, size_t low, size_t high,
                                                        int64_t targetUs, std::vector<int64_t>& starts) {
  if (!OpenDecoder()) {
    return std::nullopt;
  }
  PacketHandle packet(av_packet_alloc());
  FrameHandle decoded(av_frame_alloc());
  if (!packet || !decoded) {
    return std::nullopt;
  }
  const size_t first = reachLow >= static_cast<size_t>(kPrerollFrames) ? reachLow - kPrerollFrames : 0;
  BlockLevels levels;
  starts.assign(reachEnd - reachLow + 1, 0);
  for (size_t at = first; at < reachEnd; ++at) {
    const Frame& frame = frames[at];
    const bool counted = at >= reachLow;
    if (counted) {
      starts[at - reachLow] = levels.Samples();
    }
    int64_t made = 0;
    if (av_new_packet(packet.get(), frame.size) == 0) {
      std::memcpy(packet->data, Address(frame.offset), static_cast<size_t>(frame.size));
      if (avcodec_send_packet(decoder.get(), packet.get()) == 0) {
        while (avcodec_receive_frame(decoder.get(), decoded.get()) == 0) {
          if (!levels.Started() && decoded->sample_rate > 0) {
            levels.Start(decoded->sample_rate);
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
  starts.back() = levels.Samples();
  if (!levels.Started()) {
    return std::nullopt;
  }
  const int64_t rangeFirst = starts[low - reachLow];
  const int64_t rangeLast = starts[high - reachLow];
  // Where the target lies on the decoded timeline.
  int64_t targetSample = rangeLast;
  for (size_t at = low; at < high; ++at) {
    if (frames[at].EndUs() > targetUs) {
      targetSample = starts[at - reachLow] + (targetUs - frames[at].startUs) * levels.Rate() / 1'000'000;
      break;
    }
  }
  const std::vector<double>& blocks = levels.Levels();
  const int64_t blockLength = levels.BlockLength();
  const auto minimum = static_cast<size_t>(
      (int64_t{kMinQuietMs} * levels.Rate() / 1000 + blockLength - 1) / blockLength);
  struct Stretch {
    size_t first = 0;
    size_t count = 0;
    double sum = 0.0;
    int64_t Begin(int64_t length) const { return static_cast<int64_t>(first) * length; }
    int64_t End(int64_t length) const { return static_cast<int64_t>(first + count) * length; }
    int64_t Middle(int64_t length) const { return (Begin(length) + End(length)) / 2; }
  };
  // Lower is better: the level in steps, then longer, then nearer.
  auto better = [&](const Stretch& a, const Stretch& b) {
    const double stepA = std::floor(LevelDb(a.sum / static_cast<double>(a.count)) / kLevelStepDb);
    const double stepB = std::floor(LevelDb(b.sum / static_cast<double>(b.count)) / kLevelStepDb);
    if (stepA != stepB) {
      return stepA < stepB;
    }
    if (a.count != b.count) {
      return a.count > b.count;
    }
    return std::abs(a.Middle(blockLength) - targetSample) < std::abs(b.Middle(blockLength) - targetSample);
  };
  std::optional<Stretch> best;
  Stretch run;
  auto close = [&]() {
    // Only a stretch that reaches into the range can hold the cut.
    const bool inRange = run.Begin(blockLength) <= rangeLast && run.End(blockLength) >= rangeFirst;
    if (run.count >= minimum && inRange && (!best || better(run, *best))) {
      best = run;
    }
    run = Stretch{};
  };
  for (size_t block = 0; block < blocks.size(); ++block) {
    if (blocks[block] <= thresholdPower) {
      if (run.count == 0) {
        run.first = block;
      }
      ++run.count;
      run.sum += blocks[block];
    } else {
      close();
    }
  }
  close();
  if (!best) {
    return std::nullopt;
  }
  return best->Middle(blockLength);
}

size_t SilenceCutter::Impl::SplitAt(int64_t position) {
  // The index before which an item placed at `position` goes: after the
  // events already there, before the audio from there on.
  for (size_t index = 0; index < items.size(); ++index) {
    Item& item = items[index];
    if (item.role != Role::Audio) {
      if (item.position > position) {
        return index;
      }
      continue;
    }
    if (item.position >= position) {
      return index;
    }
    if (item.position + item.size > position) {
      Item tail = item;
      tail.position = position;
      tail.size = static_cast<int32_t>(item.position + item.size - position);
      item.size = static_cast<int32_t>(position - item.position);
      items.insert(items.begin() + static_cast<std::ptrdiff_t>(index) + 1, tail);
      itemOverhead += kItemOverheadBytes;
      return index + 1;
    }
  }
  return items.size();
}

void SilenceCutter::Impl::Settle(size_t index, int64_t cut) {
  const int64_t position = items[index].position;
  if (cut == position) {
    items[index].role = Role::Event;
    if (index + 1 < items.size() && items[index + 1].url && items[index + 1].role == Role::Change) {
      items[index + 1].role = Role::Event;
    }
    lastCut = cut;
    return;
  }
  Move(index, cut);
  lastCut = cut;
}

void SilenceCutter::Impl::Move(size_t index, int64_t cut) {
  const int64_t position = items[index].position;
  // Take out the change, its Url, and the repeated titles between its old and
  // its new place: those before it repeat the old title and stay before it,
  // those after it repeat the new one and stay after it.
  std::vector<Item> earlier;
  std::vector<Item> moving;
  std::vector<Item> later;
  const int64_t from = std::min(cut, position);
  const int64_t to = std::max(cut, position);
  std::deque<Item> kept;
  for (size_t at = 0; at < items.size(); ++at) {
    Item& item = items[at];
    const bool inRange = item.role == Role::Repeat && item.position >= from && item.position <= to;
    if (at == index || (at == index + 1 && item.url && item.role == Role::Change)) {
      item.role = Role::Event;
      moving.push_back(std::move(item));
    } else if (inRange && at < index && cut < position) {
      item.role = Role::Event;
      earlier.push_back(std::move(item));
    } else if (inRange && at > index && cut > position) {
      item.role = Role::Event;
      later.push_back(std::move(item));
    } else {
      kept.push_back(std::move(item));
    }
  }
  items = std::move(kept);
  size_t insertAt = SplitAt(cut);
  for (std::vector<Item>* group : {&earlier, &moving, &later}) {
    for (Item& item : *group) {
      item.position = cut;
      items.insert(items.begin() + static_cast<std::ptrdiff_t>(insertAt++), std::move(item));
    }
  }
}

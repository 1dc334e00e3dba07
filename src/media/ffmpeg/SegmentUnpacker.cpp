#include "media/SegmentUnpacker.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevector.h>
#include <taglib/tbytevectorstream.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "audio/AdtsHeader.h"
#include "text/ByteText.h"

namespace {

constexpr int kIoBufferSize = 32 * 1024;
constexpr size_t kTsPacketSize = 188;

struct IoContextFreer {
  void operator()(AVIOContext* io) const {
    // The context may have replaced the buffer it was given; the one it
    // holds now is ours to free.
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct FormatContextCloser {
  void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AvFreer {
  void operator()(void* memory) const { av_free(memory); }
};
using IoContextHandle = std::unique_ptr<AVIOContext, IoContextFreer>;
using FormatContextHandle = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;
using AvBuffer = std::unique_ptr<uint8_t, AvFreer>;

// The init segment followed by the media segment, read as one file without
// copying either.
struct MemoryInput {
  std::string_view first;
  std::string_view second;
  int64_t position = 0;

  int64_t Size() const { return static_cast<int64_t>(first.size() + second.size()); }
};

int ReadInput(void* opaque, uint8_t* buffer, int size) {
  auto* input = static_cast<MemoryInput*>(opaque);
  int copied = 0;
  while (copied < size && input->position < input->Size()) {
    const auto firstSize = static_cast<int64_t>(input->first.size());
    const std::string_view part = input->position < firstSize ? input->first : input->second;
    const int64_t offset = input->position < firstSize ? input->position : input->position - firstSize;
    const auto count = static_cast<int>(std::min<int64_t>(size - copied, static_cast<int64_t>(part.size()) - offset));
    std::memcpy(buffer + copied, part.data() + offset, static_cast<size_t>(count));
    copied += count;
    input->position += count;
  }
  return copied > 0 ? copied : AVERROR_EOF;
}

int64_t SeekInput(void* opaque, int64_t offset, int whence) {
  auto* input = static_cast<MemoryInput*>(opaque);
  if ((whence & AVSEEK_SIZE) != 0) {
    return input->Size();
  }
  int64_t target = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = input->position + offset;
      break;
    case SEEK_END:
      target = input->Size() + offset;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (target < 0 || target > input->Size()) {
    return AVERROR(EINVAL);
  }
  input->position = target;
  return target;
}

const uint8_t* Bytes(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

bool IsMpegAudioHeader(const uint8_t* data, size_t size) {
  return size >= 4 && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0 && ((data[1] >> 1) & 0x03) != 0 &&
         (data[2] >> 4) != 0x0F && ((data[2] >> 2) & 0x03) != 0x03;
}

bool IsBoxType(std::string_view type) {
  return type == "ftyp" || type == "styp" || type == "moof" || type == "moov" || type == "sidx" ||
         type == "emsg" || type == "prft";
}

// The demuxer for the segment, chosen from its first bytes rather than by
// libavformat's probe, which a short segment can mislead; null when the
// bytes look like none of the containers HLS uses.
const AVInputFormat* ChooseDemuxer(std::string_view segment, std::string_view init) {
  if (!init.empty() || (segment.size() >= 8 && IsBoxType(segment.substr(4, 4)))) {
    return av_find_input_format("mp4");
  }
  const uint8_t* data = Bytes(segment);
  size_t at = 0;
  while (at < segment.size()) {
    const size_t tag = SegmentUnpacker::Id3TagSize(data + at, segment.size() - at);
    if (tag == 0) {
      break;
    }
    at += tag;
  }
  if (at >= segment.size()) {
    return nullptr;
  }
  // Some packagers put the ID3 tags of packed audio before TS too.
  if (data[at] == 0x47 && (segment.size() - at <= kTsPacketSize || data[at + kTsPacketSize] == 0x47)) {
    return av_find_input_format("mpegts");
  }
  if (AdtsHeader::IsAt(data + at, segment.size() - at)) {
    return av_find_input_format("aac");
  }
  if (IsMpegAudioHeader(data + at, segment.size() - at)) {
    return av_find_input_format("mp3");
  }
  return nullptr;
}

bool Recordable(AVCodecID codec, AudioFormat& format) {
  switch (codec) {
    case AV_CODEC_ID_AAC:
      format = AudioFormat::Aac;
      return true;
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP1:
      format = AudioFormat::Mp3;
      return true;
    default:
      return false;
  }
}

std::string JoinTitle(std::string_view fullArtist, std::string_view fullTitle) {
  const std::string_view artist = ByteText::Trim(fullArtist);
  const std::string_view title = ByteText::Trim(fullTitle);
  const std::string joined = !artist.empty() && !title.empty() ? std::string(artist) + " - " + std::string(title)
                                                                : std::string(artist.empty() ? title : artist);
  return std::string(ByteText::CutAtUtf8Boundary(joined, SegmentUnpacker::kMaxTitleBytes));
}

// The title of a timed-ID3 packet. Apple's tools put the tag itself into
// the PES payload; libavformat 5.1 takes the first five payload bytes for
// the header of a metadata AU cell and drops them, which leaves the tag
// without "ID3" and its version. A muxer that does write AU cells leaves
// five bytes before the tag instead. All three read.
bool TitleFromTimedId3(const uint8_t* data, size_t size, std::string& title) {
  constexpr size_t kCellHeader = 5;
  if (SegmentUnpacker::Id3TagSize(data, size) > 0) {
    return SegmentUnpacker::TitleFromId3(data, size, title);
  }
  if (size > kCellHeader && SegmentUnpacker::Id3TagSize(data + kCellHeader, size - kCellHeader) > 0) {
    return SegmentUnpacker::TitleFromId3(data + kCellHeader, size - kCellHeader, title);
  }
  // Flags, then a syncsafe size that matches what follows.
  if (size < kCellHeader || (data[0] & 0x0F) != 0) {
    return false;
  }
  size_t length = 0;
  for (size_t index = 1; index < kCellHeader; ++index) {
    if ((data[index] & 0x80) != 0) {
      return false;
    }
    length = (length << 7) | data[index];
  }
  const size_t footer = (data[0] & 0x10) != 0 ? 10 : 0;
  if (kCellHeader + length + footer > size) {
    return false;
  }
  // Both versions in use lay their text frames out alike but for the frame
  // size: 2.4 (what Apple's tools write) first.
  for (const uint8_t version : {4, 3}) {
    std::vector<uint8_t> tag = {'I', 'D', '3', version, 0};
    tag.insert(tag.end(), data, data + size);
    if (SegmentUnpacker::TitleFromId3(tag.data(), tag.size(), title)) {
      return true;
    }
  }
  return false;
}

// Where each audio packet landed in the output, for placing timed titles.
struct PacketPlace {
  int64_t time = 0;  // AV_TIME_BASE units
  int64_t offset = 0;
};

struct TimedTitle {
  bool timed = false;
  int64_t time = 0;        // AV_TIME_BASE units, when timed
  int64_t fileOffset = 0;  // the output size when the tag was read
  std::string title;
};

class Unpacking {
 public:
  Unpacking(std::string_view segment, std::string_view init) : segment(segment), init(init) {}

  SegmentUnpacker::Result Run() {
    if (segment.size() > SegmentUnpacker::kMaxSegmentBytes || init.size() > SegmentUnpacker::kMaxSegmentBytes) {
      return Fail(SegmentUnpacker::Outcome::Malformed, "the segment is too large");
    }
    const AVInputFormat* demuxer = ChooseDemuxer(segment, init);
    if (demuxer == nullptr) {
      return Fail(SegmentUnpacker::Outcome::Malformed, "the segment is neither MPEG-TS, MP4, ADTS nor MPEG audio");
    }
    if (!Open(demuxer)) {
      return Fail(SegmentUnpacker::Outcome::Malformed, "the segment cannot be read");
    }
    ReadLeadingTags();
    ChooseStream();
    ReadPackets();
    if (result.audio.empty()) {
      if (!unsupportedCodec.empty()) {
        return Fail(SegmentUnpacker::Outcome::Unsupported, "the stream's audio is " + unsupportedCodec +
                                                                ", which cannot be recorded");
      }
      return Fail(SegmentUnpacker::Outcome::Malformed,
                  unexpressible ? "the AAC layout cannot be written as ADTS" : "the segment holds no audio");
    }
    PlaceTitles();
    result.outcome = SegmentUnpacker::Outcome::Audio;
    return std::move(result);
  }

 private:
  SegmentUnpacker::Result Fail(SegmentUnpacker::Outcome outcome, std::string reason) {
    SegmentUnpacker::Result failed;
    failed.outcome = outcome;
    failed.reason = std::move(reason);
    return failed;
  }

  bool Open(const AVInputFormat* demuxer) {
    input.first = init;
    input.second = segment;
    AvBuffer buffer(static_cast<uint8_t*>(av_malloc(kIoBufferSize)));
    if (!buffer) {
      return false;
    }
    io.reset(avio_alloc_context(buffer.get(), kIoBufferSize, 0, &input, &ReadInput, nullptr, &SeekInput));
    if (!io) {
      return false;
    }
    (void)buffer.release();  // the context owns it now
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
      return false;
    }
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // avformat_open_input frees the context when it fails.
    if (avformat_open_input(&raw, nullptr, demuxer, nullptr) < 0) {
      return false;
    }
    format.reset(raw);
    fromMp4 = std::string_view(demuxer->name).find("mp4") != std::string_view::npos;
    // Opening has read the leading tag already; only later ones are news.
    format->event_flags = 0;
    return true;
  }

  // The ID3 tags before the first frame of packed audio (or, rarely, the
  // first TS packet).
  void ReadLeadingTags() {
    const uint8_t* data = Bytes(segment);
    for (size_t at = 0; at < segment.size();) {
      const size_t size = SegmentUnpacker::Id3TagSize(data + at, segment.size() - at);
      if (size == 0) {
        break;
      }
      std::string title;
      if (SegmentUnpacker::TitleFromId3(data + at, std::min(size, segment.size() - at), title)) {
        timedTitles.push_back({false, 0, 0, std::move(title)});
      }
      at += size;
    }
  }

  // The first stream of a recordable codec, in stream order, so that every
  // segment of a stream with several audio tracks gives the same one.
  void ChooseStream() {
    for (unsigned index = 0; index < format->nb_streams; ++index) {
      const AVCodecParameters* codec = format->streams[index]->codecpar;
      if (codec->codec_type == AVMEDIA_TYPE_AUDIO && Recordable(codec->codec_id, result.format)) {
        audioIndex = static_cast<int>(index);
        return;
      }
    }
  }

  void ReadPackets() {
    PacketHandle packet(av_packet_alloc());
    if (!packet) {
      return;
    }
    // Damage ends the reading; what came before it stands.
    while (av_read_frame(format.get(), packet.get()) >= 0) {
      TakeMetadataUpdate();
      TakePacket(*packet);
      av_packet_unref(packet.get());
      if (result.audio.size() > 2 * (segment.size() + init.size()) + kIoBufferSize) {
        break;  // cannot come from these bytes; a bound all the same
      }
    }
  }

  // libavformat's raw AAC demuxer reads ID3 tags between ADTS frames into
  // the format's metadata.
  void TakeMetadataUpdate() {
    if ((format->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED) == 0) {
      return;
    }
    format->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
    const AVDictionaryEntry* title = av_dict_get(format->metadata, "title", nullptr, 0);
    const AVDictionaryEntry* artist = av_dict_get(format->metadata, "artist", nullptr, 0);
    if (title != nullptr || artist != nullptr) {
      std::string text = JoinTitle(artist != nullptr ? artist->value : "", title != nullptr ? title->value : "");
      if (!text.empty()) {
        timedTitles.push_back({false, 0, static_cast<int64_t>(result.audio.size()), std::move(text)});
      }
    }
  }

  void TakePacket(const AVPacket& packet) {
    if (packet.stream_index < 0 || static_cast<unsigned>(packet.stream_index) >= format->nb_streams ||
        packet.size <= 0) {
      return;
    }
    const AVStream* stream = format->streams[packet.stream_index];
    const AVCodecParameters* codec = stream->codecpar;
    const int64_t time = packet.pts != AV_NOPTS_VALUE
                             ? av_rescale_q(packet.pts, stream->time_base, AV_TIME_BASE_Q)
                             : AV_NOPTS_VALUE;
    if (codec->codec_id == AV_CODEC_ID_TIMED_ID3) {
      std::string title;
      if (TitleFromTimedId3(packet.data, static_cast<size_t>(packet.size), title)) {
        timedTitles.push_back({time != AV_NOPTS_VALUE, time, static_cast<int64_t>(result.audio.size()),
                               std::move(title)});
      }
      return;
    }
    if (codec->codec_type != AVMEDIA_TYPE_AUDIO) {
      return;
    }
    if (audioIndex < 0) {
      // A stream that appeared after the header (TS can announce late).
      if (!Recordable(codec->codec_id, result.format)) {
        unsupportedCodec = avcodec_get_name(codec->codec_id);
        return;
      }
      audioIndex = packet.stream_index;
    }
    if (packet.stream_index != audioIndex) {
      return;
    }
    const int64_t offset = static_cast<int64_t>(result.audio.size());
    if (result.format == AudioFormat::Aac && !AppendAac(packet, *codec)) {
      return;
    }
    if (result.format == AudioFormat::Mp3) {
      result.audio.insert(result.audio.end(), packet.data, packet.data + packet.size);
    }
    if (time != AV_NOPTS_VALUE) {
      places.push_back({time, offset});
    }
  }

  bool AppendAac(const AVPacket& packet, const AVCodecParameters& codec) {
    const auto size = static_cast<size_t>(packet.size);
    // TS and packed audio carry ADTS frames already; MP4 carries them raw.
    if (!fromMp4 && AdtsHeader::IsAt(packet.data, size) && AdtsHeader::FrameLength(packet.data) <= size) {
      result.audio.insert(result.audio.end(), packet.data, packet.data + size);
      return true;
    }
    AdtsHeader::Bytes header{};
    if (codec.extradata == nullptr ||
        !AdtsHeader::FromAudioSpecificConfig(codec.extradata, static_cast<size_t>(codec.extradata_size), size,
                                             header)) {
      unexpressible = unexpressible || codec.extradata != nullptr;
      return false;
    }
    result.audio.insert(result.audio.end(), header.begin(), header.end());
    result.audio.insert(result.audio.end(), packet.data, packet.data + size);
    return true;
  }

  // A timed tag takes effect at the first frame whose time has come; a tag
  // without a time where it was read.
  void PlaceTitles() {
    for (TimedTitle& timed : timedTitles) {
      int64_t offset = timed.fileOffset;
      if (timed.timed && !places.empty()) {
        offset = static_cast<int64_t>(result.audio.size());
        for (const PacketPlace& place : places) {
          if (place.time >= timed.time) {
            offset = place.offset;
            break;
          }
        }
      }
      result.titles.push_back({offset, std::move(timed.title)});
    }
    std::stable_sort(result.titles.begin(), result.titles.end(),
                     [](const SegmentUnpacker::TitleMark& a, const SegmentUnpacker::TitleMark& b) {
                       return a.audioOffset < b.audioOffset;
                     });
  }

  // Constant after construction.
  std::string_view segment;
  std::string_view init;

  // Declared before the format context, which reads through it and so must
  // go first.
  MemoryInput input;
  IoContextHandle io;
  FormatContextHandle format;
  bool fromMp4 = false;

  int audioIndex = -1;
  std::string unsupportedCodec;  // the codec of an audio stream passed over
  bool unexpressible = false;    // raw AAC whose config ADTS cannot carry
  std::vector<PacketPlace> places;
  std::vector<TimedTitle> timedTitles;
  SegmentUnpacker::Result result;
};

}  // namespace

SegmentUnpacker::Result SegmentUnpacker::Unpack(std::string_view segment, std::string_view init) {
  // A container header may claim tables of any size: a few bytes of a
  // hostile MP4 made libavformat ask for 400 MB. No segment within
  // kMaxSegmentBytes needs a single allocation above kMaxAllocationBytes, so
  // past it FFmpeg's allocator fails, and the segment is Malformed. The bound
  // is FFmpeg's, for the whole process; decoding for cuts needs far less.
  static std::once_flag bounded;
  std::call_once(bounded, [] { av_max_alloc(kMaxAllocationBytes); });
  return Unpacking(segment, init).Run();
}

size_t SegmentUnpacker::Id3TagSize(const uint8_t* data, size_t size) {
  if (size < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3' || data[3] == 0xFF || data[4] == 0xFF) {
    return 0;
  }
  size_t length = 0;
  for (int i = 6; i < 10; ++i) {
    if ((data[i] & 0x80) != 0) {
      return 0;
    }
    length = (length << 7) | data[i];
  }
  const bool footer = (data[5] & 0x10) != 0;
  return 10 + length + (footer ? 10 : 0);
}

bool SegmentUnpacker::TitleFromId3(const uint8_t* tag, size_t size, std::string& title) {
  if (Id3TagSize(tag, size) == 0) {
    return false;
  }
  TagLib::ByteVector bytes(reinterpret_cast<const char*>(tag), static_cast<unsigned int>(size));
  TagLib::ByteVectorStream stream(bytes);
  TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
  TagLib::ID3v2::Tag* id3 = file.isValid() ? file.ID3v2Tag(false) : nullptr;
  if (id3 == nullptr) {
    return false;
  }
  title = JoinTitle(id3->artist().to8Bit(true), id3->title().to8Bit(true));
  return !title.empty();
}

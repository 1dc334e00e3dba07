#include "audio/AudioFormat.h"

#include <array>
#include <cstring>
#include <string>

#include "audio/AdtsHeader.h"
#include "net/ContentType.h"
#include "ogg/OggPage.h"

namespace {

struct TypeName {
  const char* type;
  AudioFormat format;
};

// Content types that name one format. Stations use the odd ones too.
constexpr std::array<TypeName, 13> kTypes = {{
    {"audio/mpeg", AudioFormat::Mp3},
    {"audio/mp3", AudioFormat::Mp3},
    {"audio/mpeg3", AudioFormat::Mp3},
    {"audio/x-mpeg", AudioFormat::Mp3},
    {"audio/x-mp3", AudioFormat::Mp3},
    {"audio/mpg", AudioFormat::Mp3},
    {"audio/aac", AudioFormat::Aac},
    {"audio/aacp", AudioFormat::Aac},
    {"audio/x-aac", AudioFormat::Aac},
    {"audio/x-aacp", AudioFormat::Aac},
    {"audio/aac-adts", AudioFormat::Aac},
    {"audio/opus", AudioFormat::Opus},
    {"audio/x-opus", AudioFormat::Opus},
}};

// Types that say Ogg without saying which codec.
constexpr std::array<const char*, 6> kOggTypes = {
    "application/ogg", "audio/ogg", "audio/x-ogg", "application/x-ogg", "audio/vorbis", "audio/x-vorbis",
};

bool IsOggType(const std::string& type) {
  for (const char* ogg : kOggTypes) {
    if (type == ogg) {
      return true;
    }
  }
  return false;
}

bool AdtsAt(const uint8_t* bytes, int32_t size, int32_t at) {
  return at < size && AdtsHeader::IsAt(bytes + at, static_cast<size_t>(size - at));
}

// The length of the MPEG audio frame whose header is at `at`, or 0 when no
// valid header is there.
int32_t MpegAudioFrameLength(const uint8_t* bytes, int32_t size, int32_t at) {
  if (at + 4 > size || bytes[at] != 0xFF || (bytes[at + 1] & 0xE0) != 0xE0) {
    return 0;
  }
  const int version = (bytes[at + 1] >> 3) & 0x03;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int layer = (bytes[at + 1] >> 1) & 0x03;    // 3: I, 2: II, 1: III
  const int bitrateIndex = bytes[at + 2] >> 4;
  const int rateIndex = (bytes[at + 2] >> 2) & 0x03;
  const int padding = (bytes[at + 2] >> 1) & 0x01;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 0x0F || rateIndex == 3) {
    return 0;
  }
  // kbit/s by [MPEG-1?][layer I, II, III][index].
  static constexpr int kBitrates[2][3][15] = {
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
  static constexpr int kRates[3] = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  const int layerIndex = 3 - layer;  // 0: I, 1: II, 2: III
  const int bitrate = kBitrates[mpeg1 ? 1 : 0][layerIndex][bitrateIndex] * 1000;
  const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  if (layerIndex == 0) {
    return (12 * bitrate / rate + padding) * 4;
  }
  const int samplesPerByte = (layerIndex == 2 && !mpeg1) ? 72 : 144;
  return samplesPerByte * bitrate / rate + padding;
}

}  // namespace

bool AudioFormatProbe::FromContentType(std::string_view contentType, AudioFormat& format) {
  const std::string type = ContentType::MediaType(contentType);
  for (const TypeName& known : kTypes) {
    if (type == known.type) {
      format = known.format;
      return true;
    }
  }
  return false;
}

bool AudioFormatProbe::ContentTypeDecides(std::string_view contentType) {
  AudioFormat ignored = AudioFormat::Mp3;
  return FromContentType(contentType, ignored);
}

AudioFormat AudioFormatProbe::Probe(std::string_view contentType, const uint8_t* firstBytes, int32_t size) {
  AudioFormat format = AudioFormat::Mp3;
  if (FromContentType(contentType, format)) {
    return format;
  }
  if (firstBytes == nullptr) {
    size = 0;
  }
  if (size >= 4 && std::memcmp(firstBytes, "OggS", 4) == 0) {
    return OggCarriesOpus(firstBytes, size) ? AudioFormat::Opus : AudioFormat::Ogg;
  }
  if (size >= 3 && std::memcmp(firstBytes, "ID3", 3) == 0) {
    return AudioFormat::Mp3;
  }
  // A stream may begin inside a frame: the first header that is followed by
  // another of the same kind where its length says wins. Asking for the
  // second header keeps a stray 0xFF in the data from deciding.
  for (int32_t at = 0; at + 7 <= size; ++at) {
    if (AdtsAt(firstBytes, size, at)) {
      const auto length = static_cast<int32_t>(AdtsHeader::FrameLength(firstBytes + at));
      if (length >= 7 && at + length + 7 <= size && AdtsAt(firstBytes, size, at + length)) {
        return AudioFormat::Aac;
      }
    } else if (const int32_t length = MpegAudioFrameLength(firstBytes, size, at); length > 0) {
      if (at + length + 4 <= size && MpegAudioFrameLength(firstBytes, size, at + length) > 0) {
        return AudioFormat::Mp3;
      }
    }
  }
  if (IsOggType(ContentType::MediaType(contentType))) {
    return AudioFormat::Ogg;
  }
  return AudioFormat::Mp3;
}

const char* AudioFormatProbe::Extension(AudioFormat format) {
  switch (format) {
    case AudioFormat::Aac:
      return "aac";
    case AudioFormat::Ogg:
      return "ogg";
    case AudioFormat::Opus:
      return "opus";
    case AudioFormat::Mp3:
      break;
  }
  return "mp3";
}

bool AudioFormatProbe::FromExtension(std::string_view extension, AudioFormat& format) {
  for (AudioFormat candidate : {AudioFormat::Mp3, AudioFormat::Aac, AudioFormat::Ogg, AudioFormat::Opus}) {
    if (extension == Extension(candidate)) {
      format = candidate;
      return true;
    }
  }
  return false;
}

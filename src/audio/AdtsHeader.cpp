#include "audio/AdtsHeader.h"

#include <algorithm>

namespace {

// ISO/IEC 14496-3 table 1.18; ADTS has room for the index only.
constexpr std::array<int32_t, 13> kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                  22050, 16000, 12000, 11025, 8000,  7350};

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data(data), size(size) {}
  // The next count bits (count <= 24); false once the data has run out.
  bool Read(int count, uint32_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i, ++position) {
      if (position / 8 >= size) {
        return false;
      }
      value = (value << 1) | ((data[position / 8] >> (7 - position % 8)) & 1U);
    }
    return true;
  }

 private:
  const uint8_t* data;
  size_t size;
  size_t position = 0;
};

bool ReadObjectType(BitReader& bits, uint32_t& type) {
  if (!bits.Read(5, type)) {
    return false;
  }
  uint32_t extension = 0;
  if (type == 31) {
    if (!bits.Read(6, extension)) {
      return false;
    }
    type = 32 + extension;
  }
  return true;
}

bool ReadSampleRateIndex(BitReader& bits, uint32_t& index) {
  if (!bits.Read(4, index)) {
    return false;
  }
  if (index != 15) {
    return index < kSampleRates.size();
  }
  // An explicit rate fits ADTS only when the table has it.
  uint32_t rate = 0;
  if (!bits.Read(24, rate)) {
    return false;
  }
  const auto found = std::find(kSampleRates.begin(), kSampleRates.end(), static_cast<int32_t>(rate));
  index = static_cast<uint32_t>(found - kSampleRates.begin());
  return found != kSampleRates.end();
}

}  // namespace

bool AdtsHeader::IsAt(const uint8_t* data, size_t size) {
  return size >= kSize && data[0] == 0xFF && (data[1] & 0xF6) == 0xF0;
}

size_t AdtsHeader::FrameLength(const uint8_t* data) {
  return static_cast<size_t>(((data[3] & 0x03) << 11) | (data[4] << 3) | (data[5] >> 5));
}

bool AdtsHeader::FromAudioSpecificConfig(const uint8_t* config, size_t configSize, size_t payloadSize,
                                         Bytes& header) {
  BitReader bits(config, configSize);
  uint32_t objectType = 0;
  uint32_t rateIndex = 0;
  uint32_t channels = 0;
  if (!ReadObjectType(bits, objectType) || !ReadSampleRateIndex(bits, rateIndex) || !bits.Read(4, channels)) {
    return false;
  }
  if (objectType == 5 || objectType == 29) {
    // Explicit SBR or PS: ADTS carries the core, whose rate comes first.
    uint32_t extensionRate = 0;
    if (!ReadSampleRateIndex(bits, extensionRate) || !ReadObjectType(bits, objectType)) {
      return false;
    }
  }
  const size_t frameLength = payloadSize + kSize;
  if (objectType < 1 || objectType > 4 || channels == 0 || channels > 7 || frameLength > kMaxFrameBytes) {
    return false;
  }
  const uint32_t profile = objectType - 1;
  header[0] = 0xFF;
  header[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  header[2] = static_cast<uint8_t>((profile << 6) | (rateIndex << 2) | (channels >> 2));
  header[3] = static_cast<uint8_t>(((channels & 0x03) << 6) | (frameLength >> 11));
  header[4] = static_cast<uint8_t>((frameLength >> 3) & 0xFF);
  header[5] = static_cast<uint8_t>(((frameLength & 0x07) << 5) | 0x1F);  // buffer fullness 0x7FF: variable rate
  header[6] = 0xFC;                                                        // one raw data block
  return true;
}

#include "ogg/OggPage.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t kCapturePattern[] = {'O', 'g', 'g', 'S'};
constexpr int32_t kVersionOffset = 4;
constexpr int32_t kChecksumOffset = 22;
constexpr int32_t kSegmentCountOffset = 26;

uint32_t ReadLe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

uint64_t ReadLe64(const uint8_t* bytes) { return uint64_t{ReadLe32(bytes)} | uint64_t{ReadLe32(bytes + 4)} << 32; }

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t index = 0; index < 256; ++index) {
    uint32_t value = index << 24;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x80000000u) != 0 ? (value << 1) ^ 0x04c11db7u : value << 1;
    }
    table[index] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

OggHeaderResult ParseOggPageHeader(const uint8_t* data, int32_t size, OggPageHeader& header) {
  if (data == nullptr || size <= 0) {
    return OggHeaderResult::NeedMore;
  }
  // Judge the prefix that is there, so that a scanner can drop a false start
  // without waiting for 27 bytes.
  const int32_t patternBytes = size < 4 ? size : 4;
  if (std::memcmp(data, kCapturePattern, static_cast<size_t>(patternBytes)) != 0) {
    return OggHeaderResult::NotPage;
  }
  if (size > kVersionOffset && data[kVersionOffset] != 0) {
    return OggHeaderResult::NotPage;
  }
  if (size < kOggFixedHeaderLength) {
    return OggHeaderResult::NeedMore;
  }
  const int32_t segmentCount = data[kSegmentCountOffset];
  const int32_t headerLength = kOggFixedHeaderLength + segmentCount;
  if (size < headerLength) {
    return OggHeaderResult::NeedMore;
  }
  int32_t bodyLength = 0;
  for (int32_t index = 0; index < segmentCount; ++index) {
    bodyLength += data[kOggFixedHeaderLength + index];
  }
  header.flags = data[5];
  header.granulePosition = static_cast<int64_t>(ReadLe64(data + 6));
  header.serial = ReadLe32(data + 14);
  header.sequence = ReadLe32(data + 18);
  header.checksum = ReadLe32(data + kChecksumOffset);
  header.segmentCount = segmentCount;
  header.headerLength = headerLength;
  header.pageLength = headerLength + bodyLength;
  return OggHeaderResult::Page;
}

uint32_t OggCrc(const uint8_t* data, int32_t size, uint32_t crc) {
  for (int32_t index = 0; index < size; ++index) {
    crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[index]) & 0xff];
  }
  return crc;
}

bool OggChecksumMatches(const uint8_t* data, int32_t size) {
  OggPageHeader header;
  if (ParseOggPageHeader(data, size, header) != OggHeaderResult::Page || size < header.pageLength) {
    return false;
  }
  constexpr uint8_t kZeroChecksum[4] = {0, 0, 0, 0};
  uint32_t crc = OggCrc(data, kChecksumOffset);
  crc = OggCrc(kZeroChecksum, 4, crc);
  crc = OggCrc(data + kChecksumOffset + 4, header.pageLength - kChecksumOffset - 4, crc);
  return crc == header.checksum;
}

int32_t OggHeaderPagesLength(const uint8_t* data, int32_t size) {
  const int32_t patternBytes = data == nullptr || size < 0 ? 0 : size < 4 ? size : 4;
  if (patternBytes > 0 && std::memcmp(data, kCapturePattern, static_cast<size_t>(patternBytes)) != 0) {
    return 0;
  }
  if (patternBytes < 4) {
    return -1;  // a page may still begin here
  }
  int32_t position = 0;
  int32_t headerEnd = 0;  // after the last page with granule position 0
  bool previousBeginsStream = false;
  while (true) {
    OggPageHeader header;
    const OggHeaderResult result = ParseOggPageHeader(data + position, size - position, header);
    if (result == OggHeaderResult::NeedMore) {
      return -1;
    }
    if (result == OggHeaderResult::NotPage || (position > 0 && header.BeginsStream() && !previousBeginsStream)) {
      return headerEnd;
    }
    if (header.granulePosition != 0 && header.granulePosition != -1) {
      return headerEnd;
    }
    previousBeginsStream = header.BeginsStream();
    // A page cannot be longer than kOggMaxPageLength, so this cannot overflow
    // before it passes size.
    if (header.pageLength > size - position) {
      return -1;
    }
    position += header.pageLength;
    if (header.granulePosition == 0) {
      headerEnd = position;
    }
  }
}

bool OggCarriesOpus(const uint8_t* data, int32_t size) {
  OggPageHeader header;
  if (ParseOggPageHeader(data, size, header) != OggHeaderResult::Page || header.segmentCount == 0) {
    return false;
  }
  constexpr char kOpusHead[] = "OpusHead";
  constexpr int32_t kMagicLength = 8;
  // The first packet is at least the first lacing value long (more when it is 255).
  const int32_t firstSegment = data[kOggFixedHeaderLength];
  return firstSegment >= kMagicLength && size - header.headerLength >= kMagicLength &&
         std::memcmp(data + header.headerLength, kOpusHead, kMagicLength) == 0;
}

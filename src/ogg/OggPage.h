#pragma once

#include <cstdint>

// Stateless helpers for Ogg page headers (RFC 3533): where a page begins and
// ends, what its flags say, and whether its checksum holds. Nothing here
// keeps a pointer or allocates; every function reads only the bytes it is
// given (data may be null when size is 0) and may be called from any thread.

// The fixed part of a page header, before its segment table.
inline constexpr int32_t kOggFixedHeaderLength = 27;
inline constexpr int32_t kOggMaxHeaderLength = kOggFixedHeaderLength + 255;
inline constexpr int32_t kOggMaxPageLength = kOggMaxHeaderLength + 255 * 255;

// Header type flags.
inline constexpr uint8_t kOggContinued = 0x01;     // the first packet began on an earlier page
inline constexpr uint8_t kOggBeginsStream = 0x02;  // BOS: a logical stream's first page
inline constexpr uint8_t kOggEndsStream = 0x04;    // EOS: a logical stream's last page

struct OggPageHeader {
  uint8_t flags = 0;
  // -1 when no packet ends on the page.
  int64_t granulePosition = 0;
  uint32_t serial = 0;
  uint32_t sequence = 0;
  uint32_t checksum = 0;
  int32_t segmentCount = 0;
  // The fixed part plus the segment table (the lacing values follow the
  // fixed part: data + kOggFixedHeaderLength).
  int32_t headerLength = 0;
  // headerLength plus the body, the sum of the lacing values.
  int32_t pageLength = 0;

  bool Continued() const { return (flags & kOggContinued) != 0; }
  bool BeginsStream() const { return (flags & kOggBeginsStream) != 0; }
  bool EndsStream() const { return (flags & kOggEndsStream) != 0; }
};

enum class OggHeaderResult {
  Page,      // header filled in; the page's body need not be there yet
  NeedMore,  // the bytes so far could begin a page header; it is not complete
  NotPage,   // no "OggS" capture pattern, or a stream structure version other than 0
};

// Reads the page header at data. header is written only for Page.
OggHeaderResult ParseOggPageHeader(const uint8_t* data, int32_t size, OggPageHeader& header);

// The Ogg CRC-32 (polynomial 0x04c11db7, no reflection, initial value and
// final XOR 0) of size bytes, continuing from crc.
uint32_t OggCrc(const uint8_t* data, int32_t size, uint32_t crc = 0);

// True when size holds a whole page at data whose stored checksum matches
// its bytes (the checksum field counting as zero).
bool OggChecksumMatches(const uint8_t* data, int32_t size);

// When data starts with an Ogg page: the byte length of the leading pages
// whose granule position is 0, the codec header pages that begin every
// logical stream (for Vorbis and Opus the first audio page has a granule
// position other than 0). A page on which no packet ends (granule position
// -1, a large header packet's earlier pages) counts with the page that ends
// its packet. The pages stop at the first page with another granule
// position, at bytes that are not a page, and at a BOS page that follows
// pages that were not BOS (the next chained stream).
// -1 when more bytes are needed to tell: the page header after those pages
// is not complete yet, also when data is shorter than "OggS" and could still
// begin with it. 0 when data does not start with "OggS" or with header pages.
int32_t OggHeaderPagesLength(const uint8_t* data, int32_t size);

// True when the first page is complete up to its first 8 body bytes and its
// first packet starts with "OpusHead".
bool OggCarriesOpus(const uint8_t* data, int32_t size);

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The 7-byte header before each AAC frame in an ADTS stream (ISO/IEC
// 13818-7, without CRC): recognised where a stream's bytes are probed, and
// written where AAC arrives raw (from MP4) and is stored as ADTS.
//
// Stateless; any thread.
class AdtsHeader {
 public:
  static constexpr size_t kSize = 7;
  // A frame's length, header included, has 13 bits.
  static constexpr size_t kMaxFrameBytes = 8191;

  using Bytes = std::array<uint8_t, kSize>;

  // True when size bytes at data start with an ADTS header: the 12-bit
  // sync, then layer 00 (MPEG audio frames have another layer there).
  static bool IsAt(const uint8_t* data, size_t size);
  // The frame length, header included, that the header at data gives; data
  // holds at least kSize bytes.
  static size_t FrameLength(const uint8_t* data);

  // The header of a raw AAC frame of payloadSize bytes described by an
  // MPEG-4 AudioSpecificConfig. HE-AAC configs give the header of their AAC
  // core, as ADTS carries them. False when ADTS cannot express the config
  // (an object type above 4, an explicit sample rate the index table lacks,
  // a channel layout in a program config element) or the frame is too long.
  static bool FromAudioSpecificConfig(const uint8_t* config, size_t configSize, size_t payloadSize, Bytes& header);
};

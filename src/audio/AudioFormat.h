#pragma once

#include <cstdint>
#include <string_view>

// The container or codec of a stream's audio bytes, which decides the
// extension of the files they are written to. The bytes themselves are
// never changed.
enum class AudioFormat : int32_t {
  Mp3 = 0,   // MPEG audio (layer III, also II); the default
  Aac = 1,   // AAC or HE-AAC in ADTS frames
  Ogg = 2,   // Ogg, Vorbis or anything but Opus
  Opus = 3,  // Ogg carrying Opus
};

// How a response's format is found: from its Content-Type, and where that
// is missing, generic or Ogg (which may carry Opus), from its first audio
// bytes.
//
// Stateless; any thread.
class AudioFormatProbe {
 public:
  // Bytes of audio that settle any question the first bytes can answer.
  static constexpr int32_t kProbeBytes = 4096;

  // The format a Content-Type value names ("audio/mpeg; charset=x" and
  // letter case are fine). False when the type is missing, generic
  // (application/octet-stream, text/…) or unknown, or names Ogg, since
  // only the bytes tell Vorbis from Opus.
  static bool FromContentType(std::string_view contentType, AudioFormat& format);
  // The format of a response: its Content-Type when that decides, else its
  // first bytes ("OggS", an ADTS or MPEG audio frame header, an ID3 tag),
  // else the type's hint (an Ogg type gives Ogg), else Mp3.
  static AudioFormat Probe(std::string_view contentType, const uint8_t* firstBytes, int32_t size);
  // Whether the Content-Type decides alone, so no audio need be held to
  // probe it.
  static bool ContentTypeDecides(std::string_view contentType);

  // "mp3", "aac", "ogg", "opus".
  static const char* Extension(AudioFormat format);
  // The format of an extension Extension() gives; false for any other text.
  static bool FromExtension(std::string_view extension, AudioFormat& format);
};

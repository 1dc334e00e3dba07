#include "audio/AudioFormat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Two ADTS frames of 20 bytes each (header FF F1 ..., frame length 20).
std::string AdtsFrames() {
  const std::string header("\xFF\xF1\x50\x80\x02\x9F\xFC", 7);
  const std::string frame = header + std::string(13, '\x11');
  return "\x01\x02" + frame + frame;  // joined inside a frame
}

// Two MPEG-1 layer III frames, 128 kbit/s at 44.1 kHz: 417 bytes each.
std::string Mp3Frames() {
  const std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\x22');
  return frame + frame;
}

std::string OggPage(const std::string& packet) {
  std::string page("OggS\0\x02", 6);
  page += std::string(20, '\0');                       // granule, serial, sequence, CRC
  page += static_cast<char>(1);                        // one segment
  page += static_cast<char>(packet.size());
  return page + packet;
}

TEST(AudioFormatTest, ContentTypeDecidesAndTheFirstBytesSettleTheRest) {
  struct Case {
    const char* contentType;
    std::string bytes;
    AudioFormat expected;
  };
  const Case cases[] = {
      {"audio/mpeg", AdtsFrames(), AudioFormat::Mp3},  // the server's word wins
      {"Audio/AACP; charset=x", "", AudioFormat::Aac},
      {"audio/aac", Mp3Frames(), AudioFormat::Aac},
      {"application/ogg", OggPage("OpusHead\x01\x02"), AudioFormat::Opus},
      {"audio/ogg", OggPage("\x01vorbis"), AudioFormat::Ogg},
      {"audio/ogg", "", AudioFormat::Ogg},
      {"", OggPage("\x01vorbis"), AudioFormat::Ogg},
      {"application/octet-stream", AdtsFrames(), AudioFormat::Aac},
      {"", Mp3Frames(), AudioFormat::Mp3},
      {"", "ID3\x04", AudioFormat::Mp3},
      {"text/html", "<html>", AudioFormat::Mp3},
      {"", std::string(1, '\xFF'), AudioFormat::Mp3},
  };
  for (const Case& c : cases) {
    const AudioFormat found = AudioFormatProbe::Probe(c.contentType, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                                      static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(found, c.expected) << c.contentType << " / " << c.bytes.size() << " bytes";
  }
  EXPECT_TRUE(AudioFormatProbe::ContentTypeDecides(" audio/x-aacp ;x"));
  EXPECT_FALSE(AudioFormatProbe::ContentTypeDecides("application/ogg"));
  EXPECT_FALSE(AudioFormatProbe::ContentTypeDecides(""));
}

// File names carry the extension; a file's format is read back from it.
TEST(AudioFormatTest, EachFormatsExtensionReadsBackAsThatFormat) {
  for (const AudioFormat format : {AudioFormat::Mp3, AudioFormat::Aac, AudioFormat::Ogg, AudioFormat::Opus}) {
    AudioFormat read = format == AudioFormat::Mp3 ? AudioFormat::Aac : AudioFormat::Mp3;
    EXPECT_TRUE(AudioFormatProbe::FromExtension(AudioFormatProbe::Extension(format), read));
    EXPECT_EQ(read, format);
  }
  AudioFormat unchanged = AudioFormat::Ogg;
  for (const char* other : {"", "MP3", "m4a", "mp3 "}) {
    EXPECT_FALSE(AudioFormatProbe::FromExtension(other, unchanged)) << other;
  }
  EXPECT_EQ(unchanged, AudioFormat::Ogg);
}

}  // namespace

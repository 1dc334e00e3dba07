#include "audio/AdtsHeader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AdtsHeaderTest, HeadersFollowTheAudioSpecificConfig) {
  struct Case {
    const char* name;
    std::vector<uint8_t> config;
    size_t payload;
    std::vector<uint8_t> header;  // empty: refused
  };
  const Case cases[] = {
      {"AAC-LC 44.1 kHz mono", {0x12, 0x08}, 100, {0xFF, 0xF1, 0x50, 0x40, 0x0D, 0x7F, 0xFC}},
      {"AAC-LC 48 kHz stereo", {0x11, 0x90}, 8184, {0xFF, 0xF1, 0x4C, 0x83, 0xFF, 0xFF, 0xFC}},
      // HE-AAC signalled explicitly: SBR at 44.1 kHz over an LC core at 22.05 kHz.
      {"HE-AAC explicit", {0x2B, 0x92, 0x08, 0x00}, 0, {0xFF, 0xF1, 0x5C, 0x80, 0x00, 0xFF, 0xFC}},
      // An object type after the escape (31 + 6 bits): 32 + 0 = 32 is no ADTS profile.
      {"escaped object type", {0xF8, 0x04, 0x40}, 10, {}},
      // Rate index 15: an explicit rate that the table has (44100) fits.
      {"explicit rate in the table", {0x17, 0x80, 0x56, 0x22, 0x08}, 0, {0xFF, 0xF1, 0x50, 0x40, 0x00, 0xFF, 0xFC}},
      {"explicit rate not in the table", {0x17, 0x80, 0x56, 0x23, 0x08}, 0, {}},
      {"channels from a program config element", {0x12, 0x00}, 10, {}},
      {"AAC-LD is no ADTS profile", {0xBA, 0x08}, 10, {}},
      {"too long for 13 bits", {0x12, 0x08}, 8185, {}},
      {"cut short", {0x12}, 10, {}},
  };
  for (const Case& c : cases) {
    AdtsHeader::Bytes header{};
    const bool made = AdtsHeader::FromAudioSpecificConfig(c.config.data(), c.config.size(), c.payload, header);
    EXPECT_EQ(made, !c.header.empty()) << c.name;
    if (made) {
      EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), c.header) << c.name;
    }
  }
}

// What a written header says reads back, and only ADTS is taken for it.
TEST(AdtsHeaderTest, HeadersAreRecognisedAndGiveTheirFrameLength) {
  struct Row {
    std::vector<uint8_t> bytes;
    bool adts;
    size_t frameLength;
  };
  const Row rows[] = {
      {{0xFF, 0xF1, 0x50, 0x40, 0x0D, 0x7F, 0xFC}, true, 107},
      {{0xFF, 0xF9, 0x4C, 0x83, 0xFF, 0xFF, 0xFC}, true, 8191},  // MPEG-2 ID
      {{0xFF, 0xFB, 0x90, 0x00, 0x00, 0x00, 0x00}, false, 0},     // MPEG-1 layer III
      {{0xFF, 0xF1, 0x50, 0x40, 0x0D, 0x7F}, false, 0},           // cut short
      {{0xFE, 0xF1, 0x50, 0x40, 0x0D, 0x7F, 0xFC}, false, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(AdtsHeader::IsAt(row.bytes.data(), row.bytes.size()), row.adts);
    if (row.adts) {
      EXPECT_EQ(AdtsHeader::FrameLength(row.bytes.data()), row.frameLength);
    }
  }
}

}  // namespace

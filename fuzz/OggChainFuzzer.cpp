// libFuzzer target: the Ogg chain reader fed arbitrary bytes in arbitrary
// cuts.
//
// Input: byte 0 gives the cut size (1 to 256 bytes); the rest is the stream.
// Checked: every byte fed comes out, unchanged and in order, once the
// stream is finished; what the reader holds back never exceeds its bound by
// more than one page; titles stay within their byte bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ogg/OggChainReader.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "Ogg chain invariant broken: %s\n", what);
    std::abort();
  }
}

class Collector : public OggChainReader::Sink {
 public:
  void OnOggAudio(const uint8_t* data, int32_t size) override { audio.insert(audio.end(), data, data + size); }
  void OnOggTitle(const std::string& title) override {
    // ARTIST - TITLE: two values and the separator.
    Check(title.size() <= 2 * OggChainReader::kMaxValueBytes + 3, "a title past its bound");
  }
  std::vector<uint8_t> audio;
};

// The largest Ogg page: a 27-byte header, 255 lacing values of 255 bytes.
constexpr size_t kMaxPage = 27 + 255 + 255 * 255;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  const size_t cut = size_t{data[0]} + 1;
  const uint8_t* stream = data + 1;
  const size_t length = size - 1;

  Collector collector;
  OggChainReader reader(collector);
  for (size_t offset = 0; offset < length; offset += cut) {
    const size_t piece = std::min(cut, length - offset);
    reader.Feed(stream + offset, static_cast<int32_t>(piece));
    const size_t held = offset + piece - collector.audio.size();
    Check(held <= size_t{OggChainReader::kMaxHeldBytes} + kMaxPage + cut, "held bytes past the bound");
  }
  reader.Finish();
  Check(collector.audio.size() == length, "bytes lost or added");
  Check(length == 0 || std::memcmp(collector.audio.data(), stream, length) == 0, "bytes changed");
  return 0;
}

// libFuzzer target: the HLS segment unpacker (MPEG-TS, fragmented MP4 with
// an init segment, packed audio) fed arbitrary segments.
//
// Input: byte 0 says how many of the following bytes (times 16, at most the
// whole input) form the init segment; the rest is the segment. Checked:
// unpacking never throws or crashes, every title mark lies within the audio,
// in order, and a result that is not Audio says why.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "media/SegmentUnpacker.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "segment invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t initSize = std::min(rest.size(), size_t{data[0]} * 16);
  const SegmentUnpacker::Result result = SegmentUnpacker::Unpack(rest.substr(initSize), rest.substr(0, initSize));
  int64_t previous = 0;
  for (const SegmentUnpacker::TitleMark& mark : result.titles) {
    Check(mark.audioOffset >= previous, "title marks out of order");
    Check(mark.audioOffset <= static_cast<int64_t>(result.audio.size()), "a title mark past the audio");
    Check(mark.title.size() <= SegmentUnpacker::kMaxTitleBytes, "a title past its bound");
    previous = mark.audioOffset;
  }
  Check(result.outcome == SegmentUnpacker::Outcome::Audio || !result.reason.empty(), "a failure without a reason");
  return 0;
}

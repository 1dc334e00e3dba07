// libFuzzer target: the ICY demultiplexer (ServerStream::ProcessChunk) fed
// arbitrary response bytes in arbitrary cuts.
//
// Input: byte 0 gives the number of cut sizes n (0..15); bytes 1..n are the
// cuts: cut value k hands over a chunk of (k / 2) * 7 + 1 bytes (1 to 890),
// preceded by a null chunk when k is odd; the rest is the response, fed in
// those cuts, round and round (no cuts: all at once).
//
// Checked after every call that does not throw: every byte fed is in
// exactly one of header, audio, metadata or the leftover; the observers got
// no more than the audio bytes counted, and what waits (the first interval
// until its title, the bytes that tell the format, an Ogg page waiting for
// its comment header) stays bounded; the leftover never grows past the
// largest unit the demultiplexer must hold (a header block, an audio block
// with its one look-ahead byte, a metadata block). After the end of the
// response, the observers got exactly the audio bytes counted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "audio/AudioFormat.h"
#include "net/HttpConnection.h"
#include "ogg/OggChainReader.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"

namespace {

class AudioCounter : public StreamObserver {
 public:
  void OnAudio(const StreamBuffer& audio) override { bytes += audio.Size(); }
  int64_t bytes = 0;
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "demultiplexer invariant broken: %s\n", what);
    std::abort();
  }
}

constexpr int64_t kMaxLeftover =
    int64_t{ServerStream::kMaxMetadataInterval} + int64_t{HttpConnection::kMaxHeaderBytes} + 255 * 16 + 2;
// Audio counted but not handed on yet: the first interval, or the probe's
// bytes, plus what the Ogg reader holds for a comment header and one page
// header.
constexpr int64_t kMaxWaiting = int64_t{ServerStream::kMaxMetadataInterval} + AudioFormatProbe::kProbeBytes +
                                OggChainReader::kMaxHeldBytes + 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ServerStream* stream = [] {
    static ServerStream instance;
    return &instance;
  }();
  static AudioCounter* counter = [] {
    static AudioCounter instance;
    stream->AddObserver(&instance);
    return &instance;
  }();
  if (size == 0) {
    return 0;
  }
  const size_t cutCount = data[0] % 16;
  if (size < 1 + cutCount) {
    return 0;
  }
  const uint8_t* cuts = data + 1;
  const uint8_t* response = data + 1 + cutCount;
  const size_t length = size - 1 - cutCount;

  stream->BeginResponse();
  counter->bytes = 0;
  int64_t fed = 0;
  size_t position = 0;
  size_t cut = 0;
  while (position < length) {
    const uint8_t value = cutCount == 0 ? 0 : cuts[cut % cutCount];
    const size_t piece = cutCount == 0 ? length : size_t{value / 2u} * 7 + 1;
    ++cut;
    try {
      if (value % 2 == 1) {
        stream->ProcessChunk(nullptr);
      }
      const size_t taken = piece < length - position ? piece : length - position;
      StreamBuffer chunk(response + position, static_cast<int32_t>(taken));
      position += taken;
      fed += static_cast<int64_t>(taken);
      stream->ProcessChunk(&chunk);
    } catch (const std::runtime_error&) {
      return 0;  // an unusable response: the connection would end here
    }
    const ServerStream::ConsumedBytes consumed = stream->Consumed();
    Check(consumed.header + consumed.audio + consumed.metadata + stream->LeftoverSize() == fed,
          "bytes consumed + leftover != bytes fed");
    Check(counter->bytes <= consumed.audio, "more audio delivered than counted");
    Check(consumed.audio - counter->bytes <= kMaxWaiting, "audio held back unbounded");
    Check(stream->LeftoverSize() <= kMaxLeftover, "leftover unbounded");
    Check(consumed.header <= HttpConnection::kMaxHeaderBytes, "header block past its limit");
  }
  stream->FinishResponse();
  Check(stream->Consumed().audio == counter->bytes, "audio counted != audio delivered at the end");
  return 0;
}

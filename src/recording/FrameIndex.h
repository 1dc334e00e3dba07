#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "media/MediaCodecs.h"

class HeldAudio;

// The codecs whose frames a SilenceCutter can find and decode.
using FrameCodec = media::FrameCodec;

// One frame of held audio: where it lies in the response, and when.
struct AudioFrame {
  int64_t offset = 0;
  int32_t size = 0;
  int64_t startUs = 0;
  int64_t durationUs = 0;
  bool boundary = false;  // a cut may go before it
  int64_t End() const { return offset + size; }
  int64_t EndUs() const { return startUs + durationUs; }
};

// Finds the frames of MPEG audio (layers I to III) and ADTS AAC in a
// response's audio as it arrives, with FFmpeg's parser (a FrameSplitter of
// the media module, loaded at the first Begin with a codec), and keeps those of
// the held audio, oldest first, each with its place on the time line: frame
// headers give durations, and the bytes between frames count at the stream's
// bit rate. A frame whose bytes the parser merged with junk (an ID3 tag, a
// broken frame) is kept for decoding but is no boundary: a cut never goes
// before it. A parser that fails or stops making progress finds nothing more
// in that response; so does a process without the media module
// (Unavailable() then says why, and every title stays where it came).
//
// The bit rate is the frames' own; before any is found, the fallback (the
// stream's Bitrate event), or SilenceCutter::kDefaultBytesPerSecond.
//
// Owns the parser. Not thread-safe: the cutter's thread alone uses it.
class FrameIndex {
 public:
  FrameIndex();
  ~FrameIndex();
  FrameIndex(const FrameIndex&) = delete;
  FrameIndex& operator=(const FrameIndex&) = delete;

  // A new response in codec: no frames, time from 0 again. The fallback
  // bit rate stays.
  void Begin(FrameCodec codec);
  FrameCodec Codec() const { return codec; }
  // Bytes per second from the stream's Bitrate event; 0: none.
  void SetFallbackBytesPerSecond(int64_t bytesPerSecond) { fallbackBytesPerSecond = bytesPerSecond; }

  // Looks for frames in the response's next size bytes, which held holds
  // from held.End() - size on.
  void Parse(const uint8_t* data, int32_t size, const HeldAudio& held);
  // Forgets the frames that begin before position.
  void DropBefore(int64_t position);

  // Why no frames are looked for in this response: the media module could
  // not be loaded. Empty otherwise.
  const std::string& Unavailable() const { return unavailable; }

  const std::deque<AudioFrame>& Frames() const { return frames; }
  // Whether Frames().front() is the response's first frame.
  bool FromStart() const { return fromStart; }
  // The layer of the response's first MPEG frame (3 until one is found).
  int32_t MpegLayer() const { return mpegLayer; }
  double BytesPerSecond() const;
  // When the response's byte at position plays, in microseconds.
  int64_t TimeAt(int64_t position) const;

 private:
  void Add(int64_t offset, const uint8_t* bytes, int32_t size, const HeldAudio& held);

  FrameCodec codec = FrameCodec::None;
  int64_t fallbackBytesPerSecond = 0;
  std::deque<AudioFrame> frames;
  bool fromStart = true;
  int64_t frameBytes = 0;  // sums over `frames`, for the bit rate
  int64_t frameMicros = 0;
  int64_t trackOffset = -1;  // where the last frame found ended (-1: none yet)
  int64_t trackUs = 0;       // and when
  int32_t mpegLayer = 3;
  std::unique_ptr<media::FrameSplitter> splitter;  // null: no frames looked for
  std::string unavailable;
};

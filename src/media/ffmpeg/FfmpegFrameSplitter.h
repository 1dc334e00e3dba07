#pragma once

#include <memory>
#include <vector>

#include "media/MediaCodecs.h"

struct AVCodecContext;
struct AVCodecParserContext;

// Part of the media module. A media::FrameSplitter over libavcodec's parser
// for MPEG audio or ADTS AAC. Owns the parser; one thread uses it.
class FfmpegFrameSplitter : public media::FrameSplitter {
 public:
  // Null when libavcodec has no parser for codec.
  static std::unique_ptr<FfmpegFrameSplitter> Open(media::FrameCodec codec);
  // Unusable until Open has given it a parser.
  FfmpegFrameSplitter() = default;

  bool Feed(const uint8_t* data, int32_t size, const FrameFound& found) override;

 private:
  struct ParserCloser {
    void operator()(AVCodecParserContext* parser) const;
  };
  struct ContextFreer {
    void operator()(AVCodecContext* context) const;
  };

  std::unique_ptr<AVCodecParserContext, ParserCloser> parser;
  std::unique_ptr<AVCodecContext, ContextFreer> context;
  int64_t parsedEnd = 0;  // bytes the parser has consumed
  std::vector<uint8_t> scratch;
};

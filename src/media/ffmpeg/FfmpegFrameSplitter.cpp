#include "media/ffmpeg/FfmpegFrameSplitter.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// libavcodec's complaints about a stream that starts mid-frame are expected
// here: raised by this much they stay below every log level but the most
// verbose.
constexpr int kQuietLogOffset = AV_LOG_TRACE;

}  // namespace

void FfmpegFrameSplitter::ParserCloser::operator()(AVCodecParserContext* context) const {
  av_parser_close(context);
}

void FfmpegFrameSplitter::ContextFreer::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }

std::unique_ptr<FfmpegFrameSplitter> FfmpegFrameSplitter::Open(media::FrameCodec codec) {
  if (codec == media::FrameCodec::None) {
    return nullptr;
  }
  auto splitter = std::make_unique<FfmpegFrameSplitter>();
  splitter->parser.reset(av_parser_init(codec == media::FrameCodec::Mpeg ? AV_CODEC_ID_MP3 : AV_CODEC_ID_AAC));
  splitter->context.reset(avcodec_alloc_context3(nullptr));
  if (!splitter->parser || !splitter->context) {
    return nullptr;
  }
  splitter->context->log_level_offset = kQuietLogOffset;
  return splitter;
}

bool FfmpegFrameSplitter::Feed(const uint8_t* bytes, int32_t size, const FrameFound& found) {
  // The parser reads ahead past its input, which must end in zeroed padding.
  scratch.assign(bytes, bytes + size);
  scratch.resize(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const uint8_t* data = scratch.data();
  while (size > 0) {
    uint8_t* frame = nullptr;
    int frameSize = 0;
    const int used = av_parser_parse2(parser.get(), context.get(), &frame, &frameSize, data, size, AV_NOPTS_VALUE,
                                      AV_NOPTS_VALUE, parsedEnd);
    if (used < 0 || (used == 0 && frameSize <= 0)) {
      return false;
    }
    data += used;
    size -= used;
    parsedEnd += used;
    if (frameSize > 0 && frame != nullptr) {
      found(parsedEnd, frame, frameSize);
    }
  }
  return true;
}

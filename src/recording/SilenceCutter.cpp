#include "recording/SilenceCutter.h"

#include "stream/StreamBuffer.h"

// Until the cutter is built: everything passes straight through.
struct SilenceCutter::Impl {
  explicit Impl(StreamObserver& observer) : next(observer) {}
  StreamObserver& next;
};

SilenceCutter::SilenceCutter(StreamObserver& next, const RecordingOptions&) : impl(std::make_unique<Impl>(next)) {}

SilenceCutter::~SilenceCutter() = default;

void SilenceCutter::Reset() {}

void SilenceCutter::OnAudio(const StreamBuffer& audio) { impl->next.OnAudio(audio); }

void SilenceCutter::OnText(StreamEvent kind, std::string text) { impl->next.OnText(kind, std::move(text)); }

void SilenceCutter::Flush() {}

int64_t SilenceCutter::HeldBytes() const { return 0; }

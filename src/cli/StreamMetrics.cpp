#include "cli/StreamMetrics.h"

#include <utility>

#include "recording/RecordingWriter.h"
#include "schedule/ShowSwitch.h"
#include "stream/StreamBuffer.h"

namespace {

// The state whose display text is text; Undefined for none.
StreamState StateOfText(const std::string& text) {
  for (const StreamState state : {StreamState::Disconnected, StreamState::Connecting, StreamState::Connected,
                                  StreamState::ErrorOnConnecting, StreamState::ErrorPreparingBuffer,
                                  StreamState::Disconnecting}) {
    if (text == StreamStateText(state)) {
      return state;
    }
  }
  return StreamState::Undefined;
}

}  // namespace

StreamMetrics::StreamMetrics(int32_t number, std::string id, std::string url, const RecordingWriter* writer)
    : id(std::move(id)), url(std::move(url)), writer(writer), number(number) {}

void StreamMetrics::OnAudio(const StreamBuffer& audio) {
  received.fetch_add(audio.Size(), std::memory_order_relaxed);
  lastAudioTicks.store(Ticks(Clock::now()), std::memory_order_relaxed);
}

void StreamMetrics::OnText(StreamEvent kind, std::string text) {
  if (kind != StreamEvent::State) {
    return;
  }
  const StreamState newState = StateOfText(text);
  state.store(newState, std::memory_order_relaxed);
  if (newState == StreamState::Connecting) {
    attempts.fetch_add(1, std::memory_order_relaxed);
    int64_t notStarted = 0;
    startTicks.compare_exchange_strong(notStarted, Ticks(Clock::now()), std::memory_order_relaxed);
  }
}

StreamMetrics::Sample StreamMetrics::Read(Clock::time_point now) const {
  Sample sample;
  sample.number = number.load(std::memory_order_relaxed);
  sample.id = id;
  sample.url = url;
  sample.state = state.load(std::memory_order_relaxed);
  sample.receivedBytes = received.load(std::memory_order_relaxed);
  const int64_t tries = attempts.load(std::memory_order_relaxed);
  sample.reconnects = tries > 1 ? tries - 1 : 0;
  int64_t since = lastAudioTicks.load(std::memory_order_relaxed);
  if (since == 0) {
    since = startTicks.load(std::memory_order_relaxed);
  }
  if (since != 0) {
    const auto elapsed = now - Clock::time_point(Clock::duration(since));
    sample.secondsSinceAudio = elapsed < Clock::duration::zero() ? 0 : std::chrono::duration<double>(elapsed).count();
  }
  if (writer != nullptr) {
    sample.writtenBytes = writer->BytesWritten();
    sample.filesWritten = writer->FilesWritten();
    sample.writeErrors = writer->WriteErrors();
  }
  if (const ShowSwitch* showSwitch = shows.load(std::memory_order_acquire)) {
    sample.scheduled = true;
    sample.nextShowStart = showSwitch->NextStartSeconds();
    sample.showsRecorded = showSwitch->ShowsRecorded();
    sample.showsMissed = showSwitch->ShowsMissed();
  }
  return sample;
}

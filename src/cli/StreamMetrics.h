#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "stream/StreamObserver.h"
#include "stream/StreamState.h"

class RecordingWriter;
class ShowSwitch;

// What the metrics endpoint tells about one stream: its connection state,
// the audio bytes it received, how often it had to connect again and how
// long ago its last audio arrived, collected from the stream's events; and
// what its writer made of the audio (bytes and files written, write errors),
// read from the writer's own counters when asked.
//
// The stream's worker calls OnText and OnAudio (the controlling thread does
// for the state of a stop). They only store into atomics, so a worker never
// waits for a scrape. Read runs on the metrics endpoint's thread; SetNumber
// on the recorder's main thread. The id (the entry label) never changes;
// the number only orders the page.
//
// The show figures come from the entry's ShowSwitch, when it has one (set
// at most once, on the main thread, possibly while a scrape reads); it must
// outlive every Read, as the writer must.
//
// writer may be null; when set it must outlive every Read (RecorderMetrics
// removes the stream before its entry goes). The observer itself must
// outlive its place in the stream's observer list.
class StreamMetrics : public StreamObserver {
 public:
  using Clock = std::chrono::steady_clock;

  StreamMetrics(int32_t number, std::string id, std::string url, const RecordingWriter* writer);

  void OnAudio(const StreamBuffer& audio) override;
  void OnText(StreamEvent kind, std::string text) override;

  // One reading of every figure.
  struct Sample {
    int32_t number = 0;
    std::string id;
    std::string url;
    StreamState state = StreamState::Disconnected;
    int64_t receivedBytes = 0;
    int64_t writtenBytes = 0;
    int64_t filesWritten = 0;
    int64_t writeErrors = 0;
    // Connection attempts after the first one: reconnects after a loss and
    // retries of a failing server alike.
    int64_t reconnects = 0;
    // Since the last audio byte arrived, or, before any did, since the
    // stream first started; 0 before it started.
    double secondsSinceAudio = 0;
    // Only for an entry with schedules.
    bool scheduled = false;
    int64_t nextShowStart = 0;  // Unix time of the next stretch's start; 0: none
    int64_t showsRecorded = 0;
    int64_t showsMissed = 0;
  };
  Sample Read(Clock::time_point now) const;

  // The entry's place in the list from now on (a reload moved it).
  void SetNumber(int32_t newNumber) { number.store(newNumber, std::memory_order_relaxed); }
  const std::string& Url() const { return url; }
  void SetShows(const ShowSwitch* showSwitch) { shows.store(showSwitch, std::memory_order_release); }

 private:
  static int64_t Ticks(Clock::time_point time) { return time.time_since_epoch().count(); }

  // Constant after construction.
  const std::string id;
  const std::string url;
  const RecordingWriter* const writer;  // not owned; may be null

  // Shared without a lock.
  std::atomic<int32_t> number;
  std::atomic<StreamState> state{StreamState::Disconnected};
  std::atomic<int64_t> received{0};
  std::atomic<int64_t> attempts{0};        // Connecting events
  std::atomic<int64_t> lastAudioTicks{0};  // Clock ticks; 0: no audio yet
  std::atomic<int64_t> startTicks{0};      // Clock ticks of the first Connecting; 0: not started
  std::atomic<const ShowSwitch*> shows{nullptr};  // not owned; null without schedules
};

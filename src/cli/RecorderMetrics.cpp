#include "cli/RecorderMetrics.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "text/ByteText.h"

namespace {

using MetricFamily = metrics::Family;
using MetricType = metrics::Kind;

// The states a stream can be in, in code order.
constexpr std::array<StreamState, 5> kStates = {StreamState::Disconnected, StreamState::Connecting,
                                                StreamState::Connected, StreamState::ErrorOnConnecting,
                                                StreamState::ErrorPreparingBuffer};

MetricFamily Family(const char* name, const char* help, MetricType type, size_t size) {
  MetricFamily family;
  family.name = name;
  family.help = help;
  family.type = type;
  family.metric.reserve(size);
  return family;
}

void AddSample(MetricFamily& family, const std::vector<metrics::Label>& labels, double value) {
  family.metric.push_back({labels, value});
}

}  // namespace

void RecorderMetrics::Add(StreamMetrics* stream) {
  if (stream == nullptr) {
    return;
  }
  MutexLock lock(mutex);
  streams.push_back(stream);
}

void RecorderMetrics::Remove(const StreamMetrics* stream) {
  MutexLock lock(mutex);
  streams.erase(std::remove(streams.begin(), streams.end(), stream), streams.end());
}

size_t RecorderMetrics::StreamCount() const {
  MutexLock lock(mutex);
  return streams.size();
}

const char* RecorderMetrics::StateLabel(StreamState state) {
  switch (state) {
    case StreamState::Disconnected:
      return "disconnected";
    case StreamState::Connecting:
      return "connecting";
    case StreamState::Connected:
      return "connected";
    case StreamState::ErrorOnConnecting:
      return "error_on_connecting";
    case StreamState::ErrorPreparingBuffer:
      return "error_preparing_buffer";
    case StreamState::Disconnecting:
    case StreamState::Undefined:
      break;
  }
  return "undefined";
}

std::vector<MetricFamily> RecorderMetrics::Collect() const {
  std::vector<StreamMetrics::Sample> samples;
  {
    MutexLock lock(mutex);
    samples.reserve(streams.size());
    const auto now = StreamMetrics::Clock::now();
    for (const StreamMetrics* stream : streams) {
      samples.push_back(stream->Read(now));
    }
  }
  // In list order, so that a reader of the page finds an entry where the
  // list has it.
  std::sort(samples.begin(), samples.end(),
            [](const StreamMetrics::Sample& a, const StreamMetrics::Sample& b) { return a.number < b.number; });

  const size_t n = samples.size();
  MetricFamily state = Family("driftharbour_stream_state",
                              "Connection state: 2 disconnected, 3 connecting, 4 connected, 5 error on connecting, "
                              "6 error when preparing the buffer",
                              MetricType::Gauge, n);
  MetricFamily received =
      Family("driftharbour_stream_received_bytes_total", "Audio bytes received", MetricType::Counter, n);
  MetricFamily written =
      Family("driftharbour_stream_written_bytes_total", "Audio bytes written to files", MetricType::Counter, n);
  MetricFamily files = Family("driftharbour_stream_files_written_total", "Files created", MetricType::Counter, n);
  MetricFamily reconnects = Family("driftharbour_stream_reconnects_total",
                                   "Connection attempts after the first (reconnects and retries)",
                                   MetricType::Counter, n);
  MetricFamily silence = Family("driftharbour_stream_seconds_since_audio",
                                "Seconds since the last audio byte arrived (or since the start, before any did)",
                                MetricType::Gauge, n);
  MetricFamily errors = Family("driftharbour_stream_write_errors_total",
                               "Files that could not be created, failed writes and syncs", MetricType::Counter, n);
  MetricFamily byState = Family("driftharbour_streams", "Entries recording, by connection state", MetricType::Gauge,
                                kStates.size());

  MetricFamily nextShow = Family("driftharbour_show_next_start_seconds",
                                 "Unix time at which the next scheduled show's recording starts (0: none)",
                                 MetricType::Gauge, 0);
  MetricFamily showsRecorded =
      Family("driftharbour_shows_recorded_total", "Scheduled shows that recorded audio", MetricType::Counter, 0);
  MetricFamily showsMissed = Family("driftharbour_shows_missed_total",
                                    "Scheduled shows that could not connect throughout", MetricType::Counter, 0);

  std::array<int64_t, kStates.size()> counts{};
  for (const StreamMetrics::Sample& sample : samples) {
    const std::vector<metrics::Label> labels = {{"entry", sample.id},
                                                     {"url", ByteText::ToUtf8(sample.url)}};
    AddSample(state, labels, static_cast<double>(sample.state));
    AddSample(received, labels, static_cast<double>(sample.receivedBytes));
    AddSample(written, labels, static_cast<double>(sample.writtenBytes));
    AddSample(files, labels, static_cast<double>(sample.filesWritten));
    AddSample(reconnects, labels, static_cast<double>(sample.reconnects));
    AddSample(silence, labels, sample.secondsSinceAudio);
    AddSample(errors, labels, static_cast<double>(sample.writeErrors));
    if (sample.scheduled) {
      AddSample(nextShow, labels, static_cast<double>(sample.nextShowStart));
      AddSample(showsRecorded, labels, static_cast<double>(sample.showsRecorded));
      AddSample(showsMissed, labels, static_cast<double>(sample.showsMissed));
    }
    for (size_t i = 0; i < kStates.size(); ++i) {
      if (sample.state == kStates[i]) {
        ++counts[i];
      }
    }
  }
  for (size_t i = 0; i < kStates.size(); ++i) {
    AddSample(byState, {{"state", StateLabel(kStates[i])}}, static_cast<double>(counts[i]));
  }

  std::vector<MetricFamily> families;
  families.reserve(11);
  for (MetricFamily* family : {&state, &received, &written, &files, &reconnects, &silence, &errors, &byState}) {
    families.push_back(std::move(*family));
  }
  for (MetricFamily* family : {&nextShow, &showsRecorded, &showsMissed}) {
    if (!family->metric.empty()) {
      families.push_back(std::move(*family));
    }
  }
  return families;
}

#include "cli/Recorder.h"

#include <algorithm>
#include <iterator>

#include "cli/ConsoleReporter.h"
#include "cli/RecorderMetrics.h"
#include "cli/StreamMetrics.h"
#include "recording/RecordingWriter.h"
#include "recording/SilenceCutter.h"
#include "stream/ServerStream.h"

struct Recorder::Entry {
  // Declared so that the stream goes first: its destructor stops the worker
  // that calls the cutter, the writer, the reporter and the metrics.
  std::unique_ptr<RecordingWriter> writer;
  std::unique_ptr<SilenceCutter> cutter;  // null unless cutting at silence
  std::unique_ptr<ConsoleReporter> reporter;
  std::unique_ptr<StreamMetrics> metrics;  // null unless metrics are served
  std::unique_ptr<ServerStream> stream;
  bool scheduled = false;

  ~Entry() {
    if (stream) {
      stream->ClearObservers();
      stream.reset();
    }
  }
};

Recorder::Recorder() = default;

Recorder::~Recorder() {
  StopAll();
  if (metrics != nullptr) {
    for (const auto& entry : entries) {
      metrics->Remove(entry->metrics.get());
    }
  }
  // With every stream stopped: a show still on was cut short.
  for (const auto& entry : entries) {
    shows.Detach(entry->stream.get());
  }
  entries.clear();
}

void Recorder::AddEntry(const EntrySettings& settings) {
  auto entry = std::make_unique<Entry>();
  entry->writer = std::make_unique<RecordingWriter>();
  entry->writer->SetDirectory(settings.directory);
  entry->writer->SetFileSplitting(settings.fileSplitting);
  entry->writer->SetSmartSplitting(settings.smartSplitting);
  if (settings.syncIntervalSeconds >= 0) {
    entry->writer->SetSyncInterval(settings.syncIntervalSeconds);
  }
  entry->writer->SetRecordingOptions(settings.options);
  entry->writer->SetSourceUrl(settings.url);
  if (settings.options.cutAtSilence) {
    entry->cutter = std::make_unique<SilenceCutter>(*entry->writer, settings.options);
  }
  const auto number = settings.number > 0 ? settings.number : static_cast<int32_t>(entries.size() + 1);
  entry->reporter = std::make_unique<ConsoleReporter>(std::to_string(number), settings.url, entry->writer.get());
  entry->stream = std::make_unique<ServerStream>();
  if (settings.readSize > 0) {
    entry->stream->SetReadSize(settings.readSize);
  }
  entry->stream->SetUrl(settings.url);
  entry->stream->SetKnownStation(settings.stationName);
  entry->stream->AddObserver(entry->cutter ? static_cast<StreamObserver*>(entry->cutter.get())
                                           : static_cast<StreamObserver*>(entry->writer.get()));
  entry->stream->AddObserver(entry->reporter.get());
  if (metrics != nullptr) {
    entry->metrics = std::make_unique<StreamMetrics>(number, std::to_string(number), settings.url, entry->writer.get());
    entry->stream->AddObserver(entry->metrics.get());
  }
  Entry& added = *entry;
  entries.push_back(std::move(entry));
  if (!settings.schedules.empty()) {
    added.scheduled = true;
    const ShowSwitch* showSwitch =
        shows.Attach(added.stream.get(), added.writer.get(), "[" + std::to_string(number) + "] " + settings.url + ": ");
    if (added.metrics) {
      added.metrics->SetShows(showSwitch);
    }
    // Last: a show on now starts the stream at once.
    shows.SetSchedules(added.stream.get(), settings.schedules);
  }
  if (metrics != nullptr) {
    metrics->Add(added.metrics.get());
  }
}

void Recorder::StartAll() {
  for (auto& entry : entries) {
    if (!entry->scheduled && entry->stream->IsStopped()) {
      entry->stream->Toggle();
    }
  }
  started = entries.size();
}

size_t Recorder::StartWaiting(size_t most) {
  for (; started < entries.size() && most > 0; ++started) {
    // An entry with schedules starts with its shows: it takes no start.
    if (!entries[started]->scheduled) {
      if (entries[started]->stream->IsStopped()) {
        entries[started]->stream->Toggle();
      }
      --most;
    }
  }
  return entries.size() - started;
}

void Recorder::StopAll() {
  // Close every connection first, so that all workers wind down together,
  // then wait for each.
  for (auto& entry : entries) {
    entry->stream->RequestStop();
  }
  for (auto& entry : entries) {
    entry->stream->Stop();
  }
}

std::vector<std::string> Recorder::TakeLines() { return LineTexts(TakeLogLines()); }

std::vector<LogLine> Recorder::TakeLogLines() {
  std::vector<LogLine> lines;
  for (auto& entry : entries) {
    auto taken = entry->reporter->TakeLogLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  }
  for (auto& line : shows.TakeLines()) {
    lines.push_back({line.warning ? LogLevel::Warning : LogLevel::Notice, std::move(line.text)});
  }
  return lines;
}

bool Recorder::Idle() const {
  // A stopped stream's worker may still be writing its last audio and lines.
  return std::all_of(entries.begin(), entries.end(), [](const auto& entry) { return entry->stream->IsIdle(); });
}

std::vector<const ConsoleReporter*> Recorder::UnscheduledReporters() const {
  std::vector<const ConsoleReporter*> reporters;
  for (const auto& entry : entries) {
    if (!entry->scheduled) {
      reporters.push_back(entry->reporter.get());
    }
  }
  return reporters;
}

std::vector<std::string> Recorder::ProgressLines(size_t most) const {
  std::vector<std::string> lines;
  lines.reserve(std::min(most, entries.size()));
  for (size_t i = 0; i < entries.size() && i < most; ++i) {
    lines.push_back(entries[i]->reporter->ProgressLine());
  }
  return lines;
}

std::vector<const ConsoleReporter*> Recorder::Reporters() const {
  std::vector<const ConsoleReporter*> reporters;
  reporters.reserve(entries.size());
  for (const auto& entry : entries) {
    reporters.push_back(entry->reporter.get());
  }
  return reporters;
}

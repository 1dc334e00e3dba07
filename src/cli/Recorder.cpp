#include "cli/Recorder.h"

#include "cli/ConsoleReporter.h"
#include "recording/RecordingWriter.h"
#include "recording/SilenceCutter.h"
#include "stream/ServerStream.h"

struct Recorder::Entry {
  // Declared so that the stream goes first: its destructor stops the worker
  // that calls the cutter, the writer and the reporter.
  std::unique_ptr<RecordingWriter> writer;
  std::unique_ptr<SilenceCutter> cutter;  // null unless cutting at silence
  std::unique_ptr<ConsoleReporter> reporter;
  std::unique_ptr<ServerStream> stream;

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
  entry->reporter = std::make_unique<ConsoleReporter>(static_cast<int32_t>(entries.size() + 1), settings.url,
                                                      entry->writer.get());
  entry->stream = std::make_unique<ServerStream>();
  if (settings.readSize > 0) {
    entry->stream->SetReadSize(settings.readSize);
  }
  entry->stream->SetUrl(settings.url);
  entry->stream->AddObserver(entry->cutter ? static_cast<StreamObserver*>(entry->cutter.get())
                                           : static_cast<StreamObserver*>(entry->writer.get()));
  entry->stream->AddObserver(entry->reporter.get());
  entries.push_back(std::move(entry));
}

void Recorder::StartAll() {
  for (auto& entry : entries) {
    if (entry->stream->IsStopped()) {
      entry->stream->Toggle();
    }
  }
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

std::vector<std::string> Recorder::TakeLines() {
  std::vector<std::string> lines;
  for (auto& entry : entries) {
    auto taken = entry->reporter->TakeLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  }
  return lines;
}

std::vector<std::string> Recorder::ProgressLines() const {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const auto& entry : entries) {
    lines.push_back(entry->reporter->ProgressLine());
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

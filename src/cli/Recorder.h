#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ScheduleRunner.h"
#include "cli/LogLine.h"
#include "recording/RecordingOptions.h"
#include "schedule/Schedule.h"

class ConsoleReporter;
class RecorderMetrics;
class RecordingWriter;
class ServerStream;

// The headless recorder's entries: for every URL one ServerStream with its
// RecordingWriter (first observer, behind a SilenceCutter when cutting at
// silence), ConsoleReporter (second) and, when metrics are served,
// StreamMetrics (third).
//
// One thread (the recorder's main thread) calls everything. Start and Stop
// work like a double-click on every entry. The destructor stops what still
// runs, takes every entry off the metrics, and tears each entry down stream
// first, so no worker or scrape ever calls into a destroyed writer or
// reporter; files are closed with the writers.
//
// Entries with schedules record only during their shows: the start
// functions leave them alone, and the schedule runner (Shows(), which the
// main loop wakes) starts and stops them.
class Recorder {
 public:
  struct EntrySettings {
    std::string url;
    std::string directory;
    bool fileSplitting = true;
    bool smartSplitting = true;
    int32_t readSize = 0;  // 0: the stream's default
    int32_t syncIntervalSeconds = -1;  // -1: the writer's default
    RecordingOptions options;          // all off: files as they always were
    int32_t number = 0;                // in the lines and metrics; 0: one more than the last entry's
    std::string stationName{};         // names untitled audio until the server names itself; may be empty
    std::vector<Schedule> schedules{};  // none: records from the start (an initialiser: older lists compile unchanged)
  };

  Recorder();
  ~Recorder();

  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Every entry added from now on reports to metrics, which must outlive
  // the recorder. Before the first AddEntry.
  void SetMetrics(RecorderMetrics* recorderMetrics) { metrics = recorderMetrics; }

  // Adds an entry, stopped; numbered from 1 in the order added unless its
  // settings give a number.
  void AddEntry(const EntrySettings& settings);
  size_t EntryCount() const { return entries.size(); }

  void StartAll();
  // Starts at most `most` of the entries not started yet, in order; returns
  // how many are still waiting.
  size_t StartWaiting(size_t most);
  // Stops every running entry: connections closed, workers joined. Files
  // stay open with File Splitting off until the recorder goes away.
  void StopAll();

  // Whether no entry's stream runs: the main loop then sleeps until the
  // next show.
  bool Idle() const;
  ScheduleRunner& Shows() { return shows; }
  // Reporters of the entries without schedules, which must record something
  // for a clean exit.
  std::vector<const ConsoleReporter*> UnscheduledReporters() const;

  // Lines of every entry since the last call, entry by entry, then those
  // of the shows.
  std::vector<std::string> TakeLines();
  std::vector<LogLine> TakeLogLines();
  // The progress lines of the first `most` entries.
  std::vector<std::string> ProgressLines(size_t most = SIZE_MAX) const;
  // Every entry's reporter, in entry order; they live as long as the
  // recorder.
  std::vector<const ConsoleReporter*> Reporters() const;

 private:
  struct Entry;
  std::vector<std::unique_ptr<Entry>> entries;
  size_t started = 0;                  // entries before this one have been started
  RecorderMetrics* metrics = nullptr;  // not owned; may be null
  ScheduleRunner shows;                // after the entries: detached before they go
};

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/RecordingOptions.h"

class ConsoleReporter;
class RecordingWriter;
class ServerStream;

// The headless recorder's entries: for every URL one ServerStream with its
// RecordingWriter (first observer, behind a SilenceCutter when cutting at
// silence) and ConsoleReporter (second).
//
// One thread (the recorder's main thread) calls everything. Start and Stop
// work like a double-click on every entry. The destructor stops what still
// runs and tears each entry down stream first, so no worker ever calls into
// a destroyed writer or reporter; files are closed with the writers.
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
  };

  Recorder();
  ~Recorder();

  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Adds an entry, stopped; numbered from 1 in the order added.
  void AddEntry(const EntrySettings& settings);
  size_t EntryCount() const { return entries.size(); }

  void StartAll();
  // Stops every running entry: connections closed, workers joined. Files
  // stay open with File Splitting off until the recorder goes away.
  void StopAll();

  // Lines of every entry since the last call, entry by entry.
  std::vector<std::string> TakeLines();
  std::vector<std::string> ProgressLines() const;
  // Every entry's reporter, in entry order; they live as long as the
  // recorder.
  std::vector<const ConsoleReporter*> Reporters() const;

 private:
  struct Entry;
  std::vector<std::unique_ptr<Entry>> entries;
};

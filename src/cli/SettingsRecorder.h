#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/ConsoleListControl.h"
#include "cli/ConsoleReporter.h"
#include "app/SettingsStore.h"

// The headless recorder's --settings mode: records every server entry of a
// Driftharbour.ini, each into its own download directory with its own
// switches and the file's read size, exactly as the window would after a
// double-click on every row. The file is only read, never written.
//
// Each entry's stream reports to a ConsoleReporter as well (after its writer
// and row presenter), so the lines look as in URL mode.
//
// Owns the settings store with its entries, the console list their
// presenters write to and the reporters; the store is destroyed first, since
// its workers call the others. One thread (the recorder's main thread) calls
// everything.
class SettingsRecorder {
 public:
  SettingsRecorder();
  ~SettingsRecorder();

  SettingsRecorder(const SettingsRecorder&) = delete;
  SettingsRecorder& operator=(const SettingsRecorder&) = delete;

  // Reads the file and adds its entries, stopped. False, with a one-line
  // reason in error, when the file cannot be read or lists no server.
  // syncIntervalSeconds, unless -1, replaces the file's sync interval.
  bool Load(const std::string& settingsPath, std::string& error, int32_t syncIntervalSeconds = -1);
  int EntryCount() const { return store.EntryCount(); }

  void StartAll();
  // Stops every entry: connections closed, workers joined.
  void StopAll();

  // The lines of every entry since the last call, entry by entry.
  std::vector<std::string> TakeLines();
  std::vector<std::string> ProgressLines() const;
  // Every entry's reporter, in entry order; they live as long as the
  // recorder.
  std::vector<const ConsoleReporter*> Reporters() const;

  const SettingsStore& Store() const { return store; }

 private:
  ConsoleListControl list;
  std::vector<std::unique_ptr<ConsoleReporter>> reporters;  // per row
  SettingsStore store;
};

#pragma once

#include <string>
#include <vector>

#include "cli/ConsoleListControl.h"
#include "config/SettingsStore.h"

// The headless recorder's --settings mode: records every server entry of a
// Driftharbour.ini, each into its own download directory with its own
// switches and the file's read size, exactly as the window would after a
// double-click on every row. The file is only read, never written.
//
// Owns the settings store with its entries and the console list they report
// to; the store is destroyed first, since its workers write to the list.
// One thread (the recorder's main thread) calls everything.
class SettingsRecorder {
 public:
  SettingsRecorder();
  ~SettingsRecorder();

  SettingsRecorder(const SettingsRecorder&) = delete;
  SettingsRecorder& operator=(const SettingsRecorder&) = delete;

  // Reads the file and adds its entries, stopped. False, with a one-line
  // reason in error, when the file cannot be read or lists no server.
  bool Load(const std::string& settingsPath, std::string& error);
  int EntryCount() const { return store.EntryCount(); }

  void StartAll();
  // Stops every entry: connections closed, workers joined.
  void StopAll();

  // The row changes since the last call, then a line for every writer
  // whose last failure changed ("[n] URL: cannot record to PATH: REASON").
  std::vector<std::string> TakeLines();
  std::vector<std::string> ProgressLines() const { return list.ProgressLines(); }

  const SettingsStore& Store() const { return store; }

 private:
  ConsoleListControl list;
  SettingsStore store;
  std::vector<std::string> reportedErrors;  // per row, the last failure printed
};

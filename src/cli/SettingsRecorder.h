#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/ScheduleRunner.h"
#include "app/SettingsStore.h"
#include "app/ShardAssignment.h"
#include "cli/ConsoleListControl.h"
#include "cli/ConsoleReporter.h"
#include "cli/EntryIds.h"
#include "cli/LogLine.h"

class RecorderMetrics;
class ServerStream;
class StreamMetrics;

// The headless recorder's --settings mode: records every server entry of a
// Driftharbour.ini (or, with a shard, those the shard takes), each into its
// own download directory with its own switches and the file's read size,
// exactly as the window would after a double-click on every row. The file
// is only read, never written.
//
// Each entry's stream reports to a ConsoleReporter as well (after its writer
// and row presenter), so the lines look as in URL mode, and, when metrics
// are served, to a StreamMetrics after that. Entries are numbered by their
// place in the file (Server_0 is 1), also when a shard skips some; the
// number orders the lines and the metrics page. Their lines and metrics
// name them by an EntryIds id, from their URL and directory, which they
// keep while they record.
//
// Reload reads the file again and applies what changed (ReloadPlan): entries
// that record as before go on, untouched (their streams, writers and open
// files never notice), and are renumbered where the list moved them, their
// ids unchanged;
// entries that left the list stop, their files closed as by a stop; entries
// whose URL, directory, switches or recording options changed stop and
// start afresh; new entries start. A reload waits for no stream: the
// streams that go are torn down by the store's reaper once their workers
// have ended, their reporters kept until then for their last lines.
// Entries start through StartWaiting, so
// the caller paces them. The file's read size and sync interval apply to
// the entries a reload starts.
//
// Schedules: an entry with schedules (Schedule_n_k) records only during its
// shows; the start functions leave it alone and the schedule runner
// (Shows(), which the main loop wakes) starts and stops it. A reload hands
// every entry that goes on its new schedules: a show still planned records
// on, even when the schedules changed around it. An entry that gains
// schedules between shows stops; one that loses them all starts. Values that
// are no schedule are reported with their key and line, once per reading of
// the file. The pre-roll and post-roll are the file's ("Default" PreRoll and
// PostRoll) unless SetRolls gives them.
//
// Owns the settings store with its entries, the console list their
// presenters write to, the reporters and the stream metrics; the store is
// destroyed first, since its workers call the others, and every stream
// metrics leaves the RecorderMetrics before its writer goes. One thread (the
// recorder's main thread) calls everything.
class SettingsRecorder {
 public:
  SettingsRecorder();
  ~SettingsRecorder();

  SettingsRecorder(const SettingsRecorder&) = delete;
  SettingsRecorder& operator=(const SettingsRecorder&) = delete;

  // Before Load: record only what shard takes (all by default); report to
  // metrics (not owned, outlives the recorder; null: none).
  void SetShard(const ShardAssignment& newShard) { shard = newShard; }
  void SetMetrics(RecorderMetrics* recorderMetrics) { metrics = recorderMetrics; }
  // Seconds that replace the file's pre-roll and post-roll; -1: the file's.
  void SetRolls(int32_t preSeconds, int32_t postSeconds) {
    preRollOverride = preSeconds;
    postRollOverride = postSeconds;
  }

  // Reads the file and adds its entries (the shard's), stopped. False, with
  // a one-line reason in error, when the file cannot be read or lists no
  // server. syncIntervalSeconds, unless -1, replaces the file's sync
  // interval, also at every reload.
  bool Load(const std::string& settingsPath, std::string& error, int32_t syncIntervalSeconds = -1);
  int EntryCount() const { return static_cast<int>(entries.size()); }
  // How many servers the file listed at the last Load or Reload, other
  // shards' included.
  size_t ListedCount() const { return listed; }

  void StartAll();
  // Starts at most `most` of the entries not started yet, in list order;
  // returns how many are still waiting.
  size_t StartWaiting(size_t most);
  // Stops every entry and waits: connections closed, workers joined, the
  // entries a reload removed torn down (the recorder's way out).
  void StopAll();

  // What a Reload did, in entries of this shard.
  struct ReloadResult {
    bool read = false;  // false: the file could not be read, nothing changed
    size_t unchanged = 0;
    size_t restarted = 0;
    size_t stopped = 0;
    size_t added = 0;  // waiting for StartWaiting
  };
  ReloadResult Reload();

  // Whether no entry's stream runs: the main loop then sleeps until the
  // next show.
  bool Idle() const;
  ScheduleRunner& Shows() { return shows; }
  // Reporters of the entries without schedules, which must record something
  // for a clean exit.
  std::vector<const ConsoleReporter*> UnscheduledReporters() const;

  // The lines of every entry since the last call, entry by entry, after
  // those of entries a reload removed and of the file's schedule values
  // that were skipped, and before those of the shows.
  std::vector<std::string> TakeLines();
  std::vector<LogLine> TakeLogLines();
  // The progress lines of the first `most` entries.
  std::vector<std::string> ProgressLines(size_t most = SIZE_MAX) const;
  // Every entry's reporter, in entry order; valid until the next Reload.
  std::vector<const ConsoleReporter*> Reporters() const;

  // Entry by entry: its number and its stream (the store's), for tests.
  std::vector<std::pair<int32_t, const ServerStream*>> Streams() const;
  // Entry by entry, the name its lines and metrics carry.
  std::vector<std::string> Ids() const;
  const SettingsStore& Store() const { return store; }

 private:
  struct Entry {
    SettingsStore::StoredServer server;  // as it was read
    int32_t number = 0;                  // its place in the file, from 1
    std::string id;                      // ids' name for it, while it records
    ServerStream* stream = nullptr;      // the store's
    RecordingWriter* writer = nullptr;   // the store's
    std::unique_ptr<ConsoleReporter> reporter;
    std::unique_ptr<StreamMetrics> metrics;  // null unless metrics are served
    bool started = false;
  };

  // The servers of a freshly read file that this shard takes, and their
  // numbers.
  void Select(const std::vector<SettingsStore::StoredServer>& servers,
              std::vector<SettingsStore::StoredServer>& wanted, std::vector<int32_t>& numbers) const;
  // Adds server to the store, stopped, with its reporter and metrics; false
  // when the store cannot add it.
  bool MakeEntry(const SettingsStore::StoredServer& server, int32_t number, Entry& entry);
  // Takes the entry off the metrics, removes it from the store (its stream
  // stopped, its files closed) and keeps its last lines.
  void RemoveEntry(Entry& entry);
  // Hands the entry its schedules (attaching it to the runner when it gets
  // its first ones); what that means for a running or stopped stream is
  // above.
  void ApplySchedules(Entry& entry, const std::vector<Schedule>& schedules);
  // The pre-roll and post-roll of document, or the overrides.
  Rolls RollsOf(const IniDocument& document) const;
  // Warnings for the schedule values of servers that were skipped.
  void ReportScheduleProblems(const std::vector<SettingsStore::StoredServer>& servers);
  static std::string Label(const std::string& id, const std::string& url);

  std::string settingsPath;
  int32_t syncIntervalOverride = -1;
  ShardAssignment shard;
  RecorderMetrics* metrics = nullptr;  // not owned; may be null
  size_t listed = 0;

  EntryIds ids;
  ConsoleListControl list;
  std::vector<Entry> entries;         // in file order
  size_t waiting = 0;                 // entries not started yet
  // A removed entry's reporter, read until its worker has ended; its lines
  // come before those of the entries.
  struct Retiring {
    std::shared_ptr<ConsoleReporter> reporter;
    std::shared_ptr<const std::atomic<bool>> ended;  // set on the reaper's thread once the worker has ended
  };
  std::vector<Retiring> retiring;
  std::vector<LogLine> problemLines;  // skipped schedule values, not taken yet; before the entries'
  int32_t preRollOverride = -1;
  int32_t postRollOverride = -1;
  ScheduleRunner shows;               // its switches borrow the store's writers and streams
  SettingsStore store;                // last: destroyed first
};

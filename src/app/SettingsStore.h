#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ScheduleKeys.h"
#include "config/IniDocument.h"
#include "recording/RecordingOptions.h"
#include "schedule/Schedule.h"
#include "stream/StreamReaper.h"

class ListControl;
class ScheduleRunner;
class RecordingWriter;
class SilenceCutter;
class ServerRowPresenter;
class ServerStream;

// The model behind the server list and the keeper of the settings file
// Driftharbour.ini. It holds the settings document (defaults merged with the
// file) and every server entry: a ServerRowPresenter that shows the entry in
// one row of the list and carries its settings, a RecordingWriter that turns
// its audio into files and a ServerStream that connects to its server. The
// stream reports to the writer first and the presenter second.
//
// File layout: section "Default" with "Buffer" (bytes per network read; 0 or
// less, empty or non-numeric means 50000), "DownloadDirectory" (the
// directory of every entry that names none) and, when present,
// "SyncInterval" (seconds between syncs of an open recording, 0: only when it
// is closed; missing: 10) and "DirectoryUrl" (the one station directory
// server Find Station asks, present only where the user set it); section "Server" with
// Server_n (URL), FileSplitting_n and SmartSplitting_n (on only when they
// read as exactly 1; missing means on) and Download_n (empty or missing
// means the default directory), and the recording options where an entry
// has them: CutAtSilence_n, Tags_n and KeepPartialApart_n (on only when
// they read as 1; missing means off, so that entries stored before them
// record as they always did), SilenceBefore_n and SilenceAfter_n (ms),
// SilenceThreshold_n (dBFS), SplitOffset_n (ms) and MinLength_n (s) (missing
// means the defaults of RecordingOptions). SaveServerList writes an option
// key only where it differs from that missing reading, so a file written
// before these options loads and saves unchanged; n counting 0, 1, 2, ... in list order.
// An entry's schedules are the keys Schedule_n_k (ScheduleKeys), written
// only where it has some; a value that is no schedule is skipped and kept
// for ScheduleProblems. The
// first missing Server_n ends the list. Keys and sections the program does
// not use are kept in "Default" and by the start-up rewrite, and dropped by
// SaveServerList, which writes exactly "Default" and "Server".
//
// Ownership: owns the document and, per entry, its presenter, writer and
// stream. The list control is borrowed (null until LoadSettings) and must
// outlive the store: workers write to it until their streams are destroyed.
// Teardown: every stream is stopped (all asked first, then each joined, so
// that what a stream still holds reaches its files), then, in list order,
// each stream forgets its observers and is destroyed; then the presenters;
// then the cutters and writers, which close their files; then the document.
// Removed entries are torn down the same way on the reaper's thread, and
// the store's destructor waits for that too.
//
// Nothing the controlling thread calls waits for a worker, except the
// teardown and WaitForStops: a worker may sit in a disk write for as long
// as the disk takes. Settings change only while an entry's stream is idle
// (ServerStream::IsIdle), so no change waits for a writer's lock either.
//
// Threads: every operation runs on the controlling thread (the
// user-interface thread in the window, the main thread in the recorder) and
// takes no lock of its own. The streams' workers call into the writers and
// presenters, which guard themselves. Nothing here throws for a malformed
// or unreadable settings file.
//
// Schedules: with a ScheduleRunner set (the window's), every entry is known
// to it with its schedules from the moment it is added; a stop by ToggleRow
// during a show ends that show (ScheduleRunner::UserStopped), and a removed
// entry leaves it at once (its show's file closes as partial on the reaper's
// thread, after the worker's last audio). Without one (the recorder's
// settings mode wires its own) the schedules are only read and written.
//
// Rows: an entry is found by the row index its presenter keeps (RowAt). The
// list control has no removal of its own, so removing an entry takes two
// steps on the controlling thread, in this order: RemoveRow (which silences
// the entry's presenter, stops the stream and renumbers the rows below), and
// then, before any posted list update is applied, the deletion of that row
// from the list widget.
class SettingsStore {
 public:
  static constexpr const char* kFileName = "Driftharbour.ini";
  static constexpr const char* kDefaultSection = "Default";
  static constexpr const char* kServerSection = "Server";
  static constexpr int32_t kDefaultBuffer = 50000;

  // What LoadSettings does with the file it read.
  enum class FileUse {
    // The window at start-up: the merged settings are written back at once
    // (sorted, comments dropped, missing defaults added), atomically.
    RewriteAtStartUp,
    // Only read; the file is never written (the headless recorder).
    ReadOnly,
  };

  // No entries, an empty document, no list control.
  SettingsStore();
  virtual ~SettingsStore();

  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The settings file beside the executable named in double quotes at the
  // start of commandLine (the window passes "\"" + the /proc/self/exe
  // target + "\""): its directory + "/Driftharbour.ini".
  static std::string SettingsPathFor(const std::string& commandLine);

  // Once, after the list's columns exist: remembers list, puts the defaults
  // into the document, reads settingsPath (FileRead() tells whether it could
  // be read) and, when it was read, merges it over the defaults, rewrites it
  // if use says so (a failed rewrite is ignored) and adds one entry per
  // stored server. settingsPath is where SaveServerList writes, whether or
  // not it could be read. A file that cannot be opened or read counts as
  // missing. False, doing nothing, when list is null.
  bool LoadSettings(ListControl* list, const std::string& settingsPath, FileUse use = FileUse::RewriteAtStartUp);
  // Whether the last LoadSettings read its file.
  bool FileRead() const { return fileRead; }

  // Sets "Default" "Buffer" to 50000 and "DownloadDirectory" to the current
  // working directory (empty when it cannot be determined, which the writers
  // take as the working directory at recording time).
  static void ApplyDefaults(IniDocument& settings);
  // AddServer for Server_0, Server_1, ... of document until the first
  // missing number; entries that cannot be added are skipped. utf8Document,
  // when not null, is the same file read with UTF-16 characters kept in
  // UTF-8: the writers record into its directories, while the entries keep
  // (and save) document's.
  void LoadServerList(const IniDocument& settings, const IniDocument* utf8Document = nullptr);
  // "Default" "DownloadDirectory" of the settings; empty when missing.
  std::string DefaultDownloadDirectory() const;
  // What the next LoadSettings puts as "DownloadDirectory" among the
  // defaults in place of the working directory (the window's music folder
  // where its settings live in the user's configuration); empty: the
  // working directory. A file that names its own keeps it.
  void SetStartDirectory(std::string directory) { startDirectory = std::move(directory); }
  // "Default" "DirectoryUrl" of the settings, blanks trimmed; empty when
  // missing (then the public directory's servers are asked). Never written
  // by the program, so a file without it stays without it.
  std::string DirectoryUrl() const;

  // Creates an entry, stopped, and appends its row. An empty directory is
  // replaced by DefaultDownloadDirectory() and stored so. The stream reads
  // "Buffer" of the settings. A new entry gets the recording options of new
  // entries unless given others. With cutAtSilence on, the stream reports to
  // a SilenceCutter that feeds the writer. False, adding nothing, without a
  // list control or when the row cannot be inserted.
  bool AddServer(const std::string& url, const std::string& directory, bool fileSplitting, bool smartSplitting,
                 const RecordingOptions& options = RecordingOptions::ForNewEntries());

  // Writes "Default" of the settings and the entries, numbered from 0, to
  // the settings path, replacing the file atomically. False on any failure
  // (also before LoadSettings, when there is no path); the old file is then
  // left as it was. The settings document itself is not changed.
  bool SaveServerList();

  // The presenter (or stream) of the entry showing in row, or null.
  ServerRowPresenter* RowAt(int row) const;
  ServerStream* StreamAt(int row) const;
  // Starts the entry's stopped stream or stops its running one; nothing for
  // -1 or a row without an entry.
  void ToggleRow(int row);
  // Removes the entry of row: its presenter stops writing to the list at
  // once, its stream is asked to stop, and every presenter below moves up
  // one row; the entry itself (stream, writer, cutter, presenter, and
  // alsoRetire, which may be null: more of what its stream reports to) is
  // torn down on the reaper's thread once its worker has ended, so its
  // writer closes its file with every byte received. Returns at once. The
  // caller then deletes the row from the list (see above). False when no
  // entry shows in row. A show the entry records (the runner's, or endShow:
  // the caller's own runner had one on) ends there too, after the worker's
  // last audio, its file counting as partial.
  bool RemoveRow(int row, std::shared_ptr<void> alsoRetire = nullptr, bool endShow = false);

  // Changes an entry's download directory or switches, in its presenter
  // (what SaveServerList writes) and in its writer (what the next file
  // uses) together. Only while the entry's stream is stopped; false, changing
  // nothing, otherwise or when no entry shows in row.
  bool SetEntryDirectory(int row, const std::string& directory);
  bool SetEntryFileSplitting(int row, bool on);
  bool SetEntrySmartSplitting(int row, bool on);
  // The same for the recording options; the stream's observers are wired
  // anew (a cutter in front of the writer, or none).
  bool SetEntryOptions(int row, const RecordingOptions& options);
  // The entry's schedules (what SaveServerList writes), null when no entry
  // shows in row. Setting them is allowed while the entry records: the
  // caller hands them to its scheduler.
  const std::vector<Schedule>* EntrySchedules(int row) const;
  bool SetEntrySchedules(int row, std::vector<Schedule> schedules);
  // Before LoadSettings: the runner that records the entries' shows (see
  // above); not owned, and it must outlive the store. Null: none.
  void SetScheduleRunner(ScheduleRunner* runner) { scheduleRunner = runner; }
  ScheduleRunner* Runner() const { return scheduleRunner; }
  // The schedule values the last LoadSettings skipped, in file order.
  const std::vector<ScheduleProblem>& ScheduleProblems() const { return scheduleProblems; }

  // A server entry as the file stores it, read without adding it: for a
  // controller that picks the entries to record (the recorder's shards) and
  // reads the file again later (its reload).
  struct StoredServer {
    std::string url;
    std::string directory;        // Download_n, or the document's default directory where that is empty
    std::string writerDirectory;  // what the writer records into when it differs (see LoadServerList); else empty
    bool fileSplitting = true;
    bool smartSplitting = true;
    RecordingOptions options;
    std::vector<Schedule> schedules;
    std::vector<ScheduleProblem> scheduleProblems;  // values skipped; compared by none
    // From "Default": the read size (Buffer) and the sync interval, when the
    // file names one.
    int32_t readSize = kDefaultBuffer;
    std::optional<int32_t> syncIntervalSeconds;

    bool operator==(const StoredServer&) const = default;
  };
  // The server entries of document in file order, Server_0 up to the first
  // missing number, each as LoadServerList reads and AddServer stores it
  // (utf8Document likewise).
  static std::vector<StoredServer> ReadServerList(const IniDocument& document,
                                                  const IniDocument* utf8Document = nullptr);
  // Reads settingsPath as LoadSettings does (the defaults, the file merged
  // over them, the UTF-8 reading of its directories) into document and
  // servers, without adding or writing anything. False when the file cannot
  // be read: document then holds the defaults and servers is empty.
  static bool ReadSettingsFile(const std::string& settingsPath, IniDocument& document,
                               std::vector<StoredServer>& servers);
  // LoadSettings(list, settingsPath, FileUse::ReadOnly), except that no
  // entry is added: the file's servers are handed back instead, for the
  // caller to add those it wants with AddStoredServer. FileRead() tells
  // whether the file was read.
  bool LoadSettingsWithoutServers(ListControl* list, const std::string& settingsPath,
                                  std::vector<StoredServer>& servers);
  // Adds an entry, stopped, exactly as LoadServerList adds a stored one, but
  // with the server's own read size and sync interval (those of the file it
  // was read from). False, adding nothing, as for AddServer.
  bool AddStoredServer(const StoredServer& server);
  // The row of the entry whose stream is stream; -1 when there is none.
  int RowOf(const ServerStream* stream) const;

  // Asks every running stream to stop; returns at once.
  void StopAll();
  // Waits until every stream's worker has ended and every removed entry is
  // torn down (its files closed): for a recorder on its way out.
  void WaitForStops();

  int EntryCount() const { return static_cast<int>(entries.size()); }
  const IniDocument& Settings() const { return settings; }
  // Where SaveServerList writes; empty before LoadSettings.
  const std::string& SettingsPath() const { return settings.Path(); }

 private:
  // One server entry. The stream is declared last so that, should an entry
  // ever be destroyed as a whole, its worker stops before the observers go.
  struct Entry {
    std::unique_ptr<ServerRowPresenter> presenter;
    std::unique_ptr<RecordingWriter> writer;
    std::unique_ptr<SilenceCutter> cutter;  // null unless cutting at silence
    std::unique_ptr<ServerStream> stream;
    std::vector<Schedule> schedules;
  };

  // AddServer, with the writer recording into writerDirectory unless that is
  // empty.
  bool AddEntry(const std::string& url, const std::string& directory, const std::string& writerDirectory,
                bool fileSplitting, bool smartSplitting, const RecordingOptions& options);
  // The stream's observers in order: the cutter (or else the writer), then
  // the presenter. Only while the stream is stopped.
  static void WireObservers(Entry& entry, const RecordingOptions& options);
  // The entry showing in row, or entries.end().
  std::vector<Entry>::const_iterator FindRow(int row) const;
  // The entry of row if its stream is stopped, else null.
  const Entry* StoppedEntryAt(int row) const;
  // Teardown as described above; leaves no entries.
  void DestroyEntries();
  // Hands the entry and its schedules to the runner, if there is one.
  void ApplySchedules(const Entry& entry);

  // Removed entries being torn down; destroyed after the entries.
  StreamReaper reaper;

  // All on the controlling thread.
  std::vector<Entry> entries;  // list order; the numbering of the file
  IniDocument settings;
  ListControl* list = nullptr;  // not owned; null until LoadSettings
  bool fileRead = false;
  std::string startDirectory;
  std::vector<ScheduleProblem> scheduleProblems;
  ScheduleRunner* scheduleRunner = nullptr;  // not owned; may be null
};

#include "app/SettingsStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "recording/RecordingWriter.h"
#include "recording/SilenceCutter.h"
#include "stream/ServerStream.h"
#include "app/ListControl.h"
#include "app/ScheduleRunner.h"
#include "app/ServerRowPresenter.h"
#include "text/ByteText.h"

namespace {

constexpr const char* kBufferKey = "Buffer";
constexpr const char* kDownloadDirectoryKey = "DownloadDirectory";
constexpr const char* kServerKey = "Server";
constexpr const char* kFileSplittingKey = "FileSplitting";
constexpr const char* kSmartSplittingKey = "SmartSplitting";
constexpr const char* kDownloadKey = "Download";
// Seconds between syncs of an open recording; read where present, never
// added to a file that lacks it.
constexpr const char* kSyncIntervalKey = "SyncInterval";
constexpr const char* kDirectoryUrlKey = "DirectoryUrl";
// The recording options, per entry.
constexpr const char* kCutAtSilenceKey = "CutAtSilence";
constexpr const char* kSilenceBeforeKey = "SilenceBefore";
constexpr const char* kSilenceAfterKey = "SilenceAfter";
constexpr const char* kSilenceThresholdKey = "SilenceThreshold";
constexpr const char* kSplitOffsetKey = "SplitOffset";
constexpr const char* kTagsKey = "Tags";
constexpr const char* kKeepPartialApartKey = "KeepPartialApart";
constexpr const char* kMinLengthKey = "MinLength";

// An entry's recording options as the file gives them; missing keys read as
// the options an entry had before they existed.
RecordingOptions ReadOptions(const IniDocument& document, const std::string& suffix) {
  RecordingOptions options;
  int32_t on = 0;
  if (document.GetInt(SettingsStore::kServerSection, kCutAtSilenceKey + suffix, on)) {
    options.cutAtSilence = on == 1;
  }
  if (document.GetInt(SettingsStore::kServerSection, kTagsKey + suffix, on)) {
    options.tags = on == 1;
  }
  if (document.GetInt(SettingsStore::kServerSection, kKeepPartialApartKey + suffix, on)) {
    options.keepPartialApart = on == 1;
  }
  // A window written in the file is used as it is, never learned.
  const bool before = document.GetInt(SettingsStore::kServerSection, kSilenceBeforeKey + suffix, options.searchBeforeMs);
  const bool after = document.GetInt(SettingsStore::kServerSection, kSilenceAfterKey + suffix, options.searchAfterMs);
  options.learnTitleLag = !before && !after;
  document.GetInt(SettingsStore::kServerSection, kSilenceThresholdKey + suffix, options.silenceThresholdDbfs);
  document.GetInt(SettingsStore::kServerSection, kSplitOffsetKey + suffix, options.splitOffsetMs);
  document.GetInt(SettingsStore::kServerSection, kMinLengthKey + suffix, options.minLengthSeconds);
  options.searchBeforeMs = std::max(0, options.searchBeforeMs);
  options.searchAfterMs = std::max(0, options.searchAfterMs);
  options.minLengthSeconds = std::max(0, options.minLengthSeconds);
  return options;
}

// Writes the keys of the options that differ from a missing key's reading.
void WriteOptions(IniDocument& document, const std::string& suffix, const RecordingOptions& options) {
  const RecordingOptions missing;
  const auto put = [&](const char* key, int32_t value, int32_t otherwise) {
    if (value != otherwise) {
      document.SetInt(SettingsStore::kServerSection, key + suffix, value);
    }
  };
  put(kCutAtSilenceKey, options.cutAtSilence ? 1 : 0, missing.cutAtSilence ? 1 : 0);
  // A fixed window is written even where it equals the default: the keys'
  // presence is what keeps it fixed.
  if (!options.learnTitleLag || options.searchBeforeMs != missing.searchBeforeMs ||
      options.searchAfterMs != missing.searchAfterMs) {
    document.SetInt(SettingsStore::kServerSection, kSilenceBeforeKey + suffix, options.searchBeforeMs);
    document.SetInt(SettingsStore::kServerSection, kSilenceAfterKey + suffix, options.searchAfterMs);
  }
  put(kSilenceThresholdKey, options.silenceThresholdDbfs, missing.silenceThresholdDbfs);
  put(kSplitOffsetKey, options.splitOffsetMs, missing.splitOffsetMs);
  put(kTagsKey, options.tags ? 1 : 0, missing.tags ? 1 : 0);
  put(kKeepPartialApartKey, options.keepPartialApart ? 1 : 0, missing.keepPartialApart ? 1 : 0);
  put(kMinLengthKey, options.minLengthSeconds, missing.minLengthSeconds);
}

std::string Suffix(int number) { return "_" + std::to_string(number); }

}  // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::~SettingsStore() { DestroyEntries(); }

std::string SettingsStore::SettingsPathFor(const std::string& commandLine) {
  return IniDocument::PathBesideExecutable(commandLine, kFileName);
}

bool SettingsStore::LoadSettings(ListControl* listControl, const std::string& settingsPath, FileUse use) {
  if (listControl == nullptr) {
    return false;
  }
  list = listControl;
  settings.Clear();
  ApplyDefaults(settings);
  if (!startDirectory.empty()) {
    settings.SetString(kDefaultSection, kDownloadDirectoryKey, startDirectory);
  }
  scheduleProblems.clear();

  IniDocument stored;
  fileRead = false;
  try {
    fileRead = stored.Load(settingsPath);
  } catch (const std::system_error&) {
    // A file that breaks off while being read is treated like one that
    // cannot be opened: the window starts with the defaults, and nothing is
    // written over the file at start-up.
  }
  if (fileRead) {
    // The document narrows a UTF-16 file to one byte per character, which
    // loses every character above U+00FF; the writers take their
    // directories from the file's own characters instead, read before the
    // start-up rewrite replaces the file. (For other files both readings
    // are the same.)
    IniDocument wide;
    bool wideRead = false;
    wide.SetWideText(LineFile::WideText::Utf8);
    try {
      wideRead = wide.Load(settingsPath);
    } catch (const std::system_error&) {
      // Gone since the first read: the narrowed directories serve.
    }
    settings.MergeFrom(stored);
    if (scheduleRunner != nullptr) {
      scheduleRunner->SetRolls(ScheduleKeys::ReadRolls(settings, kDefaultSection));
    }
    if (use == FileUse::RewriteAtStartUp) {
      settings.Save(settingsPath, TextEncoding::Ansi);  // a failure leaves the file as it was
    }
    LoadServerList(settings, wideRead ? &wide : nullptr);
  }
  settings.SetPath(settingsPath);
  return true;
}

void SettingsStore::ApplyDefaults(IniDocument& document) {
  document.SetString(kDefaultSection, kBufferKey, std::to_string(kDefaultBuffer));
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  document.SetString(kDefaultSection, kDownloadDirectoryKey, error ? std::string() : current.string());
}

void SettingsStore::LoadServerList(const IniDocument& document, const IniDocument* utf8Document) {
  for (int number = 0;; ++number) {
    const std::string suffix = Suffix(number);
    std::string url;
    if (!document.GetString(kServerSection, kServerKey + suffix, url)) {
      break;
    }
    int32_t fileSplitting = 1;
    int32_t smartSplitting = 1;
    std::string directory;
    document.GetInt(kServerSection, kFileSplittingKey + suffix, fileSplitting);
    document.GetInt(kServerSection, kSmartSplittingKey + suffix, smartSplitting);
    document.GetString(kServerSection, kDownloadKey + suffix, directory);
    std::string writerDirectory;
    if (utf8Document != nullptr) {
      utf8Document->GetString(kServerSection, kDownloadKey + suffix, writerDirectory);
      if (writerDirectory.empty() && directory.empty()) {
        utf8Document->GetString(kDefaultSection, kDownloadDirectoryKey, writerDirectory);
      }
    }
    if (AddEntry(url, directory, writerDirectory, fileSplitting == 1, smartSplitting == 1,
                 ReadOptions(document, suffix))) {
      entries.back().schedules = ScheduleKeys::Read(document, kServerSection, number, &scheduleProblems);
      ApplySchedules(entries.back());
    }
  }
}

std::string SettingsStore::DefaultDownloadDirectory() const {
  std::string directory;
  settings.GetString(kDefaultSection, kDownloadDirectoryKey, directory);
  return directory;
}

std::string SettingsStore::DirectoryUrl() const {
  std::string url;
  settings.GetString(kDefaultSection, kDirectoryUrlKey, url);
  return std::string(ByteText::Trim(url));
}

bool SettingsStore::AddServer(const std::string& url, const std::string& directory, bool fileSplitting,
                              bool smartSplitting, const RecordingOptions& options) {
  return AddEntry(url, directory, std::string(), fileSplitting, smartSplitting, options);
}

bool SettingsStore::AddEntry(const std::string& url, const std::string& directory, const std::string& writerDirectory,
                             bool fileSplitting, bool smartSplitting, const RecordingOptions& options) {
  Entry entry;
  entry.presenter = std::make_unique<ServerRowPresenter>();
  if (!entry.presenter->Attach(list, url)) {
    return false;
  }
  entry.presenter->Refresh();
  if (entry.presenter->RowIndex() == -1) {
    return false;
  }

  const std::string entryDirectory = directory.empty() ? DefaultDownloadDirectory() : directory;
  entry.presenter->SetDownloadDirectory(entryDirectory);
  entry.presenter->SetFileSplitting(fileSplitting);
  entry.presenter->SetSmartSplitting(smartSplitting);
  entry.presenter->SetOptions(options);

  entry.writer = std::make_unique<RecordingWriter>();
  entry.writer->SetRecordingOptions(options);
  entry.writer->SetSourceUrl(url);
  entry.writer->SetDirectory(writerDirectory.empty() ? entryDirectory : writerDirectory);
  entry.writer->SetFileSplitting(fileSplitting);
  entry.writer->SetSmartSplitting(smartSplitting);
  int32_t syncInterval = 0;
  if (settings.GetInt(kDefaultSection, kSyncIntervalKey, syncInterval)) {
    entry.writer->SetSyncInterval(syncInterval);  // 0 or less: only at close
  }
  entry.presenter->SetWriter(entry.writer.get());

  entry.stream = std::make_unique<ServerStream>();
  int32_t readSize = 0;
  if (settings.GetInt(kDefaultSection, kBufferKey, readSize)) {
    entry.stream->SetReadSize(readSize);  // 0 or less gives the default
  }
  entry.stream->SetUrl(url);
  WireObservers(entry, options);
  entry.presenter->SetStream(entry.stream.get());

  entries.push_back(std::move(entry));
  return true;
}

bool SettingsStore::SaveServerList() {
  const std::string& path = settings.Path();
  if (path.empty()) {
    return false;
  }
  IniDocument saved;
  int number = 0;
  for (const Entry& entry : entries) {
    ScheduleKeys::Write(saved, kServerSection, number, entry.schedules);
    const std::string suffix = Suffix(number++);
    saved.SetString(kServerSection, kServerKey + suffix, entry.presenter->Url());
    saved.SetInt(kServerSection, kFileSplittingKey + suffix, entry.presenter->FileSplitting() ? 1 : 0);
    saved.SetInt(kServerSection, kSmartSplittingKey + suffix, entry.presenter->SmartSplitting() ? 1 : 0);
    saved.SetString(kServerSection, kDownloadKey + suffix, entry.presenter->DownloadDirectory());
    WriteOptions(saved, suffix, entry.presenter->Options());
  }
  saved.CopySection(settings, kDefaultSection, "");
  return saved.Save(path, TextEncoding::Ansi);
}

std::vector<SettingsStore::Entry>::const_iterator SettingsStore::FindRow(int row) const {
  if (row < 0) {
    return entries.end();
  }
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (it->presenter->RowIndex() == row) {
      return it;
    }
  }
  return entries.end();
}

ServerRowPresenter* SettingsStore::RowAt(int row) const {
  const auto it = FindRow(row);
  return it == entries.end() ? nullptr : it->presenter.get();
}

ServerStream* SettingsStore::StreamAt(int row) const {
  const auto it = FindRow(row);
  return it == entries.end() ? nullptr : it->stream.get();
}

void SettingsStore::ToggleRow(int row) {
  const auto it = FindRow(row);
  if (it == entries.end()) {
    return;
  }
  const bool stopping = !it->stream->IsStopped();
  // A show it records ends as partial once the worker has handed on its
  // last audio and announced the stop (the stop does not wait for it); told
  // before the stop, so that the announcement cannot come first.
  const bool endsShow = stopping && scheduleRunner != nullptr && scheduleRunner->Current(it->stream.get());
  if (endsShow) {
    it->writer->EndShowAtStop();
  }
  it->stream->Toggle();
  if (it->stream->IsStopped()) {
    // The worker announces the stop after the last audio it writes, which a
    // hanging disk may hold up: the row shows it now.
    it->presenter->OnText(StreamEvent::State, StreamStateText(StreamState::Disconnected));
  }
  if (endsShow) {
    scheduleRunner->UserStopped(it->stream.get(), false);
  }
}

bool SettingsStore::RemoveRow(int row, std::shared_ptr<void> alsoRetire, bool endShow) {
  const auto found = FindRow(row);
  if (found == entries.end()) {
    return false;
  }
  Entry removed = std::move(entries[static_cast<size_t>(found - entries.begin())]);
  entries.erase(found);

  // Silence the presenter before anything else: from here on its row may
  // be deleted, and whatever the worker still reports must not land in the
  // row that moves up into its place.
  removed.presenter->Detach();
  removed.stream->RequestStop();
  // A show it records ends with it; its file closes as partial once the
  // worker has written its last audio.
  const bool showWasOn =
      endShow || (scheduleRunner != nullptr && scheduleRunner->Detach(removed.stream.get(), false));
  // Its worker may still be writing (a disk that hangs): the parts go once
  // it has ended, stream first, off this thread.
  auto retired = std::make_shared<Entry>(std::move(removed));
  reaper.Retire([retired, showWasOn, alsoRetire = std::move(alsoRetire)]() mutable {
    retired->stream->Stop();
    if (showWasOn) {
      retired->writer->EndShow(false);
    }
    retired->stream->ClearObservers();
    retired->stream.reset();
    retired->cutter.reset();
    retired->writer.reset();
    retired->presenter.reset();
    alsoRetire.reset();
  });
  for (const Entry& entry : entries) {
    entry.presenter->OnRowRemoved(row);
  }
  return true;
}

const SettingsStore::Entry* SettingsStore::StoppedEntryAt(int row) const {
  const auto it = FindRow(row);
  if (it == entries.end() || !it->stream->IsIdle()) {
    return nullptr;
  }
  return &*it;
}

bool SettingsStore::SetEntryDirectory(int row, const std::string& directory) {
  const Entry* entry = StoppedEntryAt(row);
  if (entry == nullptr) {
    return false;
  }
  entry->presenter->SetDownloadDirectory(directory);
  entry->writer->SetDirectory(directory);
  return true;
}

bool SettingsStore::SetEntryFileSplitting(int row, bool on) {
  const Entry* entry = StoppedEntryAt(row);
  if (entry == nullptr) {
    return false;
  }
  entry->presenter->SetFileSplitting(on);
  entry->writer->SetFileSplitting(on);
  return true;
}

bool SettingsStore::SetEntrySmartSplitting(int row, bool on) {
  const Entry* entry = StoppedEntryAt(row);
  if (entry == nullptr) {
    return false;
  }
  entry->presenter->SetSmartSplitting(on);
  entry->writer->SetSmartSplitting(on);
  return true;
}

bool SettingsStore::SetEntryOptions(int row, const RecordingOptions& options) {
  const auto found = FindRow(row);
  if (found == entries.end() || !found->stream->IsIdle()) {
    return false;
  }
  Entry& entry = entries[static_cast<size_t>(found - entries.begin())];
  entry.presenter->SetOptions(options);
  entry.writer->SetRecordingOptions(options);
  WireObservers(entry, options);
  return true;
}

const std::vector<Schedule>* SettingsStore::EntrySchedules(int row) const {
  const auto it = FindRow(row);
  return it == entries.end() ? nullptr : &it->schedules;
}

bool SettingsStore::SetEntrySchedules(int row, std::vector<Schedule> schedules) {
  const auto found = FindRow(row);
  if (found == entries.end()) {
    return false;
  }
  Entry& entry = entries[static_cast<size_t>(found - entries.begin())];
  entry.schedules = std::move(schedules);
  ApplySchedules(entry);
  return true;
}

void SettingsStore::ApplySchedules(const Entry& entry) {
  if (scheduleRunner == nullptr) {
    return;
  }
  scheduleRunner->Attach(entry.stream.get(), entry.writer.get(), entry.presenter->Url() + ": ");
  scheduleRunner->SetSchedules(entry.stream.get(), entry.schedules);
}

void SettingsStore::WireObservers(Entry& entry, const RecordingOptions& options) {
  entry.stream->ClearObservers();
  entry.cutter.reset();
  if (options.cutAtSilence) {
    entry.cutter = std::make_unique<SilenceCutter>(*entry.writer, options);
    entry.stream->AddObserver(entry.cutter.get());
  } else {
    entry.stream->AddObserver(entry.writer.get());
  }
  entry.stream->AddObserver(entry.presenter.get());
}

void SettingsStore::StopAll() {
  for (Entry& entry : entries) {
    entry.stream->RequestStop();
  }
}

void SettingsStore::WaitForStops() {
  // Every connection is closed first (StopAll), so that all workers wind
  // down together; then each is waited for.
  StopAll();
  for (Entry& entry : entries) {
    entry.stream->Stop();
  }
  reaper.WaitIdle();
}

void SettingsStore::DestroyEntries() {
  // Every worker ends first, with its observers still there: a stop hands on
  // the audio the stream still holds, and it must reach the files.
  WaitForStops();
  if (scheduleRunner != nullptr) {
    for (const Entry& entry : entries) {
      scheduleRunner->Detach(entry.stream.get());
    }
  }
  for (Entry& entry : entries) {
    entry.stream->ClearObservers();
    entry.stream.reset();
  }
  for (Entry& entry : entries) {
    entry.presenter.reset();
  }
  for (Entry& entry : entries) {
    entry.cutter.reset();
    entry.writer.reset();
  }
  entries.clear();
}

std::vector<SettingsStore::StoredServer> SettingsStore::ReadServerList(const IniDocument& document,
                                                                       const IniDocument* utf8Document) {
  StoredServer defaults;
  document.GetInt(kDefaultSection, kBufferKey, defaults.readSize);
  int32_t syncInterval = 0;
  if (document.GetInt(kDefaultSection, kSyncIntervalKey, syncInterval)) {
    defaults.syncIntervalSeconds = syncInterval;
  }
  std::vector<StoredServer> servers;
  for (int number = 0;; ++number) {
    const std::string suffix = Suffix(number);
    StoredServer server = defaults;
    if (!document.GetString(kServerSection, kServerKey + suffix, server.url)) {
      break;
    }
    int32_t fileSplitting = 1;
    int32_t smartSplitting = 1;
    document.GetInt(kServerSection, kFileSplittingKey + suffix, fileSplitting);
    document.GetInt(kServerSection, kSmartSplittingKey + suffix, smartSplitting);
    server.fileSplitting = fileSplitting == 1;
    server.smartSplitting = smartSplitting == 1;
    document.GetString(kServerSection, kDownloadKey + suffix, server.directory);
    if (utf8Document != nullptr) {
      utf8Document->GetString(kServerSection, kDownloadKey + suffix, server.writerDirectory);
      if (server.writerDirectory.empty() && server.directory.empty()) {
        utf8Document->GetString(kDefaultSection, kDownloadDirectoryKey, server.writerDirectory);
      }
    }
    if (server.directory.empty()) {
      // As AddServer stores it, and so that a changed default changes the
      // entries that use it.
      document.GetString(kDefaultSection, kDownloadDirectoryKey, server.directory);
    }
    server.options = ReadOptions(document, suffix);
    server.schedules = ScheduleKeys::Read(document, kServerSection, number, &server.scheduleProblems);
    servers.push_back(std::move(server));
  }
  return servers;
}

bool SettingsStore::ReadSettingsFile(const std::string& settingsPath, IniDocument& document,
                                     std::vector<StoredServer>& servers) {
  document.Clear();
  ApplyDefaults(document);
  servers.clear();
  IniDocument stored;
  IniDocument wide;
  wide.SetWideText(LineFile::WideText::Utf8);
  bool read = false;
  bool wideRead = false;
  try {
    read = stored.Load(settingsPath);
    wideRead = read && wide.Load(settingsPath);
  } catch (const std::system_error&) {
    // As in LoadSettings: a file that breaks off while being read counts as
    // missing, and one gone before its second reading keeps the narrowed
    // directories.
  }
  if (!read) {
    return false;
  }
  document.MergeFrom(stored);
  servers = ReadServerList(document, wideRead ? &wide : nullptr);
  return true;
}

bool SettingsStore::LoadSettingsWithoutServers(ListControl* listControl, const std::string& settingsPath,
                                               std::vector<StoredServer>& servers) {
  if (listControl == nullptr) {
    return false;
  }
  list = listControl;
  fileRead = ReadSettingsFile(settingsPath, settings, servers);
  settings.SetPath(settingsPath);
  return true;
}

bool SettingsStore::AddStoredServer(const StoredServer& server) {
  if (!AddEntry(server.url, server.directory, server.writerDirectory, server.fileSplitting, server.smartSplitting,
                server.options)) {
    return false;
  }
  Entry& entry = entries.back();
  entry.schedules = server.schedules;
  ApplySchedules(entry);
  entry.stream->SetReadSize(server.readSize);  // 0 or less gives the default
  if (server.syncIntervalSeconds) {
    entry.writer->SetSyncInterval(*server.syncIntervalSeconds);  // 0 or less: only at close
  }
  return true;
}

int SettingsStore::RowOf(const ServerStream* stream) const {
  for (const Entry& entry : entries) {
    if (entry.stream.get() == stream) {
      return entry.presenter->RowIndex();
    }
  }
  return -1;
}

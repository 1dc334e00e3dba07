#include "cli/SettingsRecorder.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "app/ReloadPlan.h"
#include "app/ServerRowPresenter.h"
#include "cli/RecorderMetrics.h"
#include "cli/StreamMetrics.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"

namespace {

// What a removed entry's stream reports to besides the store's parts: kept
// by the store's reaper until the stream's worker has ended, then released,
// which `ended` tells the recorder.
class RetiredObservers {
 public:
  RetiredObservers(std::shared_ptr<ConsoleReporter> reporter, std::unique_ptr<StreamMetrics> metrics,
                   std::shared_ptr<std::atomic<bool>> ended)
      : reporter(std::move(reporter)), metrics(std::move(metrics)), ended(std::move(ended)) {}
  ~RetiredObservers() { ended->store(true, std::memory_order_release); }
  RetiredObservers(const RetiredObservers&) = delete;
  RetiredObservers& operator=(const RetiredObservers&) = delete;

 private:
  std::shared_ptr<ConsoleReporter> reporter;
  std::unique_ptr<StreamMetrics> metrics;
  std::shared_ptr<std::atomic<bool>> ended;
};

}  // namespace

SettingsRecorder::SettingsRecorder() = default;

SettingsRecorder::~SettingsRecorder() {
  if (metrics != nullptr) {
    for (const Entry& entry : entries) {
      metrics->Remove(entry.metrics.get());
    }
  }
  // Every worker ends first (the store's teardown would wait for them all
  // the same): a show still on is cut short after its last audio.
  store.WaitForStops();
  for (const Entry& entry : entries) {
    shows.Detach(entry.stream);
  }
}

bool SettingsRecorder::Load(const std::string& path, std::string& error, int32_t syncIntervalSeconds) {
  settingsPath = path;
  syncIntervalOverride = syncIntervalSeconds;
  std::vector<SettingsStore::StoredServer> servers;
  store.LoadSettingsWithoutServers(&list, settingsPath, servers);
  if (!store.FileRead()) {
    error = "cannot read the settings file " + settingsPath;
    return false;
  }
  if (servers.empty()) {
    error = "the settings file " + settingsPath + " lists no server (no [Server] Server_0)";
    return false;
  }
  listed = servers.size();
  ReportScheduleProblems(servers);
  shows.SetRolls(RollsOf(store.Settings()));
  std::vector<SettingsStore::StoredServer> wanted;
  std::vector<int32_t> numbers;
  Select(servers, wanted, numbers);
  entries.reserve(wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i) {
    Entry entry;
    if (MakeEntry(wanted[i], numbers[i], entry)) {
      entries.push_back(std::move(entry));
    }
  }
  waiting = entries.size();
  return true;
}

void SettingsRecorder::Select(const std::vector<SettingsStore::StoredServer>& servers,
                              std::vector<SettingsStore::StoredServer>& wanted, std::vector<int32_t>& numbers) const {
  for (size_t i = 0; i < servers.size(); ++i) {
    if (shard.Owns(servers[i].url)) {
      wanted.push_back(servers[i]);
      numbers.push_back(static_cast<int32_t>(i + 1));
    }
  }
}

bool SettingsRecorder::MakeEntry(const SettingsStore::StoredServer& server, int32_t number, Entry& entry) {
  if (!store.AddStoredServer(server)) {
    return false;
  }
  // The store appends the entry's row below every other.
  const ServerRowPresenter* presenter = store.RowAt(list.RowCount() - 1);
  if (presenter == nullptr) {
    return false;
  }
  RecordingWriter* writer = presenter->Writer();
  entry.server = server;
  entry.number = number;
  entry.stream = presenter->Stream();
  if (syncIntervalOverride >= 0) {
    writer->SetSyncInterval(syncIntervalOverride);
  }
  entry.writer = writer;
  entry.id = ids.Take(server.url, server.directory);
  entry.reporter = std::make_unique<ConsoleReporter>(entry.id, server.url, writer);
  entry.stream->AddObserver(entry.reporter.get());
  if (metrics != nullptr) {
    entry.metrics = std::make_unique<StreamMetrics>(number, entry.id, server.url, writer);
    entry.stream->AddObserver(entry.metrics.get());
  }
  entry.started = false;
  entry.server.schedules.clear();
  ApplySchedules(entry, server.schedules);
  if (metrics != nullptr) {
    metrics->Add(entry.metrics.get());
  }
  return true;
}

void SettingsRecorder::ApplySchedules(Entry& entry, const std::vector<Schedule>& schedules) {
  const bool had = !entry.server.schedules.empty();
  entry.server.schedules = schedules;
  if (schedules.empty() && !had) {
    return;
  }
  const ShowSwitch* showSwitch = shows.Attach(entry.stream, entry.writer, Label(entry.id, entry.server.url));
  if (entry.metrics) {
    entry.metrics->SetShows(showSwitch);
  }
  if (!schedules.empty() && !had && !entry.stream->IsStopped()) {
    // It records only during its shows from now on: a show on now starts
    // it afresh, into the show's file.
    entry.stream->Stop();
  }
  shows.SetSchedules(entry.stream, schedules);
  if (schedules.empty() && had && entry.started) {
    entry.started = false;  // it records all the time again: StartWaiting starts it
    ++waiting;
  }
}

Rolls SettingsRecorder::RollsOf(const IniDocument& document) const {
  Rolls rolls = ScheduleKeys::ReadRolls(document, SettingsStore::kDefaultSection);
  if (preRollOverride >= 0) {
    rolls.pre = std::chrono::seconds{preRollOverride};
  }
  if (postRollOverride >= 0) {
    rolls.post = std::chrono::seconds{postRollOverride};
  }
  return rolls;
}

void SettingsRecorder::ReportScheduleProblems(const std::vector<SettingsStore::StoredServer>& servers) {
  for (const SettingsStore::StoredServer& server : servers) {
    for (const ScheduleProblem& problem : server.scheduleProblems) {
      problemLines.push_back(
          {LogLevel::Warning, ScheduleKeys::Describe(settingsPath, SettingsStore::kServerSection, problem)});
    }
  }
}

std::string SettingsRecorder::Label(const std::string& id, const std::string& url) {
  return "[" + id + "] " + url + ": ";
}

void SettingsRecorder::RemoveEntry(Entry& entry) {
  if (metrics != nullptr) {
    // Before the store destroys the writer that a scrape reads.
    metrics->Remove(entry.metrics.get());
  }
  // A show it records ends with it; the store closes the show's file once
  // the stream's worker has written its last audio.
  const bool showWasOn = shows.Detach(entry.stream, false);
  const int row = store.RowOf(entry.stream);
  std::shared_ptr<ConsoleReporter> reporter(std::move(entry.reporter));
  auto ended = std::make_shared<std::atomic<bool>>(false);
  if (store.RemoveRow(row, std::make_shared<RetiredObservers>(reporter, std::move(entry.metrics), ended),
                      showWasOn)) {
    list.RemoveRow(row);
  }
  entry.stream = nullptr;
  ids.Release(entry.id);
  retiring.push_back({std::move(reporter), std::move(ended)});
}

void SettingsRecorder::StartAll() {
  for (Entry& entry : entries) {
    if (entry.server.schedules.empty() && entry.stream->IsStopped()) {
      entry.stream->Toggle();
    }
    entry.started = true;
  }
  waiting = 0;
}

size_t SettingsRecorder::StartWaiting(size_t most) {
  for (auto it = entries.begin(); it != entries.end() && waiting > 0 && most > 0; ++it) {
    if (!it->started) {
      // An entry with schedules starts with its shows: it takes no start.
      if (it->server.schedules.empty()) {
        if (it->stream->IsStopped()) {
          it->stream->Toggle();
        }
        --most;
      }
      it->started = true;
      --waiting;
    }
  }
  return waiting;
}

void SettingsRecorder::StopAll() { store.WaitForStops(); }

SettingsRecorder::ReloadResult SettingsRecorder::Reload() {
  ReloadResult result;
  IniDocument document;
  std::vector<SettingsStore::StoredServer> servers;
  if (!SettingsStore::ReadSettingsFile(settingsPath, document, servers)) {
    return result;
  }
  result.read = true;
  listed = servers.size();
  ReportScheduleProblems(servers);
  shows.SetRolls(RollsOf(document));
  std::vector<SettingsStore::StoredServer> wanted;
  std::vector<int32_t> numbers;
  Select(servers, wanted, numbers);

  std::vector<SettingsStore::StoredServer> running;
  running.reserve(entries.size());
  for (const Entry& entry : entries) {
    running.push_back(entry.server);
  }
  const ReloadPlan plan = ReloadPlan::Between(running, wanted);

  // Every stream that goes is asked to stop first, so that they all wind
  // down together; the removals wait for none of them.
  for (const size_t i : plan.removed) {
    entries[i].stream->RequestStop();
  }
  for (const ReloadPlan::Pair& pair : plan.changed) {
    entries[pair.running].stream->RequestStop();
  }
  for (const size_t i : plan.removed) {
    RemoveEntry(entries[i]);
  }
  for (const ReloadPlan::Pair& pair : plan.changed) {
    RemoveEntry(entries[pair.running]);
  }

  std::vector<Entry> next(wanted.size());
  std::vector<bool> filled(wanted.size(), false);
  for (const ReloadPlan::Pair& pair : plan.unchanged) {
    Entry& entry = entries[pair.running];
    if (entry.number != numbers[pair.wanted]) {
      // Its name stays: only the order of the metrics page follows.
      entry.number = numbers[pair.wanted];
      if (entry.metrics) {
        entry.metrics->SetNumber(entry.number);
      }
    }
    if (entry.server.schedules != wanted[pair.wanted].schedules) {
      ApplySchedules(entry, wanted[pair.wanted].schedules);
    }
    next[pair.wanted] = std::move(entry);
    filled[pair.wanted] = true;
  }
  std::vector<size_t> starting = plan.added;
  for (const ReloadPlan::Pair& pair : plan.changed) {
    starting.push_back(pair.wanted);
  }
  std::sort(starting.begin(), starting.end());
  for (const size_t j : starting) {
    filled[j] = MakeEntry(wanted[j], numbers[j], next[j]);
  }

  entries.clear();
  waiting = 0;
  for (size_t j = 0; j < next.size(); ++j) {
    if (filled[j]) {
      waiting += next[j].started ? 0 : 1;
      entries.push_back(std::move(next[j]));
    }
  }
  result.unchanged = plan.unchanged.size();
  result.restarted = plan.changed.size();
  result.stopped = plan.removed.size();
  result.added = plan.added.size();
  return result;
}

std::vector<std::string> SettingsRecorder::TakeLines() { return LineTexts(TakeLogLines()); }

std::vector<LogLine> SettingsRecorder::TakeLogLines() {
  std::vector<LogLine> lines;
  for (auto it = retiring.begin(); it != retiring.end();) {
    // Read before the lines: once it is set, the reporter has its last line.
    const bool ended = it->ended->load(std::memory_order_acquire);
    auto taken = it->reporter->TakeLogLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
    it = ended ? retiring.erase(it) : it + 1;
  }
  lines.insert(lines.end(), std::make_move_iterator(problemLines.begin()),
               std::make_move_iterator(problemLines.end()));
  problemLines.clear();
  for (Entry& entry : entries) {
    auto taken = entry.reporter->TakeLogLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  }
  for (auto& line : shows.TakeLines()) {
    lines.push_back({line.warning ? LogLevel::Warning : LogLevel::Notice, std::move(line.text)});
  }
  return lines;
}

bool SettingsRecorder::Idle() const {
  // A stopped stream's worker may still be writing its last audio and
  // lines, and so may a removed entry's.
  return retiring.empty() &&
         std::all_of(entries.begin(), entries.end(), [](const Entry& entry) { return entry.stream->IsIdle(); });
}

std::vector<const ConsoleReporter*> SettingsRecorder::UnscheduledReporters() const {
  std::vector<const ConsoleReporter*> reporters;
  for (const Entry& entry : entries) {
    if (entry.server.schedules.empty()) {
      reporters.push_back(entry.reporter.get());
    }
  }
  return reporters;
}

std::vector<std::string> SettingsRecorder::ProgressLines(size_t most) const {
  std::vector<std::string> lines;
  lines.reserve(std::min(most, entries.size()));
  for (size_t i = 0; i < entries.size() && i < most; ++i) {
    lines.push_back(entries[i].reporter->ProgressLine());
  }
  return lines;
}

std::vector<const ConsoleReporter*> SettingsRecorder::Reporters() const {
  std::vector<const ConsoleReporter*> all;
  all.reserve(entries.size());
  for (const Entry& entry : entries) {
    all.push_back(entry.reporter.get());
  }
  return all;
}

std::vector<std::pair<int32_t, const ServerStream*>> SettingsRecorder::Streams() const {
  std::vector<std::pair<int32_t, const ServerStream*>> streams;
  streams.reserve(entries.size());
  for (const Entry& entry : entries) {
    streams.emplace_back(entry.number, entry.stream);
  }
  return streams;
}

std::vector<std::string> SettingsRecorder::Ids() const {
  std::vector<std::string> all;
  all.reserve(entries.size());
  for (const Entry& entry : entries) {
    all.push_back(entry.id);
  }
  return all;
}

#include "cli/SettingsRecorder.h"

#include <iterator>
#include <utility>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "app/ServerRowPresenter.h"

SettingsRecorder::SettingsRecorder() = default;

SettingsRecorder::~SettingsRecorder() { store.StopAll(); }

bool SettingsRecorder::Load(const std::string& settingsPath, std::string& error, int32_t syncIntervalSeconds) {
  store.LoadSettings(&list, settingsPath, SettingsStore::FileUse::ReadOnly);
  if (!store.FileRead()) {
    error = "cannot read the settings file " + settingsPath;
    return false;
  }
  if (store.EntryCount() == 0) {
    error = "the settings file " + settingsPath + " lists no server (no [Server] Server_0)";
    return false;
  }
  for (int row = 0; row < store.EntryCount(); ++row) {
    const ServerRowPresenter* presenter = store.RowAt(row);
    ServerStream* stream = store.StreamAt(row);
    if (syncIntervalSeconds >= 0) {
      presenter->Writer()->SetSyncInterval(syncIntervalSeconds);
    }
    auto reporter = std::make_unique<ConsoleReporter>(row + 1, presenter->Url(), presenter->Writer());
    stream->AddObserver(reporter.get());
    reporters.push_back(std::move(reporter));
  }
  return true;
}

void SettingsRecorder::StartAll() {
  for (int row = 0; row < store.EntryCount(); ++row) {
    ServerStream* stream = store.StreamAt(row);
    if (stream != nullptr && stream->IsStopped()) {
      stream->Toggle();
    }
  }
}

void SettingsRecorder::StopAll() { store.StopAll(); }

std::vector<std::string> SettingsRecorder::TakeLines() {
  std::vector<std::string> lines;
  for (auto& reporter : reporters) {
    auto taken = reporter->TakeLines();
    lines.insert(lines.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
  }
  return lines;
}

std::vector<std::string> SettingsRecorder::ProgressLines() const {
  std::vector<std::string> lines;
  lines.reserve(reporters.size());
  for (const auto& reporter : reporters) {
    lines.push_back(reporter->ProgressLine());
  }
  return lines;
}

std::vector<const ConsoleReporter*> SettingsRecorder::Reporters() const {
  std::vector<const ConsoleReporter*> all;
  all.reserve(reporters.size());
  for (const auto& reporter : reporters) {
    all.push_back(reporter.get());
  }
  return all;
}

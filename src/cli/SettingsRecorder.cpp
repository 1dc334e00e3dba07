#include "cli/SettingsRecorder.h"

#include <utility>

#include "cli/LineQueue.h"
#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "ui/ServerRowPresenter.h"

SettingsRecorder::SettingsRecorder() = default;

SettingsRecorder::~SettingsRecorder() { store.StopAll(); }

bool SettingsRecorder::Load(const std::string& settingsPath, std::string& error) {
  store.LoadSettings(&list, settingsPath, SettingsStore::FileUse::ReadOnly);
  if (!store.FileRead()) {
    error = "cannot read the settings file " + settingsPath;
    return false;
  }
  if (store.EntryCount() == 0) {
    error = "the settings file " + settingsPath + " lists no server (no [Server] Server_0)";
    return false;
  }
  reportedErrors.assign(static_cast<size_t>(store.EntryCount()), std::string());
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
  std::vector<std::string> lines = list.TakeLines();
  for (int row = 0; row < store.EntryCount(); ++row) {
    const ServerRowPresenter* presenter = store.RowAt(row);
    const RecordingWriter* writer = presenter == nullptr ? nullptr : presenter->Writer();
    if (writer == nullptr) {
      continue;
    }
    const auto failure = writer->LastError();
    std::string text = failure ? failure->path + ": " + failure->reason : std::string();
    std::string& reported = reportedErrors.at(static_cast<size_t>(row));
    if (text != reported) {
      if (!text.empty()) {
        lines.push_back("[" + std::to_string(row + 1) + "] " + presenter->Url() + kCannotRecordText + text);
      }
      reported = std::move(text);
    }
  }
  return lines;
}

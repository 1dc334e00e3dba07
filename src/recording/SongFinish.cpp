#include "recording/SongFinish.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "audio/AudioFormat.h"
#include "recording/AudioTagger.h"
#include "recording/RecordingName.h"

FileSyncer::Finish SongFinish::Make(const RecordingOptions& options, bool fileSplitting, const std::string& url,
                                    const Song& song, const std::shared_ptr<SyncReport>& report) {
  FileSyncer::Finish finish;
  if (options.tags) {
    AudioFormat format = AudioFormat::Mp3;
    AudioFormatProbe::FromExtension(song.extension, format);
    const AudioTagger::Tags tags = AudioTagger::FromStreamTitle(song.title, song.station, url, song.date);
    finish.beforeSync = [format, tags, report](const std::string& path) {
      std::string error;
      if (!AudioTagger::Tag(path, format, tags, &error)) {
        report->SetFailure(path, "cannot tag: " + error);
      }
    };
  }
  const bool tooShort = options.minLengthSeconds > 0 && song.bitrateKbps > 0 &&
                        song.bytes * 8 < int64_t{options.minLengthSeconds} * song.bitrateKbps * 1000;
  if (song.showFile ? song.showPartial
                    : options.keepPartialApart && fileSplitting && (song.startsPartial || song.interrupted || tooShort)) {
    finish.afterClose = [report](const std::string& path) { return MoveToIncomplete(path, *report); };
  }
  return finish;
}

std::string SongFinish::MoveToIncomplete(const std::string& path, SyncReport& report) {
  const std::filesystem::path from(path);
  const std::filesystem::path directory = from.parent_path() / "incomplete";
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    report.SetFailure(directory.string(), error.message());
    return {};
  }
  const std::string base = (directory / from.stem()).string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string target = RecordingName::MakeUniquePath(base, from.extension().string());
    // Never over an existing name, also one that appeared just now.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return target;
    }
    if (errno != EEXIST) {
      report.SetFailure(path, "cannot move into incomplete/: " + std::generic_category().message(errno));
      return {};
    }
  }
  return {};
}

std::string SongFinish::Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

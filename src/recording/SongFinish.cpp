#include "recording/SongFinish.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <system_error>

#include "audio/AudioFormat.h"
#include "recording/AudioTagger.h"
#include "recording/NameNumbers.h"
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
        return false;
      }
      return true;
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

int SongFinish::RenameWithoutReplacing(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

std::string SongFinish::MoveToIncomplete(const std::string& path, SyncReport& report, const RenameNoReplace& rename) {
  const std::filesystem::path from(path);
  const std::filesystem::path directory = from.parent_path() / "incomplete";
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    report.SetFailure(path, "cannot create " + directory.string() + ": " + error.message());
    return {};
  }
  bool renameRefused = false;
  int unlinkError = 0;
  RecordingName::Claim claim;
  claim.take = [&](const std::string& to) {
    if (!renameRefused) {
      const int result = rename(path, to);
      if (result != EINVAL && result != ENOSYS) {
        return result;
      }
      renameRefused = true;
    }
    // link() never replaces a name either; the second name then goes.
    if (::link(path.c_str(), to.c_str()) != 0) {
      return errno;
    }
    if (::unlink(path.c_str()) != 0) {
      unlinkError = errno;
    }
    return 0;
  };
  const std::string base = (directory / from.stem()).string();
  const std::string extension = from.extension().string();
  std::string target;
  int result = RecordingName::ClaimFreePath(base, extension, claim, target, kMaxMoveClashes, NameNumbers::Shared());
  if (result == EEXIST) {
    // Someone keeps taking the numbers as we find them: a name nobody
    // guesses, instead of giving up.
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < kMaxMoveClashes && result == EEXIST; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random() & 0xFFFFFFFFu));
      target = base + suffix + extension;
      result = claim.take(target);
    }
  }
  if (result != 0) {
    report.SetFailure(path, "cannot move into " + directory.string() + ": " + std::generic_category().message(result));
    return {};
  }
  if (unlinkError != 0) {
    report.SetFailure(path, "moved into " + directory.string() + " but cannot remove the old name: " +
                                std::generic_category().message(unlinkError));
  }
  return target;
}

std::string SongFinish::Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// The RecordingWriter's show recordings (see "Shows" in its header).
#include "recording/RecordingWriter.h"

#include <system_error>

void RecordingWriter::BeginShow(const ShowFile& newShow) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  try {
    SettleJoin(true);
  } catch (const std::system_error&) {
    // Recorded in lastError; the show begins all the same.
  }
  joinPending = false;
  CloseFile();
  currentTitle.clear();
  openFailed = false;
  show = newShow;
}

void RecordingWriter::EndShow(bool whole) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  try {
    SettleJoin(true);
  } catch (const std::system_error&) {
    // As above: the show ends all the same.
  }
  joinPending = false;
  if (!whole && facts.showFile) {
    facts.showPartial = true;
  }
  CloseFile();
  currentTitle.clear();
  openFailed = false;
  show.reset();
}

bool RecordingWriter::SplittingTitles() const {
  if (show) {
    return show->splitTitles;
  }
  return Shared(fileSplitting);
}

// The RecordingWriter's show recordings (see "Shows" in its header).
#include "recording/RecordingWriter.h"

#include <system_error>

void RecordingWriter::BeginShow(const ShowFile& newShow) {
  MutexLock guard(lock);
  if (show && showEndsAtStop.load(std::memory_order_acquire)) {
    // The show stopped by hand had not ended yet: it ends cut short.
    FinishShow(false);
  }
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
  MutexLock guard(lock);
  FinishShow(whole);
}

void RecordingWriter::EndShowAtStop() { showEndsAtStop.store(true, std::memory_order_release); }

void RecordingWriter::FinishShow(bool whole) {
  showEndsAtStop.store(false, std::memory_order_relaxed);
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
  return FileSplitting();
}

#include "schedule/ShowSwitch.h"

#include <utility>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"

namespace {

// At most this many lines wait for TakeLines; older ones go.
constexpr size_t kMaxLines = 64;

}  // namespace

ShowSwitch::ShowSwitch(RecordingWriter& entryWriter, ServerStream& entryStream, std::string lineLabel)
    : writer(entryWriter), stream(entryStream), label(std::move(lineLabel)) {}

void ShowSwitch::ShowStarts(const ShowWindow& window, bool late) {
  ShowFile file;
  file.name = window.show.name;
  file.date = ShowTimes::LocalDate(window.show);
  file.time = ShowTimes::LocalHourMinute(window.show);
  file.splitTitles = window.show.splitTitles;
  file.partial = late;
  bytesAtStart = writer.BytesWritten();
  writer.BeginShow(file);
  startedStream = stream.IsStopped();
  if (startedStream) {
    stream.Toggle();
  }
  current = window;
  recording.store(true, std::memory_order_relaxed);
  Note("show " + window.show.name + " (" + ShowTimes::DescribeStart(window.show) + ")" +
      (late ? " began before now: recording the rest" : " starts") + " until " +
      ShowTimes::LocalClock(window.until, window.from) + (late ? "; the file counts as partial" : ""));
}

void ShowSwitch::ShowEnds(const ShowWindow& window) {
  if (startedStream && !stream.IsStopped()) {
    stream.Stop();
  }
  startedStream = false;
  writer.EndShow(true);
  current.reset();
  recording.store(false, std::memory_order_relaxed);
  const int64_t bytes = writer.BytesWritten() - bytesAtStart;
  if (bytes > 0) {
    recorded.fetch_add(1, std::memory_order_relaxed);
    Note("show " + window.show.name + " ends: " + std::to_string(bytes) + " bytes recorded");
  } else {
    missed.fetch_add(1, std::memory_order_relaxed);
    const std::string reason = stream.LastReason();
    Note("show " + window.show.name + " missed: nothing could be recorded" +
             (reason.empty() ? std::string() : " (" + reason + ")"),
         true);
  }
}

void ShowSwitch::CutShort(const std::string& why, bool closeFile) {
  if (!current) {
    return;
  }
  if (closeFile) {
    writer.EndShow(false);
  }
  startedStream = false;
  recording.store(false, std::memory_order_relaxed);
  Note("show " + current->show.name + " ends early, " + why + "; its file counts as partial");
  current.reset();
}

void ShowSwitch::SetNext(const std::optional<ShowWindow>& next) {
  nextStart.store(next ? next->from.time_since_epoch().count() : 0, std::memory_order_relaxed);
}

void ShowSwitch::Note(std::string text, bool warning) {
  if (lines.size() >= kMaxLines) {
    lines.erase(lines.begin());
  }
  lines.push_back({warning, label + std::move(text)});
}

std::vector<ShowSwitch::Line> ShowSwitch::TakeLines() {
  std::vector<Line> taken;
  taken.swap(lines);
  return taken;
}

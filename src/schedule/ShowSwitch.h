#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schedule/ShowScheduler.h"

class RecordingWriter;
class ServerStream;

// Records one entry's shows: the ShowScheduler's target for the entry's
// writer and stream. At a show's start it hands the writer the show
// (RecordingWriter::BeginShow: the show's file, partial when joined late)
// and starts the stream unless it runs already (a recording the user
// started goes on into the show); at its end it stops the stream it
// started and closes the show's file. A show that wrote no audio at all
// (the server could not be reached through the whole show) counts as
// missed, any other as recorded. It says what it did in lines, each begun
// with the label ("[3] http://host/: ").
//
// Borrows the writer and the stream, which must outlive it. The owner's
// loop thread calls everything (as the scheduler does), except the
// counters, which any thread may read.
class ShowSwitch : public ShowTarget {
 public:
  ShowSwitch(RecordingWriter& writer, ServerStream& stream, std::string label = {});

  ShowSwitch(const ShowSwitch&) = delete;
  ShowSwitch& operator=(const ShowSwitch&) = delete;

  void ShowStarts(const ShowWindow& window, bool late) override;
  void ShowEnds(const ShowWindow& window) override;

  // The show ends before its time (the user stopped the entry, and the
  // owner has told the scheduler, ShowScheduler::Dismiss; or the entry
  // goes): the show's file closes as partial. The stream must have stopped
  // already. why ends the line that says so. Nothing when no show is on.
  // closeFile false: the owner ends the show in the writer itself, later
  // (RecordingWriter::EndShow(false)).
  void CutShort(const std::string& why, bool closeFile = true);
  // Whether a show is being recorded now.
  bool OnShow() const { return current.has_value(); }
  const std::optional<ShowWindow>& Current() const { return current; }

  void SetLabel(std::string newLabel) { label = std::move(newLabel); }
  // One line of what happened; warning: a show was missed.
  struct Line {
    bool warning = false;
    std::string text;
    bool operator==(const Line&) const = default;
  };
  // What happened since the last call, oldest first.
  std::vector<Line> TakeLines();
  // Adds a line of the owner's (with the label).
  void Note(std::string text, bool warning = false);

  // Kept by the owner after each look of the scheduler: the start of the
  // next stretch (its pre-roll), for the metrics.
  void SetNext(const std::optional<ShowWindow>& next);

  // Any thread.
  int64_t ShowsRecorded() const { return recorded.load(std::memory_order_relaxed); }
  int64_t ShowsMissed() const { return missed.load(std::memory_order_relaxed); }
  // Unix time of the next stretch's start; 0 when there is none.
  int64_t NextStartSeconds() const { return nextStart.load(std::memory_order_relaxed); }
  bool Recording() const { return recording.load(std::memory_order_relaxed); }

 private:
  RecordingWriter& writer;  // not owned
  ServerStream& stream;     // not owned
  std::string label;

  std::optional<ShowWindow> current;  // the show being recorded
  bool startedStream = false;         // the stream runs because of the show
  int64_t bytesAtStart = 0;           // the writer's count when the show began
  std::vector<Line> lines;

  std::atomic<int64_t> recorded{0};
  std::atomic<int64_t> missed{0};
  std::atomic<int64_t> nextStart{0};
  std::atomic<bool> recording{false};
};

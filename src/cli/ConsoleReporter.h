#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cli/LineQueue.h"
#include "stream/StreamObserver.h"

class RecordingWriter;

// Turns one stream's events into the recorder's console lines: one line per
// state change, per new title, per station name and per file that could not
// be created or written, each prefixed by the stream's number and URL; and a
// progress line on request.
//
// The stream's worker calls OnText and OnAudio; they only queue lines, under
// `mutex`, so a slow terminal never holds up a recording. The main thread
// takes the lines with TakeLines and asks for ProgressLine. At most
// kMaxQueuedLines wait; past that the oldest are dropped and counted.
//
// writer may be null; when set it must outlive the reporter's place in the
// stream's observer list. It is asked for its last error after every event.
class ConsoleReporter : public StreamObserver {
 public:
  static constexpr size_t kMaxQueuedLines = 256;

  ConsoleReporter(int32_t number, const std::string& url, const RecordingWriter* writer);

  void OnAudio(const StreamBuffer& audio) override;
  void OnText(StreamEvent kind, std::string text) override;

  // The lines queued since the last call, oldest first.
  std::vector<std::string> TakeLines();
  // "[n] <title>: <bytes of this title> / <bytes in all>", in the list view's
  // "Bytes"/"MBytes" forms.
  std::string ProgressLine() const;

 private:
  void CheckWriter();

  // Constant after construction.
  const std::string prefix;  // "[n] url"
  const std::string shortPrefix;  // "[n]"
  const RecordingWriter* writer;  // not owned; may be null

  mutable std::mutex mutex;  // guards everything below
  LineQueue lines{kMaxQueuedLines};
  std::string state;
  std::string title;
  std::string received = "0";
  std::string receivedComplete = "0";
  std::string lastError;
};

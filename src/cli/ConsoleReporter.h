#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "cli/FailureTally.h"
#include "cli/LineQueue.h"
#include "stream/StreamObserver.h"

class RecordingWriter;

// Turns one stream's events into the recorder's console lines, the same in URL
// mode and in --settings mode: one line per state change, per new title, per
// station name and bit rate, per stream a playlist led to, per file that could
// not be created or written, and per reconnect the writer joined or split;
// each line begins with "[label] URL: ", label being the entry's name in the
// lines and the metrics (its number in URL mode, its EntryIds id in
// --settings mode; it never changes). Each line carries a level: errors for
// files, warnings for failing connections, notices for reconnects, the rest
// informational.
//
// Failures follow FailureTally's rule, connections and files alike: a new
// reason is said once ("Error on connecting: HTTP 404 Not Found; retrying
// every second"), the same reason again only counted, and the count said
// when the reason changes or the failure ends ("... (repeated 41 times)"),
// with a reminder at most every retryReportInterval. A failing stream has
// recovered when audio comes again: a connection made only to fail again
// for the same reason (a bad metadata interval) is a repeat, and its
// "Connected" is said only with the first audio. A file failure ends with
// the next file the writer can create. A clean stop says "Disconnected"
// once. Text that comes from a server (titles, names, reasons) is printed
// with its control characters escaped (ByteText::EscapeControls), so no
// server can steer the user's terminal.
//
// The stream's worker calls OnText and OnAudio (and the controlling thread
// does for the state of a stop); they only queue lines, so a slow terminal
// never holds up a recording. The main thread takes the lines with
// TakeLines or TakeLogLines and asks for
// ProgressLine, Recorded and LastReason. At most kMaxQueuedLines wait; past
// that the oldest are dropped and counted.
//
// `mutex` guards the lines and what they are made from; taken by the
// stream's calls (worker or controlling thread) and the main thread's, and
// never held while the writer is asked (the writer takes its own lock).
//
// writer may be null; when set it must outlive the reporter's place in the
// stream's observer list. It is asked for its last error and its notes after
// every audio block and every event that can change them (title, format,
// station, state), not after the byte counts that come with every block.
class ConsoleReporter : public StreamObserver {
 public:
  static constexpr size_t kMaxQueuedLines = 256;
  static constexpr std::chrono::seconds kRetryReportInterval{10};

  ConsoleReporter(const std::string& label, const std::string& url, RecordingWriter* writer,
                  std::chrono::milliseconds retryReportInterval = kRetryReportInterval);

  void OnAudio(const StreamBuffer& audio) override EXCLUDES(mutex);
  void OnText(StreamEvent kind, std::string text) override EXCLUDES(mutex);

  // The lines queued since the last call, oldest first.
  std::vector<std::string> TakeLines() EXCLUDES(mutex);
  std::vector<LogLine> TakeLogLines() EXCLUDES(mutex);
  // "[label] <title>: <bytes of this title> / <bytes in all>", in the list view's
  // "Bytes"/"MBytes" forms.
  std::string ProgressLine() const EXCLUDES(mutex);

  const std::string& Url() const { return url; }
  // Whether any audio reached a file.
  bool Recorded() const;
  // Why the stream's last attempt failed; "" when none did.
  std::string LastReason() const EXCLUDES(mutex);

  // The line that names the entries that recorded nothing, with their last
  // reasons ("nothing recorded from URL (HTTP 404 Not Found), ..."); "" when
  // every entry recorded.
  static std::string NothingRecordedLine(const std::vector<const ConsoleReporter*>& reporters);

 private:
  void CheckWriter() EXCLUDES(mutex);
  void OnState(const std::string& text) REQUIRES(mutex);
  // Says what the tally decided; text is the failure's own line.
  void Tell(const FailureTally::Say& say, const std::string& text, const std::string& newSuffix, LogLevel level)
      REQUIRES(mutex);
  // The stream failed before and audio came: says the count and the
  // "Connected" held back.
  void Recovered() REQUIRES(mutex);
  void Push(const std::string& text, LogLevel level = LogLevel::Info) REQUIRES(mutex);

  // Constant after construction.
  const std::string url;
  const std::string prefix;       // "[label] url", escaped
  const std::string shortPrefix;  // "[label]"
  RecordingWriter* const writer;  // not owned; may be null

  mutable Mutex mutex;
  LineQueue lines GUARDED_BY(mutex){kMaxQueuedLines};
  std::string state GUARDED_BY(mutex);       // the stream's state, for the progress line
  std::string shownState GUARDED_BY(mutex);  // the state last said
  std::string title GUARDED_BY(mutex);
  std::string received GUARDED_BY(mutex) = "0";
  std::string receivedComplete GUARDED_BY(mutex) = "0";
  std::string lastError GUARDED_BY(mutex);     // the writer's, as last seen
  int64_t writeErrors GUARDED_BY(mutex) = 0;   // the writer's count, as last seen
  std::string source GUARDED_BY(mutex);        // the stream a playlist named; "" for the entry's own URL
  std::string shownStation GUARDED_BY(mutex);  // the station name last printed
  std::string reason GUARDED_BY(mutex);        // from the last Reason event
  FailureTally connecting GUARDED_BY(mutex);   // failed attempts; ends with audio or a stop
  FailureTally files GUARDED_BY(mutex);        // files not created or written; ends with a good file
  std::atomic<bool> audioAwaited{false};       // connecting.Failing(), for OnAudio without the lock
};

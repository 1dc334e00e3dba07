#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Mutex.h"
#include "cli/LineQueue.h"
#include "stream/StreamObserver.h"

class RecordingWriter;

// Turns one stream's events into the recorder's console lines, the same in URL
// mode and in --settings mode: one line per state change, per new title, per
// station name and bit rate, per stream a playlist led to, per file that could
// not be created or written, and per reconnect the writer joined or split;
// each line begins with "[n] URL: ", n being the entry's number in its list
// (SetNumber renumbers it when a reload moved it). Each line carries a level:
// errors for files, warnings for failing connections, notices for reconnects,
// the rest informational. A failing stream says why once ("Error on
// connecting: HTTP 404 Not Found; retrying every second"), again when the
// reason changes, and otherwise at most every retryReportInterval how often it
// has retried, instead of a line per attempt; a stream that connects and
// then fails again for the same reason, with no audio between, is the same
// streak, and its reconnects are no news either. A clean stop says "Disconnected"
// once. Text that comes from a server (titles, names, reasons) is printed with
// its control characters escaped (ByteText::EscapeControls), so no server can
// steer the user's terminal.
//
// The stream's worker calls OnText and OnAudio (and the controlling thread
// does for the state of a stop); they only queue lines, so a slow terminal
// never holds up a recording. The main thread takes the lines with
// TakeLines or TakeLogLines, renumbers with SetNumber and asks for
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

  ConsoleReporter(int32_t number, const std::string& url, RecordingWriter* writer,
                  std::chrono::milliseconds retryReportInterval = kRetryReportInterval);

  void OnAudio(const StreamBuffer& audio) override EXCLUDES(mutex);
  void OnText(StreamEvent kind, std::string text) override EXCLUDES(mutex);

  // The lines queued since the last call, oldest first.
  std::vector<std::string> TakeLines() EXCLUDES(mutex);
  std::vector<LogLine> TakeLogLines() EXCLUDES(mutex);
  // The entry's number from now on; lines already queued keep theirs.
  void SetNumber(int32_t number) EXCLUDES(mutex);
  // "[n] <title>: <bytes of this title> / <bytes in all>", in the list view's
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

  // Constant after construction.
  const std::string url;
  const std::string escapedUrl;
  RecordingWriter* const writer;  // not owned; may be null
  const std::chrono::milliseconds retryReportInterval;

  mutable Mutex mutex;
  std::string prefix GUARDED_BY(mutex);       // "[n] url", escaped
  std::string shortPrefix GUARDED_BY(mutex);  // "[n]"
  LineQueue lines GUARDED_BY(mutex){kMaxQueuedLines};
  std::string state GUARDED_BY(mutex);
  std::string title GUARDED_BY(mutex);
  std::string received GUARDED_BY(mutex) = "0";
  std::string receivedComplete GUARDED_BY(mutex) = "0";
  std::string lastError GUARDED_BY(mutex);
  std::string source GUARDED_BY(mutex);        // the stream a playlist named; "" for the entry's own URL
  std::string shownStation GUARDED_BY(mutex);  // the station name last printed
  std::string reason GUARDED_BY(mutex);        // from the last Reason event
  std::string failedReason GUARDED_BY(mutex);  // the reason the failure streak was reported with
  bool failing GUARDED_BY(mutex) = false;      // attempts fail one after the other
  // A failure was reported and no audio has come since: a connection that
  // is made and then fails again for the same reason (a bad metadata
  // interval) is the same streak.
  bool unrecovered GUARDED_BY(mutex) = false;
  bool repeating GUARDED_BY(mutex) = false;  // the streak has failed again for its reason
  std::atomic<bool> audioAwaited{false};     // unrecovered, for OnAudio without the lock
  int64_t retries GUARDED_BY(mutex) = 0;       // failed attempts in this streak after the first
  std::chrono::steady_clock::time_point lastRetryReport GUARDED_BY(mutex);
};

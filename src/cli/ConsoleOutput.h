#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/LogLine.h"

// Where the recorder's lines go, in the form that suits the place:
//
// - Terminal: event lines scroll, and below them up to kMaxLiveLines
//   progress lines are redrawn in place at every call.
// - Plain (a pipe or a file): event lines, and every progress line when
//   one is due (every few seconds); no escape sequences.
// - Journal (systemd connected standard output to the journal, as its
//   JOURNAL_STREAM says): one line per event, each led by its level as
//   sd-daemon(3) reads it ("<6>", "<4>", "<3>"), no progress lines (the
//   metrics page tells the progress) and no redraw.
//
// --quiet keeps only the lines about files that could not be recorded, and
// the recorder's own errors, on standard error. The recorder's own lines go
// through Say: errors to standard error as "driftharbour-record: ...", the
// rest with the event lines.
//
// Not thread-safe: the recorder's main thread alone writes. The streams are
// borrowed and must stay open.
class ConsoleOutput {
 public:
  enum class Mode { Terminal, Plain, Journal };

  static constexpr size_t kMaxLiveLines = 20;

  ConsoleOutput(std::FILE* out, std::FILE* err, Mode outMode, bool errToJournal, bool quiet);

  // The mode for standard output, and whether standard error goes to the
  // journal too, given the JOURNAL_STREAM variable (may be null).
  static Mode StandardOutputMode(const char* journalStream);
  static bool StandardErrorToJournal(const char* journalStream);
  // Whether fd is the stream that journalStream (the JOURNAL_STREAM
  // variable, "device:inode"; may be null) names.
  static bool IsJournalStream(const char* journalStream, int fd);

  // How many progress lines the next Show prints: none, a terminal's worth
  // or all of them (SIZE_MAX).
  size_t ProgressWanted(bool progressDue) const;
  // Event lines, then progress (as many as ProgressWanted asked for; total
  // is how many entries there are, for the "... and N more" line).
  void Show(const std::vector<LogLine>& lines, const std::vector<std::string>& progress, size_t total);
  // The last lines: events, then every progress line given (not in the
  // journal), with no redraw left behind.
  void Finish(const std::vector<LogLine>& lines, const std::vector<std::string>& progress);
  // A line of the recorder itself.
  void Say(LogLevel level, const std::string& text);

  Mode OutMode() const { return mode; }

 private:
  void Print(const std::vector<LogLine>& lines);
  void PrintError(const LogLine& line);
  void ClearLive();
  void ShowLive(const std::vector<std::string>& progress, size_t total);

  // Constant after construction.
  std::FILE* const out;
  std::FILE* const err;
  const Mode mode;
  const bool errToJournal;
  const bool quiet;

  size_t liveLines = 0;  // progress lines on the terminal now
};

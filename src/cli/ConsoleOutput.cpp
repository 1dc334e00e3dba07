#include "cli/ConsoleOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "cli/LineQueue.h"

namespace {

constexpr const char* kProgramPrefix = "driftharbour-record: ";

// "<n>" for the journal.
std::string LevelPrefix(LogLevel level) { return "<" + std::to_string(static_cast<int>(level)) + ">"; }

}  // namespace

ConsoleOutput::ConsoleOutput(std::FILE* out, std::FILE* err, Mode outMode, bool errToJournal, bool quiet)
    : out(out), err(err), mode(outMode), errToJournal(errToJournal), quiet(quiet) {}

bool ConsoleOutput::IsJournalStream(const char* journalStream, int fd) {
  if (journalStream == nullptr) {
    return false;
  }
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char end = '\0';
  if (std::sscanf(journalStream, "%llu:%llu%c", &device, &inode, &end) != 2) {
    return false;
  }
  struct stat status {};
  // The variable is inherited by children whose output goes elsewhere: only
  // the very stream it names is the journal.
  return fstat(fd, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
         static_cast<unsigned long long>(status.st_ino) == inode;
}

ConsoleOutput::Mode ConsoleOutput::StandardOutputMode(const char* journalStream) {
  if (isatty(STDOUT_FILENO) == 1) {
    return Mode::Terminal;
  }
  return IsJournalStream(journalStream, STDOUT_FILENO) ? Mode::Journal : Mode::Plain;
}

bool ConsoleOutput::StandardErrorToJournal(const char* journalStream) {
  return IsJournalStream(journalStream, STDERR_FILENO);
}

size_t ConsoleOutput::ProgressWanted(bool progressDue) const {
  if (quiet) {
    return 0;
  }
  switch (mode) {
    case Mode::Terminal:
      return kMaxLiveLines;
    case Mode::Plain:
      return progressDue ? std::numeric_limits<size_t>::max() : 0;
    case Mode::Journal:
      break;
  }
  return 0;
}

void ConsoleOutput::Show(const std::vector<LogLine>& lines, const std::vector<std::string>& progress, size_t total) {
  if (quiet) {
    for (const LogLine& line : lines) {
      if (line.text.find(kCannotRecordText) != std::string::npos) {
        PrintError(line);
      }
    }
    return;
  }
  if (mode == Mode::Terminal) {
    ClearLive();
    Print(lines);
    ShowLive(progress, total);
  } else {
    Print(lines);
    std::vector<LogLine> progressLines;
    progressLines.reserve(progress.size());
    for (const std::string& text : progress) {
      progressLines.push_back({LogLevel::Info, text});
    }
    Print(progressLines);
  }
  std::fflush(out);
}

void ConsoleOutput::Finish(const std::vector<LogLine>& lines, const std::vector<std::string>& progress) {
  if (quiet) {
    Show(lines, {}, 0);
    return;
  }
  if (mode == Mode::Terminal) {
    ClearLive();
  }
  Print(lines);
  if (mode != Mode::Journal) {
    for (const std::string& text : progress) {
      std::fprintf(out, "%s\n", text.c_str());
    }
  }
  std::fflush(out);
}

void ConsoleOutput::Say(LogLevel level, const std::string& text) {
  if (level <= LogLevel::Error) {
    std::fflush(out);
    PrintError({level, kProgramPrefix + text});
    return;
  }
  if (quiet) {
    return;
  }
  if (mode == Mode::Terminal) {
    ClearLive();
  }
  Print({{level, text}});
  std::fflush(out);
}

void ConsoleOutput::Print(const std::vector<LogLine>& lines) {
  for (const LogLine& line : lines) {
    if (mode == Mode::Journal) {
      std::fputs(LevelPrefix(line.level).c_str(), out);
    }
    std::fputs(line.text.c_str(), out);
    std::fputc('\n', out);
  }
}

void ConsoleOutput::PrintError(const LogLine& line) {
  if (errToJournal) {
    std::fputs(LevelPrefix(line.level).c_str(), err);
  }
  std::fprintf(err, "%s\n", line.text.c_str());
  std::fflush(err);
}

void ConsoleOutput::ClearLive() {
  if (liveLines > 0) {
    std::fprintf(out, "\x1b[%zuA\x1b[J", liveLines);
    liveLines = 0;
  }
}

void ConsoleOutput::ShowLive(const std::vector<std::string>& progress, size_t total) {
  const size_t shown = total > kMaxLiveLines ? kMaxLiveLines - 1 : std::min(progress.size(), total);
  for (size_t i = 0; i < shown && i < progress.size(); ++i) {
    std::fprintf(out, "%s\x1b[K\n", progress[i].c_str());
    ++liveLines;
  }
  if (shown < total) {
    std::fprintf(out, "... and %zu more streams\x1b[K\n", total - shown);
    ++liveLines;
  }
}

#pragma once

#include <string>
#include <vector>

// How much a recorder line matters, with the numbers of syslog(3) and of
// sd-daemon(3)'s "<n>" prefixes, so that the journal files each line at its
// own priority.
enum class LogLevel : int {
  Error = 3,    // a file cannot be created or written; the recorder cannot go on
  Warning = 4,  // a stream fails to connect; lines were dropped
  Notice = 5,   // a reload, a reconnect joined or split
  Info = 6,     // states, titles, stations, progress
};

// One line for the console or the journal, without its line end.
struct LogLine {
  LogLevel level = LogLevel::Info;
  std::string text;

  bool operator==(const LogLine&) const = default;
};

// The texts of lines, in order.
inline std::vector<std::string> LineTexts(std::vector<LogLine> lines) {
  std::vector<std::string> texts;
  texts.reserve(lines.size());
  for (auto& line : lines) {
    texts.push_back(std::move(line.text));
  }
  return texts;
}

#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "cli/LogLine.h"

// What every console line about a file that could not be created or
// written carries after its "[n] URL" prefix; --quiet prints only these.
inline constexpr const char* kCannotRecordText = ": cannot record to ";

// The console lines waiting for the recorder's main thread, at most
// `capacity` of them: past that the oldest go, and Take says how many went.
// No lock of its own: its owner's mutex guards it.
class LineQueue {
 public:
  explicit LineQueue(size_t capacity) : capacity(capacity) {}

  void Push(std::string line, LogLevel level = LogLevel::Info);
  // The waiting lines, oldest first, after a "<prefix>(N older lines
  // dropped)" warning when some had to go; the queue is empty afterwards.
  std::vector<LogLine> Take(const std::string& droppedPrefix);

 private:
  const size_t capacity;
  std::deque<LogLine> lines;
  size_t dropped = 0;
};

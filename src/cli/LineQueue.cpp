#include "cli/LineQueue.h"

#include <iterator>

void LineQueue::Push(std::string line, LogLevel level) {
  if (lines.size() >= capacity) {
    lines.pop_front();
    ++dropped;
  }
  lines.push_back({level, std::move(line)});
}

std::vector<LogLine> LineQueue::Take(const std::string& droppedPrefix) {
  std::vector<LogLine> taken;
  if (lines.empty() && dropped == 0) {
    return taken;  // the common case, four times a second for every stream: no allocation
  }
  taken.reserve(lines.size() + 1);
  if (dropped > 0) {
    taken.push_back({LogLevel::Warning, droppedPrefix + "(" + std::to_string(dropped) + " older lines dropped)"});
    dropped = 0;
  }
  taken.insert(taken.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
  return taken;
}

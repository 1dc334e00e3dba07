#include "cli/LineQueue.h"

#include <iterator>

void LineQueue::Push(std::string line) {
  if (lines.size() >= capacity) {
    lines.pop_front();
    ++dropped;
  }
  lines.push_back(std::move(line));
}

std::vector<std::string> LineQueue::Take(const std::string& droppedPrefix) {
  std::vector<std::string> taken;
  taken.reserve(lines.size() + 1);
  if (dropped > 0) {
    taken.push_back(droppedPrefix + "(" + std::to_string(dropped) + " older lines dropped)");
    dropped = 0;
  }
  taken.insert(taken.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
  return taken;
}

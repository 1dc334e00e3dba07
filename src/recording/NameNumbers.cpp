#include "recording/NameNumbers.h"

#include <algorithm>

NameNumbers& NameNumbers::Shared() {
  static NameNumbers numbers;
  return numbers;
}

uint64_t NameNumbers::Next(const std::string& key) const {
  MutexLock lock(mutex);
  const auto found = next.find(key);
  return found == next.end() ? 1 : found->second;
}

void NameNumbers::Remember(const std::string& key, uint64_t number) {
  MutexLock lock(mutex);
  auto found = next.find(key);
  if (found != next.end()) {
    found->second = std::max(found->second, number);
    return;
  }
  if (next.size() >= kMaxRemembered) {
    next.clear();  // titles that came once long ago cost nothing to look up again
  }
  next.emplace(key, number);
}

size_t NameNumbers::Size() const {
  MutexLock lock(mutex);
  return next.size();
}

#include "recording/TitleLag.h"

#include <algorithm>
#include <vector>

void TitleLag::Add(int64_t offsetUs) {
  offsets.push_back(offsetUs);
  if (offsets.size() > kHistory) {
    offsets.pop_front();
  }
}

std::optional<int64_t> TitleLag::Usual() const {
  if (offsets.size() < kMinCuts) {
    return std::nullopt;
  }
  std::vector<int64_t> sorted(offsets.begin(), offsets.end());
  std::sort(sorted.begin(), sorted.end());
  const size_t middle = sorted.size() / 2;
  return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

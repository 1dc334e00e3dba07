#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

// How late one station's titles usually come, learned from the cuts that
// found a silence: each cut's offset from its title change (microseconds;
// negative where the title came after the song had ended). Once kMinCuts
// are known, Usual() is the median of the last kHistory, which a stray
// silence (a quiet passage inside a song) does not move far.
//
// Owns its offsets. Not thread-safe: the cutter's thread alone uses it.
class TitleLag {
 public:
  static constexpr size_t kHistory = 9;
  static constexpr size_t kMinCuts = 4;

  void Add(int64_t offsetUs);
  // The median offset; nothing before kMinCuts cuts.
  std::optional<int64_t> Usual() const;
  void Clear() { offsets.clear(); }

 private:
  std::deque<int64_t> offsets;  // oldest first, at most kHistory
};

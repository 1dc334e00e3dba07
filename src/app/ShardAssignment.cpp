#include "app/ShardAssignment.h"

#include <cstdlib>

#include "base/Fnv1a.h"

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
// Far more shards than any list needs; keeps "K/N" parsing away from
// overflow.
constexpr int32_t kMaxShards = 1 << 20;

// SplitMix64's finaliser: every input bit reaches every output bit, so
// neighbouring shard numbers give unrelated weights.
uint64_t Mix(uint64_t value) {
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

uint64_t WeightOfHash(uint64_t urlHash, int32_t shard) {
  // FNV-1a alone spreads its last bytes poorly; mixing its value with the
  // shard's own odd multiple gives every (URL, shard) pair its own weight.
  return Mix(urlHash ^ Mix(kGolden * (static_cast<uint64_t>(shard) + 1)));
}

bool ParseCount(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  value = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
  return true;
}

}  // namespace

std::optional<ShardAssignment> ShardAssignment::Of(int32_t shard, int32_t count) {
  if (count < 1 || count > kMaxShards || shard < 0 || shard >= count) {
    return std::nullopt;
  }
  return ShardAssignment(shard, count);
}

std::optional<ShardAssignment> ShardAssignment::Parse(const std::string& text) {
  const size_t slash = text.find('/');
  int32_t shard = 0;
  int32_t count = 0;
  if (slash == std::string::npos || !ParseCount(text.substr(0, slash), shard) ||
      !ParseCount(text.substr(slash + 1), count)) {
    return std::nullopt;
  }
  return Of(shard, count);
}

int32_t ShardAssignment::ShardOf(std::string_view url, int32_t count) {
  if (count < 2) {
    return 0;
  }
  const uint64_t urlHash = Fnv1a(url);
  int32_t best = 0;
  uint64_t bestWeight = WeightOfHash(urlHash, 0);
  for (int32_t shard = 1; shard < count; ++shard) {
    const uint64_t weight = WeightOfHash(urlHash, shard);
    // Ties (never seen in practice) go to the lower shard, the same in
    // every recorder.
    if (weight > bestWeight) {
      best = shard;
      bestWeight = weight;
    }
  }
  return best;
}

uint64_t ShardAssignment::Weight(std::string_view url, int32_t shard) { return WeightOfHash(Fnv1a(url), shard); }

std::string ShardAssignment::Text() const { return std::to_string(shard) + "/" + std::to_string(count); }

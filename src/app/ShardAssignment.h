#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Which of N recorders records a server entry, so that N recorders started
// with the same list record every entry exactly once, with no coordination
// between them: rendezvous (highest random weight) hashing of the entry's
// URL. Every shard k in 0..N-1 gives the URL a pseudo-random weight, and the
// shard with the highest weight takes the entry. When a shard N joins, an
// entry moves only if the new shard outweighs all the others, which happens
// for about 1/(N+1) of the entries, and those all move to the new shard; the
// rest stay where they were. Removing the last shard likewise moves only its
// own entries.
//
// Shards count from 0, as a Kubernetes StatefulSet counts its pods: "--shard
// 0/3", "1/3" and "2/3" split a list among three recorders. The URL is hashed
// byte for byte, exactly as the settings file stores it; the weights are
// fixed (FNV-1a and a SplitMix64 finaliser), so recorders on other machines
// and of other builds agree.
//
// A value type; every operation is pure and may be called from any thread.
class ShardAssignment {
 public:
  // The one shard of one: records everything.
  ShardAssignment() = default;

  // Shard `shard` of `count`; nullopt unless 0 <= shard < count.
  static std::optional<ShardAssignment> Of(int32_t shard, int32_t count);
  // "K/N" with 0 <= K < N (decimal digits only); nullopt for anything else.
  static std::optional<ShardAssignment> Parse(const std::string& text);

  // The shard of count that takes url; 0 when count < 2.
  static int32_t ShardOf(std::string_view url, int32_t count);
  // url's weight at shard: the larger, the likelier the shard takes it.
  static uint64_t Weight(std::string_view url, int32_t shard);

  bool Owns(std::string_view url) const { return ShardOf(url, count) == shard; }
  int32_t Shard() const { return shard; }
  int32_t Count() const { return count; }
  // "K/N".
  std::string Text() const;

 private:
  ShardAssignment(int32_t shard, int32_t count) : shard(shard), count(count) {}

  int32_t shard = 0;
  int32_t count = 1;
};

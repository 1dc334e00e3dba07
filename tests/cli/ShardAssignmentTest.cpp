// Rendezvous hashing of entry URLs onto recorders.
#include "app/ShardAssignment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Urls(int count) {
  std::vector<std::string> urls;
  for (int i = 0; i < count; ++i) {
    urls.push_back("http://radio" + std::to_string(i % 97) + ".example.org:8000/stream/" + std::to_string(i));
  }
  return urls;
}

constexpr int kUrls = 6000;

TEST(ShardAssignmentTest, EveryEntryHasExactlyOneShardAndTheShardsShareEvenly) {
  const auto urls = Urls(kUrls);
  for (const int32_t count : {1, 2, 3, 5, 8}) {
    std::vector<int> perShard(static_cast<size_t>(count), 0);
    for (const auto& url : urls) {
      int owners = 0;
      for (int32_t k = 0; k < count; ++k) {
        if (ShardAssignment::Of(k, count)->Owns(url)) {
          ++owners;
          ++perShard[static_cast<size_t>(k)];
        }
      }
      ASSERT_EQ(owners, 1) << url << " in " << count << " shards";
    }
    for (int32_t k = 0; k < count; ++k) {
      // A binomial spread is a few percent at this size; 15 % catches a
      // skewed weight, not bad luck.
      EXPECT_NEAR(perShard[static_cast<size_t>(k)], kUrls / count, 0.15 * kUrls / count)
          << "shard " << k << " of " << count;
    }
  }
}

TEST(ShardAssignmentTest, AShardJoiningTakesOnlyItsShareAndNothingElseMoves) {
  const auto urls = Urls(kUrls);
  for (const int32_t count : {1, 2, 3, 4, 9}) {
    int moved = 0;
    for (const auto& url : urls) {
      const int32_t before = ShardAssignment::ShardOf(url, count);
      const int32_t after = ShardAssignment::ShardOf(url, count + 1);
      if (after != before) {
        ++moved;
        EXPECT_EQ(after, count) << url << ": moved between old shards going from " << count;
      }
    }
    const double share = static_cast<double>(moved) / kUrls;
    const double ideal = 1.0 / (count + 1);
    EXPECT_NEAR(share, ideal, 0.2 * ideal) << "going from " << count << " to " << count + 1 << " shards";
  }
}

TEST(ShardAssignmentTest, WeightsNeverChangeBetweenBuilds) {
  // Recorders of different builds must agree on a list's split: these
  // values are what the hash gives today, and changing them reshuffles
  // every deployment's recordings.
  EXPECT_EQ(ShardAssignment::Weight("", 0), 0xAEBE53F85CDC3C4CULL);
  EXPECT_EQ(ShardAssignment::Weight("http://127.0.0.1:8000/s/0", 2), 0xAFD576C1907E2B8BULL);
  const std::vector<int32_t> shards = {1, 0, 0, 0, 1, 0};
  for (size_t i = 0; i < shards.size(); ++i) {
    EXPECT_EQ(ShardAssignment::ShardOf("http://127.0.0.1:8000/s/" + std::to_string(i), 3), shards[i]) << i;
  }
}

TEST(ShardAssignmentTest, OnlyShardsWithinTheCountAreAccepted) {
  struct Row {
    const char* text;
    bool valid;
  };
  for (const Row& row : {Row{"0/1", true}, Row{"0/3", true}, Row{"2/3", true}, Row{"3/3", false},
                         Row{"1/0", false}, Row{"-1/3", false}, Row{"+1/3", false}, Row{"1/3/5", false},
                         Row{"1", false}, Row{"/3", false}, Row{"1/", false}, Row{" 1/3", false},
                         Row{"99999999/100000000", false}}) {
    const auto shard = ShardAssignment::Parse(row.text);
    EXPECT_EQ(shard.has_value(), row.valid) << row.text;
    if (shard) {
      EXPECT_EQ(shard->Text(), row.text);
    }
  }
  EXPECT_TRUE(ShardAssignment().Owns("anything"));
}

}  // namespace

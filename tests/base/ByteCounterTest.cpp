#include "base/ByteCounter.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteCounterTest, DisplayTable) {
  const struct {
    uint32_t value;
    const char* display;
  } rows[] = {
      {0, "0 Bytes"},
      {512, "512 Bytes"},
      {999999, "999999 Bytes"},
      {1000000, "1,000 MBytes"},
      {1000999, "1,000 MBytes"},
      {1234567, "1,234 MBytes"},
      {7000042, "7,000 MBytes"},
      {12345678, "12,345 MBytes"},
      {999999999, "999,999 MBytes"},
      {1000000000, "1000,000 MBytes"},
      {4294967295u, "4294,967 MBytes"},
  };
  for (const auto& row : rows) {
    ByteCounter counter;
    counter.Set(row.value);
    EXPECT_EQ(counter.FormatDisplay(), row.display) << row.value;
    EXPECT_EQ(counter.FormatDigits(), std::to_string(row.value)) << row.value;
  }
}

TEST(ByteCounterTest, CarriesIntoMillionsExactlyAtOneMillion) {
  ByteCounter counter;
  counter.Add(999999);
  EXPECT_EQ(counter.Millions(), 0u);
  counter.Add(1);
  EXPECT_EQ(counter.Millions(), 1u);
  EXPECT_EQ(counter.Remainder(), 0u);
  EXPECT_EQ(counter.FormatDisplay(), "1,000 MBytes");
  EXPECT_EQ(counter.FormatDigits(), "1000000");
}

TEST(ByteCounterTest, CountsPastFourGigabytesWithoutWrapping) {
  ByteCounter counter;
  counter.Set(4294967295u);
  // 705032705 more bytes, in blocks the way a stream adds them.
  for (int i = 0; i < 7; ++i) {
    counter.Add(100000000);
  }
  counter.Add(5032705);
  EXPECT_EQ(counter.FormatDigits(), "5000000000");
  EXPECT_EQ(counter.FormatDisplay(), "5000,000 MBytes");
}

TEST(ByteCounterTest, DigitsTravelAsTextAndComeBackWhole) {
  EXPECT_EQ(ByteCounter::FromDigits("5000000123").FormatDigits(), "5000000123");
  EXPECT_EQ(ByteCounter::FromDigits("5000000123").FormatDisplay(), "5000,000 MBytes");
  EXPECT_EQ(ByteCounter::FromDigits("123").FormatDisplay(), "123 Bytes");
  EXPECT_EQ(ByteCounter::FromDigits("").FormatDigits(), "0");
  EXPECT_EQ(ByteCounter::FromDigits("12x34").FormatDigits(), "12");
}

TEST(ByteCounterTest, ResetAndNegativeAdd) {
  ByteCounter counter;
  counter.Set(1234567).Add(-5);
  EXPECT_EQ(counter.FormatDigits(), "1234567");
  counter.Reset();
  EXPECT_EQ(counter.FormatDigits(), "0");
}

}  // namespace

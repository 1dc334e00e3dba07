#include "base/ByteCounter.h"

#include <cstdio>

namespace {

constexpr uint32_t kMillion = 1000000;

std::string SixDigits(uint32_t remainder) {
  char text[16];
  std::snprintf(text, sizeof text, "%06u", remainder);
  return text;
}

}  // namespace

void ByteCounter::Reset() {
  remainder = 0;
  millions = 0;
}

ByteCounter& ByteCounter::Add(int32_t n) {
  if (n > 0) {
    // remainder < 10^6 and n < 2^31: the sum fits in 32 bits.
    remainder += static_cast<uint32_t>(n);
  }
  Normalize();
  return *this;
}

ByteCounter& ByteCounter::Set(uint32_t n) {
  Reset();
  remainder = n;
  Normalize();
  return *this;
}

void ByteCounter::Normalize() {
  millions += remainder / kMillion;
  remainder %= kMillion;
}

ByteCounter ByteCounter::FromDigits(const std::string& digits) {
  size_t length = 0;
  while (length < digits.size() && digits[length] >= '0' && digits[length] <= '9') {
    ++length;
  }
  ByteCounter counter;
  const size_t split = length > 6 ? length - 6 : 0;
  for (size_t i = 0; i < split; ++i) {
    counter.millions = counter.millions * 10 + static_cast<uint32_t>(digits[i] - '0');
  }
  for (size_t i = split; i < length; ++i) {
    counter.remainder = counter.remainder * 10 + static_cast<uint32_t>(digits[i] - '0');
  }
  return counter;
}

std::string ByteCounter::FormatDigits() const {
  if (millions == 0) {
    return std::to_string(remainder);
  }
  return std::to_string(millions) + SixDigits(remainder);
}

std::string ByteCounter::FormatDisplay() const {
  if (millions == 0) {
    return std::to_string(remainder) + " Bytes";
  }
  return std::to_string(millions) + "," + SixDigits(remainder).substr(0, 3) + " MBytes";
}

#include "recording/ByteCounter.h"

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

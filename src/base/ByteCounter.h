#pragma once

#include <cstdint>
#include <string>

// A count of audio bytes, kept as whole millions plus a remainder below one
// million, so that two unsigned 32-bit fields count far past 4294967295.
// A million is 10^6 bytes.
//
// Two text forms: FormatDigits() gives the plain decimal value (how counts
// travel from a stream to its observers), FormatDisplay() the list view's
// "512 Bytes" / "1,234 MBytes" (thousands of bytes after a fixed comma,
// truncated).
//
// No lock of its own: the owner's lock covers it.
class ByteCounter {
 public:
  ByteCounter() = default;
  virtual ~ByteCounter() = default;

  void Reset();
  // Adds a block size (never negative in use; a negative n adds nothing).
  ByteCounter& Add(int32_t n);
  ByteCounter& Set(uint32_t n);
  // Carries whole millions of the remainder into millions.
  void Normalize();

  // Reads a FormatDigits() text back, however large; stops at the first
  // byte that is not a digit.
  static ByteCounter FromDigits(const std::string& digits);

  std::string FormatDigits() const;
  std::string FormatDisplay() const;

  uint32_t Millions() const { return millions; }
  uint32_t Remainder() const { return remainder; }

 private:
  uint32_t remainder = 0;  // 0..999999 after every operation
  uint32_t millions = 0;
};

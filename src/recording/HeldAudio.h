#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The audio bytes a SilenceCutter holds back, addressed by their position in
// the response (bytes of audio before them): Base() is the oldest byte held,
// End() the count of the response's audio so far.
//
// Owns its bytes. Not thread-safe: the cutter's thread alone uses it.
class HeldAudio {
 public:
  // Nothing held, positions from 0 again (a new response).
  void Clear();
  // Holds size more bytes, from End() on.
  void Append(const uint8_t* data, int32_t size);
  // Lets go of the bytes before position (at most End()).
  void DropBefore(int64_t position);

  int64_t Base() const { return base; }
  int64_t End() const { return end; }
  // The held byte at position (Base() <= position <= End()).
  const uint8_t* At(int64_t position) const { return bytes.data() + front + static_cast<size_t>(position - base); }

 private:
  std::vector<uint8_t> bytes;  // bytes[front] is the response's byte `base`
  size_t front = 0;
  int64_t base = 0;
  int64_t end = 0;
};

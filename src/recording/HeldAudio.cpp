#include "recording/HeldAudio.h"

#include <algorithm>

void HeldAudio::Clear() {
  bytes.clear();
  front = 0;
  base = end = 0;
}

void HeldAudio::Append(const uint8_t* data, int32_t size) {
  // The new bytes go after the held ones; the front, already handed on, is
  // dropped once it is the larger part, so each byte moves about once.
  if (front > 0 && front >= bytes.size() - front) {
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(front));
    front = 0;
  }
  bytes.insert(bytes.end(), data, data + size);
  end += size;
}

void HeldAudio::DropBefore(int64_t position) {
  position = std::min(position, end);
  if (position <= base) {
    return;
  }
  front += static_cast<size_t>(position - base);
  base = position;
  if (front >= bytes.size()) {
    bytes.clear();
    front = 0;
  }
}

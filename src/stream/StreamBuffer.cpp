#include "stream/StreamBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

StreamBuffer::StreamBuffer(const void* bytes, int32_t length) { Append(bytes, length); }

StreamBuffer::StreamBuffer(LentTag, const uint8_t* bytes, int32_t length) {
  if (bytes != nullptr && length > 0) {
    // Only the const operations reach a lent buffer: Data() const hands the
    // pointer out as const again.
    data = const_cast<uint8_t*>(bytes);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    size = length;
    lent = true;
  }
}

const StreamBuffer StreamBuffer::Lend(const uint8_t* bytes, int32_t length) {
  return StreamBuffer(LentTag{}, bytes, length);
}

StreamBuffer::~StreamBuffer() { Clear(); }

void StreamBuffer::Clear() {
  if (!lent) {
    std::free(data);
  }
  lent = false;
  data = nullptr;
  size = 0;
  capacity = 0;
}

void StreamBuffer::Append(const void* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) {
    return;
  }
  const int64_t total = int64_t{size} + length;
  if (total > INT32_MAX) {
    throw std::bad_alloc();
  }
  if (total <= capacity) {
    // memmove: the new bytes may lie inside this block.
    std::memmove(data + size, bytes, static_cast<size_t>(length));
    size = static_cast<int32_t>(total);
    return;
  }
  // A first block gets exactly what it needs (most buffers are filled once);
  // a block that grows gets half as much again, so repeated appends cost
  // linear time.
  int64_t room = size == 0 ? total : std::max<int64_t>(total, int64_t{capacity} + capacity / 2);
  room = std::min<int64_t>(room, INT32_MAX);
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(room)));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  if (size > 0) {
    std::memcpy(block, data, static_cast<size_t>(size));
  }
  // Copy the new bytes before the old block goes: they may lie inside it.
  std::memcpy(block + size, bytes, static_cast<size_t>(length));
  if (!lent) {
    std::free(data);
  }
  lent = false;
  data = block;
  size = static_cast<int32_t>(total);
  capacity = static_cast<int32_t>(room);
}

void StreamBuffer::DropFront(int32_t count) {
  if (count <= 0) {
    return;
  }
  if (count >= size) {
    Clear();
    return;
  }
  std::memmove(data, data + count, static_cast<size_t>(size - count));
  size -= count;
}

StreamBuffer& StreamBuffer::AppendBuffer(const StreamBuffer& other) {
  Append(other.data, other.size);
  return *this;
}

StreamBuffer& StreamBuffer::AssignText(const std::string& text) {
  Clear();
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    throw std::bad_alloc();
  }
  Append(text.data(), static_cast<int32_t>(text.size()));
  return *this;
}

std::string StreamBuffer::ToText() const {
  if (data == nullptr) {
    return {};
  }
  const void* nul = std::memchr(data, 0, static_cast<size_t>(size));
  const size_t length = nul == nullptr ? static_cast<size_t>(size)
                                       : static_cast<size_t>(static_cast<const uint8_t*>(nul) - data);
  return std::string(reinterpret_cast<const char*>(data), length);
}

uint8_t StreamBuffer::ByteAt(int32_t index) const {
  if (data == nullptr || index < 0 || index >= size) {
    return 0;
  }
  return data[index];
}

int32_t StreamBuffer::FindBytes(const StreamBuffer& pattern, int32_t start) const {
  if (pattern.data == nullptr || pattern.size <= 0 || data == nullptr || start < 0) {
    return -1;
  }
  for (int32_t i = start; i < size - pattern.size + 1; ++i) {
    if (std::memcmp(data + i, pattern.data, static_cast<size_t>(pattern.size)) == 0) {
      return i;
    }
  }
  return -1;
}

int32_t StreamBuffer::Find(const std::string& pattern, int32_t start) const {
  StreamBuffer needle;
  needle.AssignText(pattern);
  return FindBytes(needle, start);
}

bool StreamBuffer::CopyRange(StreamBuffer& destination, int32_t position, int32_t count) const {
  if (position < 0 || position > size) {
    return false;
  }
  int32_t n = size - position;
  if (count != -1 && n > count) {
    n = count;
  }
  if (n <= 0) {
    destination.Clear();
    return false;
  }
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  std::memcpy(block, data + position, static_cast<size_t>(n));
  destination.Adopt(block, n);
  return true;
}

void StreamBuffer::Adopt(uint8_t* block, int32_t length) {
  if (block == nullptr || length <= 0) {
    return;
  }
  if (block == data) {
    // Our own block handed back: it holds at least what it held.
    size = length;
    capacity = std::max(capacity, length);
    return;
  }
  Clear();
  data = block;
  size = length;
  capacity = length;
}

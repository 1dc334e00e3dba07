#pragma once

#include <cstdint>
#include <string>

// A block of stream bytes: one network read, the demultiplexer's leftover, a
// header line, an audio or a metadata block.
//
// The buffer owns its block, which holds Size() bytes and may have room for
// more (appends grow it geometrically, so a buffer appended to again and
// again is not copied every time). Data() is null exactly when Size() is 0:
// a buffer that becomes empty releases its block. Blocks come from malloc,
// so that a block built elsewhere can be handed over with Adopt(). Out-of-range requests are
// answered with 0, -1 or false; nothing ever reads or writes outside the
// block.
//
// A lent buffer (Lend) shows bytes someone else owns, without copying them:
// the stream hands its read buffer to the observers that way. It is const,
// so only the reading operations apply; the bytes must outlive it.
//
// Not thread-safe: a buffer belongs to one thread at a time. Observers get
// audio buffers lent for the duration of one call.
class StreamBuffer {
 public:
  StreamBuffer() = default;
  // An empty buffer, then Append(bytes, length).
  StreamBuffer(const void* bytes, int32_t length);
  virtual ~StreamBuffer();

  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;

  // A read-only view of length bytes at bytes (empty for a null pointer or
  // a length of 0 or less); nothing is copied or freed.
  static const StreamBuffer Lend(const uint8_t* bytes, int32_t length);

  // Releases the block.
  void Clear();

  // Adds length bytes at the end. Nothing happens for a null pointer or a
  // length of 0 or less. bytes may point into this buffer.
  void Append(const void* bytes, int32_t length);
  StreamBuffer& AppendBuffer(const StreamBuffer& other);

  // Replaces the contents with the characters of text, without terminator.
  StreamBuffer& AssignText(const std::string& text);

  const uint8_t* Data() const { return data; }
  uint8_t* Data() { return data; }
  int32_t Size() const { return size; }

  // The bytes up to the first NUL, at most Size() of them.
  std::string ToText() const;

  // The byte at index, or 0 when index is outside the block.
  uint8_t ByteAt(int32_t index) const;

  // First index at or after start where pattern occurs, or -1. An empty
  // pattern, an empty buffer or a negative start give -1.
  int32_t FindBytes(const StreamBuffer& pattern, int32_t start) const;
  int32_t Find(const std::string& pattern, int32_t start) const;

  // Copies count bytes from position (count -1: to the end) into
  // destination, replacing its contents. A position outside 0..Size()
  // returns false and leaves destination as it was; nothing to copy clears
  // destination and returns false.
  bool CopyRange(StreamBuffer& destination, int32_t position, int32_t count) const;

  // Removes the first count bytes (all of them when count >= Size()),
  // moving the rest to the front. Nothing happens for count <= 0.
  void DropFront(int32_t count);

  // Takes ownership of a malloc'd block of length bytes, replacing the
  // contents. A null block or a length of 0 or less changes nothing, and the
  // caller keeps the block.
  void Adopt(uint8_t* block, int32_t length);

 private:
  struct LentTag {};
  StreamBuffer(LentTag, const uint8_t* bytes, int32_t length);

  // malloc'd, capacity bytes (a lent buffer: someone else's, capacity 0);
  // null when size is 0
  uint8_t* data = nullptr;
  int32_t size = 0;
  int32_t capacity = 0;
  bool lent = false;  // data is not ours to free
};

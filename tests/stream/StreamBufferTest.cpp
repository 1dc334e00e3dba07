#include "stream/StreamBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(const StreamBuffer& buffer) {
  return buffer.Data() == nullptr ? std::string()
                                  : std::string(reinterpret_cast<const char*>(buffer.Data()),
                                                static_cast<size_t>(buffer.Size()));
}

StreamBuffer& Fill(StreamBuffer& buffer, const std::string& text) { return buffer.AssignText(text); }

TEST(StreamBufferTest, AppendIgnoresNullAndNonPositiveLengths) {
  StreamBuffer buffer;
  buffer.Append(nullptr, 5);
  buffer.Append("abc", 0);
  buffer.Append("abc", -3);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Data(), nullptr);

  Fill(buffer, "hello");
  buffer.Append("xyz", 3);
  EXPECT_EQ(Bytes(buffer), "helloxyz");
  EXPECT_EQ(buffer.Size(), 8);
}

TEST(StreamBufferTest, AppendOfItsOwnBytesSurvivesTheReallocation) {
  StreamBuffer buffer;
  Fill(buffer, "abcd");
  buffer.Append(buffer.Data() + 1, 2);
  EXPECT_EQ(Bytes(buffer), "abcdbc");
  buffer.AppendBuffer(buffer);
  EXPECT_EQ(Bytes(buffer), "abcdbcabcdbc");
}

TEST(StreamBufferTest, ToTextStopsAtFirstNulAndNeverReadsPastTheBlock) {
  StreamBuffer buffer("ab\0c", 4);
  EXPECT_EQ(buffer.ToText(), "ab");
  StreamBuffer noNul("abc", 3);
  EXPECT_EQ(noNul.ToText(), "abc");
  EXPECT_EQ(StreamBuffer().ToText(), "");
}

TEST(StreamBufferTest, ByteAtOutsideTheBlockIsZero) {
  const uint8_t raw[] = {0x01, 0xFF};
  StreamBuffer buffer(raw, 2);
  EXPECT_EQ(buffer.ByteAt(-1), 0);
  EXPECT_EQ(buffer.ByteAt(2), 0);
  EXPECT_EQ(buffer.ByteAt(1), 0xFF);
  EXPECT_EQ(StreamBuffer().ByteAt(0), 0);
}

TEST(StreamBufferTest, FindBytesAtTheBoundaries) {
  StreamBuffer buffer;
  Fill(buffer, "line\r\nend\r\n");
  EXPECT_EQ(buffer.Find("\r\n", 0), 4);
  EXPECT_EQ(buffer.Find("\r\n", 5), 9);  // at the very end
  EXPECT_EQ(buffer.Find("\r\n", buffer.Size() - 2 + 1), -1);
  EXPECT_EQ(buffer.Find("a longer pattern than the buffer", 0), -1);
  EXPECT_EQ(buffer.Find("", 0), -1);
  EXPECT_EQ(buffer.Find("\r\n", -1), -1);
  EXPECT_EQ(StreamBuffer().Find("x", 0), -1);
}

TEST(StreamBufferTest, CopyRangeAtTheBoundaries) {
  StreamBuffer source;
  Fill(source, "abcdef");
  StreamBuffer destination;
  Fill(destination, "old");

  EXPECT_FALSE(source.CopyRange(destination, 7, -1));  // past the end: untouched
  EXPECT_EQ(Bytes(destination), "old");
  EXPECT_FALSE(source.CopyRange(destination, -1, 2));
  EXPECT_EQ(Bytes(destination), "old");

  EXPECT_FALSE(source.CopyRange(destination, 6, -1));  // at the end: cleared
  EXPECT_EQ(destination.Size(), 0);

  EXPECT_TRUE(source.CopyRange(destination, 2, -1));
  EXPECT_EQ(Bytes(destination), "cdef");
  EXPECT_TRUE(source.CopyRange(destination, 1, 2));
  EXPECT_EQ(Bytes(destination), "bc");
  EXPECT_TRUE(source.CopyRange(destination, 4, 100));
  EXPECT_EQ(Bytes(destination), "ef");
  EXPECT_FALSE(source.CopyRange(destination, 1, 0));
  EXPECT_EQ(destination.Size(), 0);
}

TEST(StreamBufferTest, AdoptTakesOverOnlyRealBlocks) {
  StreamBuffer buffer;
  Fill(buffer, "keep");
  buffer.Adopt(nullptr, 3);
  EXPECT_EQ(Bytes(buffer), "keep");
  auto* block = static_cast<uint8_t*>(std::malloc(2));
  block[0] = 'x';
  block[1] = 'y';
  buffer.Adopt(block, 0);  // refused: the caller keeps it
  EXPECT_EQ(Bytes(buffer), "keep");
  buffer.Adopt(block, 2);
  EXPECT_EQ(Bytes(buffer), "xy");
  EXPECT_EQ(buffer.Data(), block);
}

TEST(StreamBufferTest, AssignTextReplacesWithoutTerminator) {
  StreamBuffer buffer;
  Fill(buffer, "something");
  buffer.AssignText("");
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Data(), nullptr);
  buffer.AssignText("ab");
  EXPECT_EQ(buffer.Size(), 2);
}

}  // namespace

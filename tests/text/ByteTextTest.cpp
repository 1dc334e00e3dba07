#include "text/ByteText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ByteTextTest, TrimsOnlyTheBlanksAsked) {
  struct Row {
    std::string text;
    std::string blanks;  // "" for the default set
    std::string trimmed;
    std::string start;
    std::string end;
  };
  const Row rows[] = {
      {" \t\r\n\f\va b\v", "", "a b", "a b\v", " \t\r\n\f\va b"},
      {"\r\n a \t", " \t", "\r\n a", "\r\n a \t", "\r\n a"},
      {" \t ", "", "", "", ""},
      {"", "", "", "", ""},
  };
  for (const Row& row : rows) {
    const std::string_view blanks = row.blanks.empty() ? ByteText::kBlanks : std::string_view(row.blanks);
    EXPECT_EQ(ByteText::Trim(row.text, blanks), row.trimmed) << row.text;
    EXPECT_EQ(ByteText::TrimStart(row.text, blanks), row.start) << row.text;
    EXPECT_EQ(ByteText::TrimEnd(row.text, blanks), row.end) << row.text;
  }
}

TEST(ByteTextTest, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(ByteText::Lower("AbZ@[`\xC3\x84"), "abz@[`\xC3\x84");
  EXPECT_TRUE(ByteText::EqualsNoCase("Content-Type", "content-TYPE"));
  EXPECT_FALSE(ByteText::EqualsNoCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_FALSE(ByteText::EqualsNoCase("http", "https"));
  EXPECT_TRUE(ByteText::StartsWithNoCase("HTTP://h/", "http://"));
  EXPECT_FALSE(ByteText::StartsWithNoCase("http", "http://"));
  EXPECT_TRUE(ByteText::EndsWithNoCase("list.M3U", ".m3u"));
  EXPECT_FALSE(ByteText::EndsWithNoCase("m3u", ".m3u"));
}

TEST(ByteTextTest, CutsBeforeTheCharacterTheBoundSplits) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  struct Row {
    std::string text;
    size_t maxBytes;
    size_t cut;
  };
  const Row rows[] = {
      {"abc", 5, 3},
      {"ab" + euro, 5, 5},
      {"ab" + euro, 4, 2},
      {"ab" + euro, 3, 2},
      {"ab" + euro + "d", 5, 5},
      {std::string(6, '\x80'), 5, 2},  // no UTF-8: at most three bytes back
      {"\xE2\x82", 0, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ByteText::Utf8CutPoint(row.text, row.maxBytes), row.cut) << row.text << " / " << row.maxBytes;
    EXPECT_EQ(ByteText::CutAtUtf8Boundary(row.text, row.maxBytes), row.text.substr(0, row.cut));
  }
}

TEST(ByteTextTest, Utf16BecomesUtf8WithBrokenPairsReplaced) {
  struct Row {
    std::string bytes;
    bool bigEndian;
    std::string utf8;
  };
  const Row rows[] = {
      {std::string("a\0\xE9\0", 4), false, "a\xC3\xA9"},
      {std::string("\0a\x20\xAC", 4), true, "a\xE2\x82\xAC"},
      {std::string("\x3D\xD8\x35\xDE", 4), false, "\xF0\x9F\x98\xB5"},  // a surrogate pair
      {std::string("\x3D\xD8" "a\0", 4), false, "\xEF\xBF\xBD" "a"},     // a high surrogate alone
      {std::string("\x35\xDE", 2), false, "\xEF\xBF\xBD"},               // a low surrogate alone
      {std::string("a\0b", 3), false, "a"},                               // an odd last byte
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ByteText::Utf16ToUtf8(row.bytes, row.bigEndian), row.utf8);
  }
}

}  // namespace

#include "config/LineFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

// Each character of text as a UTF-16 code unit, after the byte-order mark.
std::string Utf16(const std::string& text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) {
    bytes += little ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return bytes;
}

// Names in dir other than the ones given.
std::vector<std::string> OtherEntries(const std::filesystem::path& dir, const std::string& expected) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename() != expected) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

class LineFileTest : public ::testing::Test {
 protected:
  Lines Read(const std::string& bytes) {
    WriteFileBytes(dir.Path() / "in.txt", bytes);
    EXPECT_TRUE(file.ReadLines(dir.File("in.txt")));
    return file.Lines();
  }

  TempDir dir;
  LineFile file;
};

TEST_F(LineFileTest, Utf16WithEitherMarkReadsLikeOneBytePerCharacter) {
  const std::string text = "[A]\r\nk=v\xE9\r\n";
  const Lines expected{"[A]", "k=v\xE9", ""};
  EXPECT_EQ(Read(text), expected);
  EXPECT_EQ(file.Encoding(), TextEncoding::Ansi);
  EXPECT_EQ(Read(Utf16(text, true)), expected);
  EXPECT_EQ(file.Encoding(), TextEncoding::Utf16LE);
  EXPECT_EQ(Read(Utf16(text, false)), expected);
  EXPECT_EQ(file.Encoding(), TextEncoding::Utf16BE);
}

TEST_F(LineFileTest, WideUtf16CharacterNeverBecomesLineBreakOrEquals) {
  // U+010A and U+013D have the low bytes of LF and "=".
  EXPECT_EQ(Read(std::string("\xFF\xFE" "a\0\x0A\x01" "b\0\x3D\x01" "c\0", 12)), (Lines{"a?b?c"}));
  // A surrogate pair is one character.
  EXPECT_EQ(Read(std::string("\xFE\xFF\0x\xD8\x3D\xDE\x00\0y", 10)), (Lines{"x?y"}));
}

TEST_F(LineFileTest, Utf8SignatureIsNotPartOfTheFirstLine) {
  EXPECT_EQ(Read("\xEF\xBB\xBF[Default]\nk=v"), (Lines{"[Default]", "k=v"}));
  EXPECT_EQ(file.Encoding(), TextEncoding::Utf8);
}

TEST_F(LineFileTest, CarriageReturnAloneEndsTheLineTextButDoesNotBreak) {
  EXPECT_EQ(Read("a=b\rc=d\n"), (Lines{"a=b", ""}));
  EXPECT_EQ(Read("one\r\ntwo\r\rthree"), (Lines{"one", "two\r"}));
}

TEST_F(LineFileTest, ShortOrMarkOnlyFilesGiveFewLines) {
  EXPECT_EQ(Read(""), Lines{});
  EXPECT_EQ(file.Encoding(), TextEncoding::Undetected);
  EXPECT_EQ(file.ByteCount(), 0);
  EXPECT_EQ(Read("x"), Lines{});
  EXPECT_EQ(Read("\xFF\xFE"), Lines{""});
  EXPECT_EQ(Read("\xEF\xBB\xBF"), Lines{""});
  // Odd length: the half code unit at the end gives no character.
  EXPECT_EQ(Read(std::string("\xFF\xFE" "a\0b", 5)), Lines{"a"});
  EXPECT_EQ(Read(std::string("\xFE\xFF\0ab", 5)), Lines{"a"});
}

TEST_F(LineFileTest, UnopenableFileLeavesObjectUnchanged) {
  Read("kept");
  const std::string before = file.Path();
  EXPECT_FALSE(file.ReadLines(dir.File("missing.txt")));
  EXPECT_FALSE(file.ReadLines(dir.Path().string()));  // a directory
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(file.ReadLines(dir.File("fifo")));  // must not block waiting for a writer
  EXPECT_EQ(file.Path(), before);
  EXPECT_EQ(file.Lines(), Lines{"kept"});
}

TEST_F(LineFileTest, FileLargerThanLimitIsNotRead) {
  const std::string big = dir.File("big.txt");
  WriteFileBytes(big, "");
  std::filesystem::resize_file(big, LineFile::kMaxFileSize + 1);  // sparse: costs no disk
  EXPECT_FALSE(file.ReadLines(big));
  EXPECT_EQ(file.ByteCount(), -1);
}

TEST_F(LineFileTest, HugeLineIsKeptWhole) {
  const std::string hugeLine(4 * 1024 * 1024, 'x');
  EXPECT_EQ(Read(hugeLine + "\n"), (Lines{hugeLine, ""}));
}

TEST_F(LineFileTest, SplitIntoCallerListLeavesLaterLinesInOwnList) {
  Lines outside;
  {
    Lines temporary;
    EXPECT_TRUE(file.SplitLines("a\nb", TextEncoding::Ansi, &temporary));
    EXPECT_EQ(temporary, (Lines{"a", "b"}));
  }
  file.PushLine("own\rcut");
  EXPECT_EQ(file.Lines(), Lines{"own"});
  EXPECT_FALSE(file.SplitLines(std::string_view(), TextEncoding::Ansi, &outside));
  EXPECT_FALSE(file.SplitLines("a", TextEncoding::Ansi, nullptr));
}

TEST_F(LineFileTest, WritesEachEncodingWithMarkAndCrLf) {
  const Lines lines{"k=\xE9", ""};
  const std::string out = dir.File("out.txt");
  ASSERT_TRUE(file.WriteLines(out, TextEncoding::Ansi, &lines));
  EXPECT_EQ(ReadFileBytes(out), "k=\xE9\r\n\r\n");
  EXPECT_EQ(file.Path(), out);
  ASSERT_TRUE(file.WriteLines(out, TextEncoding::Utf16LE, &lines));
  EXPECT_EQ(ReadFileBytes(out), Utf16("k=\xE9\r\n\r\n", true));
  ASSERT_TRUE(file.WriteLines(out, TextEncoding::Utf16BE, &lines));
  EXPECT_EQ(ReadFileBytes(out), Utf16("k=\xE9\r\n\r\n", false));
  ASSERT_TRUE(file.WriteLines(out, TextEncoding::Undetected, &lines));
  EXPECT_EQ(ReadFileBytes(out), "");
  EXPECT_TRUE(OtherEntries(dir.Path(), "out.txt").empty());
}

TEST_F(LineFileTest, FailedWriteLeavesOldFileIntactAndNoTemporaryFile) {
  const std::string out = dir.File("settings.ini");
  const std::string old = "[Default]\r\nBuffer=50000\r\n\r\n";
  WriteFileBytes(out, old);
  const Lines longer(100, std::string(100, 'k'));
  {
    // Writes beyond 1000 bytes fail with EFBIG, also for root.
    FileSizeLimit limit(1000);
    EXPECT_FALSE(file.WriteLines(out, TextEncoding::Ansi, &longer));
  }
  EXPECT_EQ(ReadFileBytes(out), old);
  EXPECT_TRUE(OtherEntries(dir.Path(), "settings.ini").empty());
  EXPECT_EQ(file.Path(), "");
}

TEST_F(LineFileTest, UncreatableTargetFailsWithoutTouchingAnything) {
  const Lines lines{"x"};
  EXPECT_FALSE(file.WriteLines(dir.File("missing/settings.ini"), TextEncoding::Ansi, &lines));
  EXPECT_FALSE(file.WriteLines("", TextEncoding::Ansi, &lines));
  std::filesystem::create_directory(dir.Path() / "sub");
  WriteFileBytes(dir.Path() / "sub" / "inner", "inner");
  EXPECT_FALSE(file.WriteLines(dir.File("sub"), TextEncoding::Ansi, &lines));
  EXPECT_EQ(ReadFileBytes(dir.Path() / "sub" / "inner"), "inner");
  EXPECT_TRUE(OtherEntries(dir.Path(), "sub").empty());
}

TEST_F(LineFileTest, ReplacingKeepsPermissionsAndWritesThroughSymbolicLink) {
  const Lines lines{"new"};
  const std::string real = dir.File("real.ini");
  WriteFileBytes(real, "old");
  ASSERT_EQ(chmod(real.c_str(), 0604), 0);
  const std::string link = dir.File("link.ini");
  std::filesystem::create_symlink(real, link);

  ASSERT_TRUE(file.WriteLines(link, TextEncoding::Ansi, &lines));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(real), "new\r\n");
  struct stat status {};
  ASSERT_EQ(stat(real.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
}

}  // namespace

namespace {

// The settings reader trims spaces and tabs one kind after the other, so a
// blank of the other kind stops the trim.
TEST(LineFileTrimTest, TrimCharStripsThatCharacterOnlyFromBothEnds) {
  struct Row {
    std::string text;
    char ch;
    std::string trimmed;
  };
  for (const Row& row : {Row{"  a b  ", ' ', "a b"}, Row{" \t a \t ", ' ', "\t a \t"}, Row{"\t\t", '\t', ""},
                         Row{"", ' ', ""}, Row{"xaxbx", 'x', "axb"}}) {
    std::string text = row.text;
    LineFile::TrimChar(text, row.ch);
    EXPECT_EQ(text, row.trimmed) << "'" << row.text << "' without '" << row.ch << "'";
  }
}

}  // namespace

#include "config/IniDocument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/TempDir.h"

namespace {

class IniDocumentTest : public ::testing::Test {
 protected:
  // Loads bytes as a file into doc.
  bool LoadText(const std::string& bytes) {
    WriteFileBytes(dir.Path() / "in.ini", bytes);
    return doc.Load(dir.File("in.ini"));
  }

  // What doc saves with Ansi.
  std::string Saved() {
    const std::string out = dir.File("out.ini");
    EXPECT_TRUE(doc.Save(out, TextEncoding::Ansi));
    return ReadFileBytes(out);
  }

  std::string Get(const std::string& name, const std::string& key) {
    std::string value = "<missing>";
    doc.GetString(name, key, value);
    return value;
  }

  TempDir dir;
  IniDocument doc;
};

TEST_F(IniDocumentTest, LineSyntaxFollowsTrimHeaderAndCommentRules) {
  ASSERT_TRUE(LoadText(
      "k=v\r\n"               // before any header: ignored
      "  [ A ]x\r\n"
      "[B\r\n"                // not a header, no "=": ignored
      " k = v = w \r\n"
      "k2 \t= v\r\n"
      "k3 =\t v\r\n"
      "\t k4=v\r\n"
      "// note=1\r\n"
      "   //x=y\r\n"
      "a//b=c\r\n"
      "; c\r\n"
      "#k=v\r\n"));
  ASSERT_EQ(doc.Sections().size(), 1u);
  const IniSection expected{{"k", "v = w"}, {"k2 ", "v"}, {"k3", " v"}, {"k4", "v"},
                            {"a//b", "c"},  {"#k", "v"}};
  ASSERT_NE(doc.FindSection(" A "), nullptr);
  EXPECT_EQ(*doc.FindSection(" A "), expected);
}

TEST_F(IniDocumentTest, RepeatedKeysAndHeadersMergeWithLastValueWinning) {
  ASSERT_TRUE(LoadText("[S]\na=1\nb=1\n[T]\nx=1\n[S]\na=2\n[Default]\nk=1\n[default]\nk=2\n"));
  EXPECT_EQ(Get("S", "a"), "2");
  EXPECT_EQ(Get("S", "b"), "1");
  EXPECT_EQ(Get("Default", "k"), "1");
  EXPECT_EQ(Get("default", "k"), "2");
  EXPECT_EQ(doc.Sections().size(), 4u);
}

TEST_F(IniDocumentTest, SavesByteForByteInOrdinalOrder) {
  doc.SetString("A", "k", "v");
  doc.AddSection("B");
  EXPECT_EQ(Saved(), "[A]\r\nk=v\r\n\r\n[B]\r\n\r\n");

  doc.Clear();
  for (const char* key : {"Server_2", "Server_10", "Server_0", "Server_1"}) {
    doc.SetString("Server", key, "u");
  }
  doc.SetString("b", "k", "1");
  doc.SetString("B", "k", "1");
  EXPECT_EQ(Saved(),
            "[B]\r\nk=1\r\n\r\n"
            "[Server]\r\nServer_0=u\r\nServer_1=u\r\nServer_10=u\r\nServer_2=u\r\n\r\n"
            "[b]\r\nk=1\r\n\r\n");
}

TEST_F(IniDocumentTest, CommentKeyIsWrittenAboveHeaderAndNotReadBack) {
  doc.SetString("A", "k", "v");
  doc.SetString("A", "//hello", "dropped");
  EXPECT_EQ(Saved(), "//hello\r\n[A]\r\nk=v\r\n\r\n");
  IniDocument reread;
  ASSERT_TRUE(reread.Load(dir.File("out.ini")));
  EXPECT_EQ(*reread.FindSection("A"), (IniSection{{"k", "v"}}));
}

TEST_F(IniDocumentTest, LineBreakInValueCannotInjectLines) {
  doc.SetString("Server", "Server_0", "http://a/\r\n[Default]\r\nBuffer=1");
  doc.SetString("Server", "Key\nx", "v");
  EXPECT_EQ(Saved(), "[Server]\r\nKey=v\r\nServer_0=http://a/\r\n\r\n");
}

TEST_F(IniDocumentTest, EmptyDocumentSavesEmptyFileAndAnEmptyOrTinyFileLoads) {
  EXPECT_EQ(Saved(), "");
  EXPECT_TRUE(LoadText(""));
  EXPECT_TRUE(LoadText("x"));
  EXPECT_TRUE(doc.Sections().empty());
}

TEST_F(IniDocumentTest, EncodedFilesLoadLikeAnsiAndSaveAsAnsi) {
  std::string utf16le = "\xFF\xFE";
  for (char c : std::string("[A]\r\nk=v\r\n")) {
    utf16le += c;
    utf16le += '\0';
  }
  ASSERT_TRUE(LoadText(utf16le));
  EXPECT_EQ(Saved(), "[A]\r\nk=v\r\n\r\n");

  // The signature must not hide the first header and the keys under it.
  doc.Clear();
  ASSERT_TRUE(LoadText("\xEF\xBB\xBF[Default]\r\nBuffer=64\r\n"));
  EXPECT_EQ(Get("Default", "Buffer"), "64");
}

TEST_F(IniDocumentTest, LoadAddsToExistingSectionsAndParsingDropsTheLines) {
  doc.SetString("Default", "Buffer", "50000");
  doc.SetString("Default", "DownloadDirectory", "/home");
  ASSERT_TRUE(LoadText("[Default]\nBuffer=100\n"));
  EXPECT_EQ(Get("Default", "Buffer"), "100");
  EXPECT_EQ(Get("Default", "DownloadDirectory"), "/home");
  EXPECT_EQ(doc.Path(), dir.File("in.ini"));
  EXPECT_TRUE(doc.Lines().empty());
  EXPECT_EQ(doc.Encoding(), TextEncoding::Undetected);

  EXPECT_FALSE(doc.Load(dir.File("missing.ini")));
  EXPECT_EQ(doc.Path(), dir.File("in.ini"));
  EXPECT_EQ(Get("Default", "Buffer"), "100");
}

TEST_F(IniDocumentTest, GetIntReadsLikeAtolAndLeavesOutputOnMissingKey) {
  ASSERT_TRUE(LoadText("[N]\na=12abc\nb=abc\nc= \t-7x\nd=+3\ne=\nf=99999999999\ng=-99999999999\n"));
  int32_t value = 42;
  EXPECT_FALSE(doc.GetInt("N", "missing", value));
  EXPECT_FALSE(doc.GetInt("Nope", "a", value));
  EXPECT_EQ(value, 42);
  const std::vector<std::pair<std::string, int32_t>> cases{
      {"a", 12}, {"b", 0}, {"c", -7}, {"d", 3}, {"e", 0}, {"f", INT32_MAX}, {"g", INT32_MIN}};
  for (const auto& [key, expected] : cases) {
    EXPECT_TRUE(doc.GetInt("N", key, value)) << key;
    EXPECT_EQ(value, expected) << key;
  }
  doc.SetInt("N", "s", -5);
  EXPECT_EQ(Get("N", "s"), "-5");
}

TEST_F(IniDocumentTest, MergeFromReplacesValuesAndSkipsEmptySections) {
  doc.SetString("Default", "Buffer", "50000");
  doc.SetString("Default", "Own", "1");
  IniDocument other;
  other.SetString("Default", "Buffer", "100");
  other.SetString("Extra", "k", "v");
  other.AddSection("Empty");
  doc.MergeFrom(other);
  EXPECT_EQ(Get("Default", "Buffer"), "100");
  EXPECT_EQ(Get("Default", "Own"), "1");
  EXPECT_EQ(Get("Extra", "k"), "v");
  EXPECT_EQ(doc.FindSection("Empty"), nullptr);

  doc.MergeFrom(doc);
  EXPECT_EQ(doc.Sections().size(), 2u);
}

TEST_F(IniDocumentTest, CopySectionRenamesAndToleratesMissingOrSelfCopies) {
  IniDocument source;
  source.SetString("Default", "Buffer", "1");
  source.SetString("Default", "Extra", "x");
  doc.CopySection(source, "Default", "");
  doc.CopySection(source, "Default", "Backup");
  doc.CopySection(source, "Missing", "Other");
  EXPECT_EQ(*doc.FindSection("Default"), *source.FindSection("Default"));
  EXPECT_EQ(*doc.FindSection("Backup"), *source.FindSection("Default"));
  EXPECT_EQ(doc.FindSection("Other"), nullptr);

  doc.CopySection(doc, "Default", "");
  doc.CopySection(doc, "Default", "Third");
  EXPECT_EQ(*doc.FindSection("Third"), *source.FindSection("Default"));
}

TEST_F(IniDocumentTest, PathBesideExecutableTakesDirectoryOfQuotedPath) {
  EXPECT_EQ(IniDocument::PathBesideExecutable("\"/opt/dh/driftharbour\" --min", "Driftharbour.ini"),
            "/opt/dh/Driftharbour.ini");
  EXPECT_EQ(IniDocument::PathBesideExecutable("\"/opt//dh///driftharbour\"", "Driftharbour.ini"),
            "/opt/dh/Driftharbour.ini");
  EXPECT_EQ(IniDocument::PathBesideExecutable("/opt/dh/driftharbour", "Driftharbour.ini"), "/Driftharbour.ini");
  EXPECT_EQ(IniDocument::PathBesideExecutable("\"driftharbour\"", "Driftharbour.ini"), "/Driftharbour.ini");
  EXPECT_EQ(IniDocument::PathBesideExecutable("\"/opt/dh/driftharbour", "Driftharbour.ini"), "/Driftharbour.ini");
}

TEST_F(IniDocumentTest, LoadBesideExecutableReportsPathEvenWhenFileIsMissing) {
  const std::string commandLine = "\"" + dir.File("driftharbour") + "\" args";
  std::string derived;
  EXPECT_FALSE(doc.LoadBesideExecutable(commandLine, "Driftharbour.ini", &derived));
  EXPECT_EQ(derived, dir.File("Driftharbour.ini"));

  WriteFileBytes(dir.Path() / "Driftharbour.ini", "[Default]\nBuffer=7\n");
  EXPECT_TRUE(doc.LoadBesideExecutable(commandLine, "Driftharbour.ini"));
  EXPECT_EQ(Get("Default", "Buffer"), "7");
}

TEST_F(IniDocumentTest, FailedSaveForgetsPathAndKeepsOldFile) {
  doc.SetString("Default", "Buffer", "1");
  const std::string target = dir.File("target");
  std::filesystem::create_directory(target);
  EXPECT_FALSE(doc.Save(target, TextEncoding::Ansi));
  EXPECT_EQ(doc.Path(), "");
  EXPECT_TRUE(std::filesystem::is_directory(target));
  EXPECT_FALSE(doc.Save(dir.File("missing/Driftharbour.ini"), TextEncoding::Ansi));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(IniDocumentTest, MalformedFilesNeverCrash) {
  std::mt19937 random(99);
  const std::string alphabet = "[]=/ \t\r\n\xFF\xFE\xEF\xBB\xBF" "ab";
  for (int round = 0; round < 200; ++round) {
    // Every kind of byte-order mark, odd lengths, stray brackets and breaks.
    std::string bytes = std::string("\xFF\xFE\xFE\xFF\xEF\xBB\xBF").substr(random() % 7);
    const size_t length = random() % 400;
    for (size_t i = 0; i < length; ++i) {
      bytes += random() % 4 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    }
    IniDocument fresh;
    WriteFileBytes(dir.Path() / "fuzz.ini", bytes);
    EXPECT_TRUE(fresh.Load(dir.File("fuzz.ini")));
    EXPECT_TRUE(fresh.Save(dir.File("fuzz.out"), TextEncoding::Ansi));
  }
}

}  // namespace

#include "app/SettingsStore.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "recording/RecordingWriter.h"
#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"
#include "app/ServerRowPresenter.h"
#include "app/MemoryListControl.h"

namespace {

using namespace std::string_literals;

// Streams started here connect (and fail) for real.
struct CurlEnvironment : ::testing::Environment {
  void SetUp() override { curl_global_init(CURL_GLOBAL_DEFAULT); }
  void TearDown() override { curl_global_cleanup(); }
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

// Nothing listens on this loopback port, so a started stream keeps retrying.
const std::string kUnreachable = "http://127.0.0.1:9/";

class SettingsStoreTest : public ::testing::Test {
 protected:
  // A fresh store over the settings file, as at a start of the window.
  SettingsStore& Start() {
    store = std::make_unique<SettingsStore>();
    list = std::make_unique<MemoryListControl>();
    EXPECT_TRUE(store->LoadSettings(list.get(), path));
    return *store;
  }
  std::string File() const { return ReadFileBytes(path); }
  std::string Url(int row) const { return store->RowAt(row) ? store->RowAt(row)->Url() : "<none>"; }

  TempDir dir;
  const std::string path = dir.File("Driftharbour.ini");
  const std::string cwd = std::filesystem::current_path().string();
  // The store goes before the list it writes to.
  std::unique_ptr<MemoryListControl> list;
  std::unique_ptr<SettingsStore> store;
};

TEST_F(SettingsStoreTest, FirstStartWritesNothingAndSaveCreatesTheFile) {
  Start();
  EXPECT_FALSE(store->FileRead());
  EXPECT_EQ(store->EntryCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(path));

  ASSERT_TRUE(store->SaveServerList());
  const std::string defaults = "[Default]\r\nBuffer=50000\r\nDownloadDirectory=" + cwd + "\r\n\r\n";
  EXPECT_EQ(File(), defaults);

  // A new entry cuts at silence and keeps partial songs apart; only those
  // options are written.
  ASSERT_TRUE(store->AddServer("http://a/", "", true, false));
  ASSERT_TRUE(store->SaveServerList());
  EXPECT_EQ(File(), defaults + "[Server]\r\nCutAtSilence_0=1\r\nDownload_0=" + cwd +
                        "\r\nFileSplitting_0=1\r\nKeepPartialApart_0=1\r\nServer_0=http://a/\r\n"
                        "SmartSplitting_0=0\r\n\r\n");
}

TEST_F(SettingsStoreTest, GapEndsTheListAndLaterEntriesLastUntilTheNextSave) {
  WriteFileBytes(path, "// mine\r\n[Server]\r\nServer_3=d\r\nServer_1=b\r\nServer_0=a\r\n[server]\r\nk=v\r\n");
  Start();
  EXPECT_EQ(store->EntryCount(), 2);
  EXPECT_EQ(Url(0) + Url(1), "ab");
  // The start-up rewrite sorts, drops the comment and keeps what it does not use.
  const std::string rewritten = File();
  EXPECT_EQ(rewritten.find("// mine"), std::string::npos);
  EXPECT_NE(rewritten.find("Server_3=d"), std::string::npos);
  EXPECT_NE(rewritten.find("[server]\r\nk=v"), std::string::npos);
  EXPECT_LT(rewritten.find("[Default]"), rewritten.find("[Server]"));

  ASSERT_TRUE(store->SaveServerList());
  EXPECT_EQ(File().find("Server_3"), std::string::npos);
  EXPECT_EQ(File().find("[server]"), std::string::npos);
}

TEST_F(SettingsStoreTest, SwitchIsOnOnlyWhenItReadsAsOneOrIsMissing) {
  WriteFileBytes(path,
                 "[Server]\nServer_0=a\nServer_1=b\nServer_2=c\nServer_3=d\nServer_4=e\n"
                 "FileSplitting_0=2\nFileSplitting_1=yes\nFileSplitting_2=0\nFileSplitting_4= 1\n"
                 "SmartSplitting_0=0\nSmartSplitting_1=2\nSmartSplitting_2=yes\nSmartSplitting_4=1x\n");
  Start();
  ASSERT_EQ(store->EntryCount(), 5);
  const bool expected[5] = {false, false, false, true, true};
  for (int row = 0; row < 5; ++row) {
    const ServerRowPresenter* entry = store->RowAt(row);
    EXPECT_EQ(entry->FileSplitting(), expected[row]) << row;
    EXPECT_EQ(entry->SmartSplitting(), expected[row]) << row;
    EXPECT_EQ(entry->Writer()->FileSplitting(), expected[row]) << row;
    EXPECT_EQ(entry->Writer()->SmartSplitting(), expected[row]) << row;
  }
}

TEST_F(SettingsStoreTest, UnusableBufferGivesTheDefaultReadSize) {
  for (const auto& [value, readSize] : std::vector<std::pair<std::string, int32_t>>{
           {"0", 50000}, {"-1", 50000}, {"abc", 50000}, {"", 50000}, {"64k", 64}, {"99999999999", INT32_MAX}}) {
    WriteFileBytes(path, "[Default]\nBuffer=" + value + "\n[Server]\nServer_0=a\n");
    Start();
    ASSERT_NE(store->StreamAt(0), nullptr);
    EXPECT_EQ(store->StreamAt(0)->ReadSize(), readSize) << value;
    // The odd value itself is kept, not "repaired".
    EXPECT_NE(File().find("Buffer=" + value + "\r\n"), std::string::npos) << value;
  }
}

TEST_F(SettingsStoreTest, DefaultsKeysAndDirectoriesSurviveBothRewrites) {
  WriteFileBytes(path,
                 "[Default]\nDownloadDirectory=/music\nMine=keep\n"
                 "[Server]\nServer_0=a\nDownload_0=\nServer_1=b\nDownload_1=/b\n");
  Start();
  EXPECT_EQ(store->RowAt(0)->DownloadDirectory(), "/music");
  EXPECT_EQ(store->RowAt(0)->Writer()->Directory(), "/music");
  EXPECT_EQ(store->RowAt(1)->Writer()->Directory(), "/b");
  EXPECT_NE(File().find("Buffer=50000\r\nDownloadDirectory=/music\r\nMine=keep\r\n"), std::string::npos);

  ASSERT_TRUE(store->SaveServerList());
  EXPECT_NE(File().find("Mine=keep"), std::string::npos);
  // The substituted default is written explicitly from now on.
  EXPECT_NE(File().find("Download_0=/music\r\nDownload_1=/b\r\n"), std::string::npos);
}

TEST_F(SettingsStoreTest, ElevenEntriesComeBackInListOrder) {
  Start();
  for (int i = 0; i <= 10; ++i) {
    ASSERT_TRUE(store->AddServer("u" + std::to_string(i), "", true, true));
  }
  ASSERT_TRUE(store->SaveServerList());
  const std::string file = File();
  EXPECT_LT(file.find("Server_1=u1"), file.find("Server_10=u10"));
  EXPECT_LT(file.find("Server_10=u10"), file.find("Server_2=u2"));

  Start();
  ASSERT_EQ(store->EntryCount(), 11);
  for (int i = 0; i <= 10; ++i) {
    EXPECT_EQ(Url(i), "u" + std::to_string(i));
  }
}

TEST_F(SettingsStoreTest, RemovingARunningEntryIsPromptAndRenumbersTheRowsBelow) {
  Start();
  for (const char* name : {"a", "b", "c", "d"}) {
    ASSERT_TRUE(store->AddServer(kUnreachable + name, "", true, true));
  }
  store->ToggleRow(1);
  ASSERT_FALSE(store->StreamAt(1)->IsStopped());

  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(store->RemoveRow(1));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  {
    // What the window does next: delete the row from the list.
    std::lock_guard lock(list->mutex);
    list->rows.erase(list->rows.begin() + 1);
  }
  EXPECT_EQ(store->EntryCount(), 3);
  EXPECT_EQ(Url(0) + Url(1) + Url(2), kUnreachable + "a" + kUnreachable + "c" + kUnreachable + "d");
  EXPECT_EQ(store->RowAt(3), nullptr);
  EXPECT_FALSE(store->RemoveRow(3));
  EXPECT_FALSE(store->RemoveRow(-1));

  // The row that moved up is addressed by its new number.
  store->ToggleRow(1);
  EXPECT_FALSE(store->StreamAt(1)->IsStopped());
  EXPECT_EQ(store->StreamAt(1)->Url(), kUnreachable + "c");
  EXPECT_TRUE(store->StreamAt(0)->IsStopped());
  ASSERT_TRUE(store->SaveServerList());
  EXPECT_NE(File().find("Server_1=" + kUnreachable + "c\r\nServer_2=" + kUnreachable + "d\r\n"), std::string::npos);
  // Destroying the store with a stream still retrying stops it.
}

TEST_F(SettingsStoreTest, EntrySettingsReachTheWriterOnlyWhileStopped) {
  Start();
  ASSERT_TRUE(store->AddServer(kUnreachable, "/old", true, true));
  ASSERT_TRUE(store->SetEntryDirectory(0, "/new"));
  ASSERT_TRUE(store->SetEntryFileSplitting(0, false));
  ASSERT_TRUE(store->SetEntrySmartSplitting(0, false));
  RecordingWriter* writer = store->RowAt(0)->Writer();
  EXPECT_EQ(writer->Directory(), "/new");
  EXPECT_FALSE(writer->FileSplitting());
  EXPECT_FALSE(writer->SmartSplitting());

  store->ToggleRow(0);
  EXPECT_FALSE(store->SetEntryDirectory(0, "/running"));
  EXPECT_FALSE(store->SetEntryFileSplitting(0, true));
  EXPECT_EQ(store->RowAt(0)->DownloadDirectory(), "/new");
  EXPECT_FALSE(writer->FileSplitting());
  EXPECT_FALSE(store->SetEntryDirectory(5, "/nowhere"));
}

TEST_F(SettingsStoreTest, FailedSaveReportsFalseAndKeepsTheOldFile) {
  WriteFileBytes(path, "[Server]\nServer_0=a\n");
  Start();
  const std::string old = File();
  for (int i = 0; i < 20; ++i) {
    store->AddServer("http://a-rather-long-server-name.example/" + std::to_string(i), "", true, true);
  }
  {
    FileSizeLimit limit(old.size() + 10);
    EXPECT_FALSE(store->SaveServerList());
  }
  EXPECT_EQ(File(), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  // Without a settings path (no LoadSettings) there is nowhere to save.
  EXPECT_FALSE(SettingsStore().SaveServerList());
}

TEST_F(SettingsStoreTest, UnusableInputsAddNothingAndNeverCrash) {
  SettingsStore unloaded;
  EXPECT_FALSE(unloaded.AddServer("a", "", true, true));
  EXPECT_FALSE(unloaded.LoadSettings(nullptr, path));

  // Garbage around one usable line; a read-only load leaves the file alone.
  const std::string garbage = "\x01\xff[Server\n=\n[]\n[Server]\nServer_0=ok\n\0\x80=\x81"s;
  WriteFileBytes(path, garbage);
  MemoryListControl readOnlyList;
  SettingsStore readOnly;
  ASSERT_TRUE(readOnly.LoadSettings(&readOnlyList, path, SettingsStore::FileUse::ReadOnly));
  EXPECT_EQ(readOnly.EntryCount(), 1);
  EXPECT_EQ(File(), garbage);

  // A row the list refuses makes no entry.
  Start();
  list->failInsert = true;
  EXPECT_FALSE(store->AddServer("b", "", true, true));
  EXPECT_EQ(store->EntryCount(), 1);
}

}  // namespace

namespace {

// UTF-16 little-endian bytes with a byte-order mark, from UTF-16 code units.
std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST_F(SettingsStoreTest, DirectoriesReachTheFileSystemInUtf8WhileTheFileKeepsItsBytes) {
  const std::string root = dir.Path().string();
  std::u16string text = u"[Default]\r\nDownloadDirectory=";
  text += std::u16string(root.begin(), root.end()) + u"/M\u00F9sic\r\n[Server]\r\nServer_0=http://a/\r\nDownload_0=";
  text += std::u16string(root.begin(), root.end()) + u"/\u97F3\u697D\r\nServer_1=http://b/\r\n";
  WriteFileBytes(path, Utf16File(text));
  Start();
  ASSERT_EQ(store->EntryCount(), 2);
  // The writers record into the characters the file holds...
  EXPECT_EQ(store->RowAt(0)->Writer()->Directory(), root + "/\xE9\x9F\xB3\xE6\xA5\xBD");
  EXPECT_EQ(store->RowAt(1)->Writer()->Directory(), root + "/M\xC3\xB9sic");
  // ...while the entries keep, and the file gets, the one-byte form.
  EXPECT_EQ(store->RowAt(0)->DownloadDirectory(), root + "/??");
  EXPECT_EQ(store->RowAt(1)->DownloadDirectory(), root + "/M\xF9sic");
  EXPECT_NE(File().find("M\xF9sic"), std::string::npos);

  // A one-byte (Windows-1252) directory becomes UTF-8 when the writer
  // creates it.
  RecordingWriter* writer = store->RowAt(1)->Writer();
  writer->SetDirectory(root + "/Caf\xE9");
  writer->OnText(StreamEvent::Title, "Song");
  const StreamBuffer audio("abc", 3);
  writer->OnAudio(audio);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Caf\xC3\xA9" / "Song.mp3"), "abc");
}

}  // namespace

namespace {

TEST_F(SettingsStoreTest, SyncIntervalIsReadWherePresentAndNeverAddedWhereMissing) {
  for (const auto& [line, expected] : {std::pair<std::string, int32_t>{"SyncInterval=3\r\n", 3},
                                       {"SyncInterval=0\r\n", 0},
                                       {"", RecordingWriter::kDefaultSyncIntervalSeconds}}) {
    WriteFileBytes(path, "[Default]\r\nBuffer=50000\r\n" + line + "[Server]\r\nServer_0=http://a/\r\n");
    Start();
    ASSERT_EQ(store->EntryCount(), 1) << line;
    EXPECT_EQ(store->RowAt(0)->Writer()->SyncInterval(), expected) << line;
    EXPECT_EQ(File().find("SyncInterval") != std::string::npos, !line.empty()) << File();
  }
}

}  // namespace

namespace {

TEST_F(SettingsStoreTest, RecordingOptionsAreOffForStoredEntriesOnForNewOnesAndOnlyWrittenWhereSet) {
  const std::string old = "[Default]\r\nBuffer=50000\r\nDownloadDirectory=" + cwd +
                          "\r\n\r\n[Server]\r\nDownload_0=" + cwd + "\r\nFileSplitting_0=1\r\nServer_0=http://a/\r\n"
                          "SmartSplitting_0=1\r\n\r\n";
  WriteFileBytes(path, old);
  Start();
  EXPECT_EQ(store->RowAt(0)->Options(), RecordingOptions{});
  EXPECT_EQ(store->RowAt(0)->Writer()->Options(), RecordingOptions{});
  ASSERT_TRUE(store->SaveServerList());
  EXPECT_EQ(File(), old);  // a file from before saves unchanged

  ASSERT_TRUE(store->AddServer("http://b/", "", true, true));
  RecordingOptions custom = RecordingOptions::ForNewEntries();
  custom.tags = true;
  custom.searchAfterMs = 8000;
  custom.learnTitleLag = false;  // a window of its own is used as it is
  ASSERT_TRUE(store->SetEntryOptions(1, custom));
  ASSERT_TRUE(store->SaveServerList());
  Start();
  EXPECT_EQ(store->RowAt(0)->Options(), RecordingOptions{});
  EXPECT_EQ(store->RowAt(1)->Options(), custom);
  EXPECT_NE(File().find("CutAtSilence_1=1\r\n"), std::string::npos) << File();
  EXPECT_EQ(File().find("CutAtSilence_0"), std::string::npos) << File();

  // Only while stopped, as the other switches.
  store->ToggleRow(1);
  EXPECT_FALSE(store->SetEntryOptions(1, RecordingOptions{}));
  store->ToggleRow(1);
}

}  // namespace

namespace {

TEST_F(SettingsStoreTest, DirectoryUrlIsReadWherePresentAndNeverAddedWhereMissing) {
  for (const auto& [line, expected] : {std::pair<std::string, std::string>{"DirectoryUrl= http://127.0.0.1:8080/ \r\n",
                                                                           "http://127.0.0.1:8080/"},
                                       {"", ""}}) {
    WriteFileBytes(path, "[Default]\r\nBuffer=50000\r\n" + line + "[Server]\r\nServer_0=http://a/\r\n");
    Start();
    EXPECT_EQ(store->DirectoryUrl(), expected) << line;
    ASSERT_TRUE(store->SaveServerList());
    const std::string saved = File();
    Start();
    ASSERT_TRUE(store->SaveServerList());
    EXPECT_EQ(File(), saved) << line;
    EXPECT_EQ(File().find("DirectoryUrl=" + expected + "\r\n") != std::string::npos, !line.empty()) << File();
    EXPECT_EQ(File().find("DirectoryUrl") != std::string::npos, !line.empty()) << File();
  }
}

}  // namespace

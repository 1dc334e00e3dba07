// Where the recorder's lines go: terminal, plain, journal.
#include "cli/ConsoleOutput.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

// A FILE* whose bytes can be read back.
class Captured {
 public:
  Captured() : file(std::tmpfile()) {}
  ~Captured() { std::fclose(file); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;

  std::FILE* Get() const { return file; }
  std::string Text() const {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
      text += static_cast<char>(c);
    }
    return text;
  }

 private:
  std::FILE* const file;
};

const std::vector<LogLine> kLines = {{LogLevel::Info, "[1] u: Connected"},
                                     {LogLevel::Warning, "[2] v: Error on connecting: refused; retrying every second"},
                                     {LogLevel::Error, "[3] w: cannot record to /x: Permission denied"}};

TEST(ConsoleOutputTest, EachPlaceGetsItsOwnFormAndQuietKeepsOnlyFileErrors) {
  using Mode = ConsoleOutput::Mode;
  struct Row {
    Mode mode;
    bool quiet;
    std::string out;
    std::string err;
  };
  const std::string plain = "[1] u: Connected\n[2] v: Error on connecting: refused; retrying every second\n"
                            "[3] w: cannot record to /x: Permission denied\n";
  for (const Row& row : {Row{Mode::Plain, false, plain + "[1] progress\nreloaded\n", "driftharbour-record: gone\n"},
                         Row{Mode::Journal, false,
                             "<6>[1] u: Connected\n<4>[2] v: Error on connecting: refused; retrying every second\n"
                             "<3>[3] w: cannot record to /x: Permission denied\n<5>reloaded\n",
                             "<3>driftharbour-record: gone\n"},
                         Row{Mode::Terminal, false,
                             plain + "[1] progress\x1b[K\n\x1b[1A\x1b[Jreloaded\n", "driftharbour-record: gone\n"},
                         Row{Mode::Plain, true, "",
                             "[3] w: cannot record to /x: Permission denied\ndriftharbour-record: gone\n"}}) {
    Captured out;
    Captured err;
    ConsoleOutput console(out.Get(), err.Get(), row.mode, row.mode == Mode::Journal, row.quiet);
    const size_t wanted = console.ProgressWanted(true);
    console.Show(kLines, wanted > 0 ? std::vector<std::string>{"[1] progress"} : std::vector<std::string>{}, 1);
    console.Say(LogLevel::Notice, "reloaded");
    console.Say(LogLevel::Error, "gone");
    EXPECT_EQ(out.Text(), row.out) << static_cast<int>(row.mode) << (row.quiet ? " quiet" : "");
    EXPECT_EQ(err.Text(), row.err) << static_cast<int>(row.mode) << (row.quiet ? " quiet" : "");
  }
}

TEST(ConsoleOutputTest, OnlyTheVeryStreamJournalStreamNamesIsTheJournal) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "log", "");
  std::FILE* file = std::fopen(dir.File("log").c_str(), "a");
  ASSERT_NE(file, nullptr);
  struct stat status {};
  ASSERT_EQ(fstat(fileno(file), &status), 0);
  const std::string device = std::to_string(status.st_dev);
  const std::string inode = std::to_string(status.st_ino);
  for (const auto& [value, journal] : std::vector<std::pair<std::string, bool>>{
           {device + ":" + inode, true},
           {device + ":" + std::to_string(status.st_ino + 1), false},
           {device + ":" + inode + "x", false},
           {inode, false},
           {"", false}}) {
    EXPECT_EQ(ConsoleOutput::IsJournalStream(value.c_str(), fileno(file)), journal) << value;
  }
  EXPECT_FALSE(ConsoleOutput::IsJournalStream(nullptr, fileno(file)));
  std::fclose(file);
}

}  // namespace

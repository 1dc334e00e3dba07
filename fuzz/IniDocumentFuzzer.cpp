// libFuzzer target: the INI reader fed arbitrary files. Loading never fails
// or crashes, and what is saved loads back into the same sections.
//
// Some things a file can hold have no written form, since the writer does
// not quote: a bare CR inside a line is read as part of a name, key or
// value, but the writer stores each only up to its first line break; a key
// or value that keeps a space or tab at its edge (the reader trims spaces,
// then tabs, so "\t x" leaves " x") loses it on the next read; and a key
// that only blanks kept from the line's start, one beginning "[" with a "]"
// later in its line or beginning "//", is written as a section header or a
// comment. Each save and load strips one more layer of such blanks
// (" \t \t" takes several), so for these documents every save and load that
// changes the document must shrink it, until it saves and loads unchanged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "config/IniDocument.h"

namespace {

// A directory of this process's own, for the files each input needs; a
// plain array, so that it is still there when the exit handler removes the
// directory. Memory-backed where possible: Save syncs every file it writes.
char workDirectory[] = "/dev/shm/driftharbour-ini-fuzz-XXXXXX";

std::string WorkDirectory() {
  static const bool made = [] {
    if (::mkdtemp(workDirectory) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(workDirectory, ignored);
    });
    return true;
  }();
  (void)made;
  return workDirectory;
}

bool EdgeBlank(const std::string& text) {
  return !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                           text.back() == '\t');
}

// Whether every name, key and value has a written form that reads back.
bool Storable(const IniDocument& document) {
  for (const auto& [name, section] : document.Sections()) {
    if (name.find('\r') != std::string::npos) {
      return false;
    }
    for (const auto& [key, value] : section) {
      const bool readAsHeader =
          key.starts_with('[') && (key.find(']') != std::string::npos || value.find(']') != std::string::npos);
      if (key.find('\r') != std::string::npos || value.find('\r') != std::string::npos || EdgeBlank(key) ||
          EdgeBlank(value) || readAsHeader || key.starts_with("//")) {
        return false;
      }
    }
  }
  return true;
}

// Bytes of all names, keys and values.
size_t Weight(const IniDocument& document) {
  size_t weight = 0;
  for (const auto& [name, section] : document.Sections()) {
    weight += name.size();
    for (const auto& [key, value] : section) {
      weight += key.size() + value.size();
    }
  }
  return weight;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "INI round trip broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = WorkDirectory() + "/input.ini";
  const std::string saved = WorkDirectory() + "/saved.ini";
  std::FILE* file = std::fopen(input.c_str(), "wb");
  Check(file != nullptr, "cannot write the input file");
  if (size > 0) {
    std::fwrite(data, 1, size, file);
  }
  std::fclose(file);

  IniDocument loaded;
  Check(loaded.Load(input), "an existing file failed to load");
  Check(loaded.Save(saved, TextEncoding::Ansi), "save failed");
  auto current = std::make_unique<IniDocument>();
  Check(current->Load(saved), "the saved file failed to load");
  if (Storable(loaded)) {
    Check(current->Sections() == loaded.Sections(), "sections differ after save and load");
    return 0;
  }
  // Every round that changes the document must shrink it, so the loop ends.
  for (;;) {
    Check(current->Save(saved, TextEncoding::Ansi), "save failed");
    auto next = std::make_unique<IniDocument>();
    Check(next->Load(saved), "the saved file failed to load");
    if (next->Sections() == current->Sections()) {
      break;
    }
    Check(Weight(*next) < Weight(*current), "a saved document grows when saved again");
    current = std::move(next);
  }
  return 0;
}

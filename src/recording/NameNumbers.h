#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/Mutex.h"

// The next "(n)" worth trying for a recording's name, per directory and
// name, so that the 10,000th file of one title costs what the second did
// instead of 10,000 looks at the disk. A number is only a hint: the name is
// still claimed exclusively (RecordingName::ClaimFreePath), and a clash falls
// back to looking.
//
// Only names that needed a number are remembered, and at most
// kMaxRemembered of them; past that the memory starts over (the cost of a
// forgotten name is one search from "(1)", as without any memory). A
// numbered file deleted behind the program's back frees its number for the
// next start of the program, not for this one; the plain name is always
// tried first, so it is taken again at once.
//
// Threads: any. `mutex` guards the table; every caller takes it for one
// lookup or store, never across a system call.
class NameNumbers {
 public:
  static constexpr size_t kMaxRemembered = 4096;

  // The one memory the program's writers share.
  static NameNumbers& Shared();

  NameNumbers() = default;
  NameNumbers(const NameNumbers&) = delete;
  NameNumbers& operator=(const NameNumbers&) = delete;

  // The number to try first for key (the numbered name's base and
  // extension): 1 when nothing is remembered.
  uint64_t Next(const std::string& key) const EXCLUDES(mutex);
  // Numbers below next are taken; a smaller next than the one remembered
  // (another writer went further meanwhile) is ignored.
  void Remember(const std::string& key, uint64_t next) EXCLUDES(mutex);
  size_t Size() const EXCLUDES(mutex);

 private:
  mutable Mutex mutex;
  std::unordered_map<std::string, uint64_t> next GUARDED_BY(mutex);
};

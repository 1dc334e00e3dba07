#pragma once

#include <set>
#include <string>

// The names --settings entries go by in the console lines ("[3f09a1c2]")
// and in the metrics' entry label: derived from what an entry records, its
// URL and download directory, so that a reload which only renumbers the
// list (an entry added above, one removed) leaves every name, and so every
// metrics series, as it was. No settings key holds them; a settings file
// needs nothing new.
//
// An id is the 64-bit FNV-1a hash of the URL, a NUL byte and the directory,
// folded to 32 bits and written as 8 lowercase hex digits. Entries that
// record the same URL into the same directory (or, far more rarely, whose
// hashes meet) are told apart by "-2", "-3", ... in the order they were
// taken; an id stays taken until released, so a running entry keeps its
// name whatever comes and goes around it.
//
// No lock: one thread (the recorder's main thread) uses an instance.
class EntryIds {
 public:
  // The id before any suffix.
  static std::string Of(const std::string& url, const std::string& directory);

  // The first free id of Of(url, directory), "-2", "-3", ...; taken until
  // Release.
  std::string Take(const std::string& url, const std::string& directory);
  void Release(const std::string& id);

 private:
  std::set<std::string> taken;
};

#include "cli/EntryIds.h"

#include <cstdint>
#include <cstdio>

#include "base/Fnv1a.h"

std::string EntryIds::Of(const std::string& url, const std::string& directory) {
  // The NUL keeps ("ab", "c") and ("a", "bc") apart.
  const uint64_t hash = Fnv1a(directory, Fnv1a(std::string_view("\0", 1), Fnv1a(url)));
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>((hash ^ (hash >> 32)) & 0xFFFFFFFFu));
  return text;
}

std::string EntryIds::Take(const std::string& url, const std::string& directory) {
  const std::string base = Of(url, directory);
  std::string id = base;
  for (int suffix = 2; taken.count(id) != 0; ++suffix) {
    id = base + "-" + std::to_string(suffix);
  }
  taken.insert(id);
  return id;
}

void EntryIds::Release(const std::string& id) { taken.erase(id); }

#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

// Keeps the station directory's answers on disk, so that the same search
// within the hour (and the server list within the day) costs the directory
// nothing: one file per key in the cache directory
// ($XDG_CACHE_HOME/driftharbour/, by default ~/.cache/driftharbour/), named
// after a hash of the key, holding the time it was fetched, the key itself
// (so that two keys of one hash never mix) and the answer as it came.
//
// The cache is a help, never a condition: a directory that cannot be
// created, a file that cannot be read or written, a damaged file, or one
// from the future, all read as "not cached", and writes fail silently. A
// cache with an empty directory keeps nothing.
//
// Stateless apart from its directory. Reads from any thread; writes of one
// key from one thread of a process at a time (the temporary file is named
// after the process). Several processes may share one directory: a file is
// replaced by a rename, so a reader sees the old answer or the new one,
// never half of one.
class DirectoryCache {
 public:
  using Clock = std::chrono::system_clock;

  explicit DirectoryCache(std::filesystem::path directory);

  // $XDG_CACHE_HOME/driftharbour when that variable holds an absolute
  // path, else $HOME/.cache/driftharbour; empty when neither is known.
  // Reads the environment: call it before other threads could change it.
  static std::filesystem::path DefaultDirectory();

  // The answer stored for key when it was fetched at most maxAge before now.
  std::optional<std::string> Read(const std::string& key, std::chrono::seconds maxAge, Clock::time_point now) const;
  // Stores answer for key as fetched at now.
  void Write(const std::string& key, const std::string& answer, Clock::time_point now) const;

  const std::filesystem::path& Directory() const { return directory; }
  // The file that holds key's answer.
  std::filesystem::path FileFor(const std::string& key) const;

 private:
  const std::filesystem::path directory;
};

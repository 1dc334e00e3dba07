#include "directory/DirectoryCache.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <system_error>

namespace {

// The first line of every cache file: the format and the fetch time in
// seconds since the epoch. The key follows on the second line.
constexpr const char* kMagic = "driftharbour-directory-cache 1 ";
// A clock may step back a little (NTP); a file from further in the future
// than this is not trusted.
constexpr std::chrono::seconds kClockSlack{300};

}  // namespace

DirectoryCache::DirectoryCache(std::filesystem::path directory) : directory(std::move(directory)) {}

std::filesystem::path DirectoryCache::DefaultDirectory() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, before the workers start
  if (const char* cacheHome = std::getenv("XDG_CACHE_HOME"); cacheHome != nullptr && cacheHome[0] == '/') {
    return std::filesystem::path(cacheHome) / "driftharbour";
  }
  // NOLINTNEXTLINE(concurrency-mt-unsafe): as above
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::filesystem::path(home) / ".cache" / "driftharbour";
  }
  return {};
}

std::filesystem::path DirectoryCache::FileFor(const std::string& key) const {
  char name[40];
  std::snprintf(name, sizeof name, "directory-%016zx.json", std::hash<std::string>{}(key));
  return directory / name;
}

std::optional<std::string> DirectoryCache::Read(const std::string& key, std::chrono::seconds maxAge,
                                                Clock::time_point now) const {
  if (directory.empty() || key.find('\n') != std::string::npos) {
    return std::nullopt;
  }
  std::ifstream file(FileFor(key), std::ios::binary);
  std::string magic(std::char_traits<char>::length(kMagic), '\0');
  long long fetchedSeconds = 0;
  std::string storedKey;
  if (!file.read(magic.data(), static_cast<std::streamsize>(magic.size())) || magic != kMagic ||
      !(file >> fetchedSeconds) || file.get() != '\n' || !std::getline(file, storedKey) || storedKey != key) {
    return std::nullopt;
  }
  const Clock::time_point fetched{std::chrono::seconds(fetchedSeconds)};
  if (fetched > now + kClockSlack || now - fetched > maxAge) {
    return std::nullopt;
  }
  std::string answer((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    return std::nullopt;
  }
  return answer;
}

void DirectoryCache::Write(const std::string& key, const std::string& answer, Clock::time_point now) const {
  if (directory.empty() || key.find('\n') != std::string::npos) {
    return;
  }
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  const std::filesystem::path target = FileFor(key);
  std::filesystem::path temporary = target;
  temporary += "." + std::to_string(getpid()) + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << kMagic << std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count() << '\n'
         << key << '\n'
         << answer;
    file.flush();
    if (!file) {
      file.close();
      std::filesystem::remove(temporary, error);
      return;
    }
  }
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
  }
}

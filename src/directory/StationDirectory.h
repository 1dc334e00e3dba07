#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "directory/DirectoryCache.h"
#include "directory/DirectoryStation.h"
#include "net/HttpFetcher.h"

// Why the directory could not answer, for the user, always in one form:
// "the station directory could not be reached: REASON" (REASON as
// ConnectionError words it, or "an answer that is not JSON", "an answer
// larger than 4 MiB"). The text may carry a server's bytes unescaped.
class DirectoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The client of the community radio directory (radio-browser.info's JSON
// API), shared by the window and the recorder: it searches stations and
// counts the click the directory asks for when a station is added. Fetching
// goes through HttpFetcher (our libcurl connection), reading through
// DirectoryJson, keeping through DirectoryCache.
//
// Servers: the directory runs on several servers and asks its clients to
// pick one from its own list (/json/servers on all.api.radio-browser.info)
// at random. The client does so once, stays with the server while it
// answers, and moves on to the next in the list when one fails (not
// reachable, a status outside 2xx, an answer that is no station list, an
// answer larger than kMaxAnswerBytes), trying each at most once per
// request. The list is kept for a day, in memory and in the cache; when it
// cannot be fetched, an older list from the cache is used, or else the
// list's own host, which answers too. A directory URL (the settings'
// DirectoryUrl, the recorder's --directory) replaces all of this: only that
// server is asked.
//
// What is sent: a search's texts and filters, always with
// hidebroken=true&order=clickcount&reverse=true, and the User-Agent
// "Driftharbour/VERSION". Search answers are kept for kResultLifetime, so
// the same search within the hour sends nothing. CountClick is the only
// call that counts a click, and only the program's "add" paths call it.
//
// Threads: one thread at a time calls Search and CountClick (the recorder's
// main thread, the window's directory worker); they block for the network.
// Cancel and Resume may be called from any thread (see HttpFetcher): a
// cancelled Search throws DirectoryError at once and tries no other server.
class StationDirectory {
 public:
  using Clock = DirectoryCache::Clock;

  static constexpr const char* kPublicServerListUrl = "https://all.api.radio-browser.info";
  static constexpr size_t kMaxAnswerBytes = size_t{4} * 1024 * 1024;
  static constexpr std::chrono::seconds kResultLifetime{3600};
  static constexpr std::chrono::seconds kServerListLifetime{24 * 3600};
  // A server that sends less than this many bytes a second for this long
  // is given up for the next one.
  static constexpr int32_t kStallBytesPerSecond = 64;
  static constexpr int32_t kStallSeconds = 10;
  static constexpr const char* kUnreachable = "the station directory could not be reached: ";

  struct Settings {
    // When not empty, the one server asked ("http://127.0.0.1:8080",
    // "https://mirror.example.org/radio"); a trailing slash is ignored.
    std::string directoryUrl;
    // Where the list of servers comes from; its scheme is the servers'.
    std::string serverListUrl = kPublicServerListUrl;
    // Where answers are kept; empty: nowhere (DirectoryCache::
    // DefaultDirectory() is the user's).
    std::filesystem::path cacheDirectory;
    // The time answers are kept by; null: the system clock.
    std::function<Clock::time_point()> now;
    // Picks the first server; none: a random device's.
    std::optional<uint32_t> seed;
    int32_t stallSeconds = kStallSeconds;
  };

  explicit StationDirectory(Settings settings);

  StationDirectory(const StationDirectory&) = delete;
  StationDirectory& operator=(const StationDirectory&) = delete;

  // The stations matching query, most clicked first. Throws DirectoryError.
  std::vector<DirectoryStation> Search(const DirectoryQuery& query);
  // Tells the directory that the station was added (GET /json/url/UUID).
  // Nothing for an empty uuid. Throws DirectoryError.
  void CountClick(const std::string& stationUuid);

  void Cancel() { fetcher.Cancel(); }
  void Resume() { fetcher.Resume(); }

  // "Driftharbour/1.0": what every request names itself.
  static std::string UserAgent();
  // The request target of a search: "/json/stations/search?name=...&...",
  // each value percent-encoded, empty filters left out, the limit kept
  // within 1..DirectoryQuery::kMaxLimit.
  static std::string SearchTarget(const DirectoryQuery& query);
  // The base URLs tried now, the next to be asked first; empty before the
  // first request. For tests.
  std::vector<std::string> ServerOrder() const;

 private:
  // Makes sure a server list is known (see above).
  void LoadServers(Clock::time_point now);
  void UseServers(const std::vector<std::string>& names);
  // The body of target from the first server that answers with a body that
  // check accepts (check throws std::exception to refuse it).
  std::string Request(const std::string& target, const std::function<void(const std::string&)>& check);
  Clock::time_point Now() const;
  // What cache keys start with: answers of different directories never mix.
  std::string CacheScope() const;

  // Constant after construction.
  const Settings settings;
  const DirectoryCache cache;

  // The calling thread's (see above).
  HttpFetcher fetcher;
  std::mt19937 random;
  std::vector<std::string> servers;  // base URLs, without a trailing slash
  size_t current = 0;                // the server asked first
  std::optional<Clock::time_point> serversFetched;
};

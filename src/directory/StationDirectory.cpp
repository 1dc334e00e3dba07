#include "directory/StationDirectory.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "directory/DirectoryJson.h"
#include "net/HttpConnection.h"

#ifndef DRIFTHARBOUR_VERSION
#define DRIFTHARBOUR_VERSION "1.0"
#endif

namespace {

constexpr const char* kServerListTarget = "/json/servers";
constexpr const char* kSearchTarget = "/json/stations/search";
constexpr const char* kClickTarget = "/json/url/";

// value percent-encoded for a query or a path segment (curl's encoding:
// every byte but the unreserved ones).
std::string Escape(const std::string& value) {
  const std::unique_ptr<char, decltype(&curl_free)> escaped(
      curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size())), &curl_free);
  return escaped ? std::string(escaped.get()) : std::string();
}

std::string WithoutTrailingSlashes(std::string url) {
  while (!url.empty() && url.back() == '/') {
    url.pop_back();
  }
  return url;
}

// "https" of "https://all.api.radio-browser.info".
std::string SchemeOf(const std::string& url) {
  const size_t end = url.find("://");
  return end == std::string::npos ? std::string("https") : url.substr(0, end);
}

}  // namespace

StationDirectory::StationDirectory(Settings settings)
    : settings(std::move(settings)),
      cache(this->settings.cacheDirectory),
      fetcher("User-Agent: " + UserAgent() + "\r\nAccept: application/json\r\n"),
      random(this->settings.seed ? *this->settings.seed : std::random_device{}()) {
  fetcher.SetStallLimit(kStallBytesPerSecond, this->settings.stallSeconds);
}

std::string StationDirectory::UserAgent() { return std::string("Driftharbour/") + DRIFTHARBOUR_VERSION; }

std::string StationDirectory::SearchTarget(const DirectoryQuery& query) {
  std::string target = kSearchTarget;
  char separator = '?';
  const auto add = [&](const char* key, const std::string& value) {
    target += separator;
    target += key;
    target += '=';
    target += Escape(value);
    separator = '&';
  };
  const std::pair<const char*, const std::string*> texts[] = {
      {"name", &query.name}, {"tag", &query.tag}, {"countrycode", &query.countryCode}, {"codec", &query.codec}};
  for (const auto& [key, value] : texts) {
    if (!value->empty()) {
      add(key, *value);
    }
  }
  add("limit", std::to_string(std::clamp(query.limit, 1, DirectoryQuery::kMaxLimit)));
  add("offset", std::to_string(std::max(query.offset, 0)));
  add("hidebroken", "true");
  add("order", "clickcount");
  add("reverse", "true");
  return target;
}

std::vector<DirectoryStation> StationDirectory::Search(const DirectoryQuery& query) {
  const std::string target = SearchTarget(query);
  const std::string key = CacheScope() + target;
  const Clock::time_point now = Now();
  if (const auto cached = cache.Read(key, kResultLifetime, now)) {
    try {
      return DirectoryJson::ParseStations(*cached);
    } catch (const std::runtime_error&) {
      // A damaged file: asked again below, and replaced.
    }
  }
  LoadServers(now);
  std::vector<DirectoryStation> stations;
  const std::string body =
      Request(target, [&stations](const std::string& answer) { stations = DirectoryJson::ParseStations(answer); });
  cache.Write(key, body, now);
  return stations;
}

void StationDirectory::CountClick(const std::string& stationUuid) {
  if (stationUuid.empty()) {
    return;
  }
  LoadServers(Now());
  Request(kClickTarget + Escape(stationUuid), {});
}

std::vector<std::string> StationDirectory::ServerOrder() const {
  std::vector<std::string> order;
  for (size_t i = 0; i < servers.size(); ++i) {
    order.push_back(servers[(current + i) % servers.size()]);
  }
  return order;
}

void StationDirectory::LoadServers(Clock::time_point now) {
  if (!settings.directoryUrl.empty()) {
    if (servers.empty()) {
      servers = {WithoutTrailingSlashes(settings.directoryUrl)};
      current = 0;
    }
    return;
  }
  if (!servers.empty() && serversFetched && now - *serversFetched < kServerListLifetime) {
    return;
  }
  const std::string listUrl = WithoutTrailingSlashes(settings.serverListUrl);
  const std::string key = "servers " + listUrl;
  serversFetched = now;
  const auto useAnswer = [this](const std::string& answer) {
    try {
      const std::vector<std::string> names = DirectoryJson::ParseServerNames(answer);
      if (!names.empty()) {
        UseServers(names);
        return true;
      }
    } catch (const std::runtime_error&) {
    }
    return false;
  };
  if (const auto cached = cache.Read(key, kServerListLifetime, now); cached && useAnswer(*cached)) {
    return;
  }
  std::string answer;
  try {
    answer = fetcher.Fetch(listUrl + kServerListTarget, kMaxAnswerBytes);
  } catch (const ConnectionError&) {
    if (fetcher.Cancelled()) {
      serversFetched.reset();
      throw DirectoryError(std::string(kUnreachable) + "connection aborted");
    }
  }
  if (useAnswer(answer)) {
    cache.Write(key, answer, now);
    return;
  }
  // An older list is better than none; the list's own host answers too.
  constexpr std::chrono::seconds kAnyAge{std::chrono::hours(24 * 365 * 10)};
  if (const auto stale = cache.Read(key, kAnyAge, now); stale && useAnswer(*stale)) {
    return;
  }
  servers = {listUrl};
  current = 0;
}

void StationDirectory::UseServers(const std::vector<std::string>& names) {
  const std::string scheme = SchemeOf(settings.serverListUrl);
  servers.clear();
  for (const std::string& name : names) {
    servers.push_back(scheme + "://" + name);
  }
  current = std::uniform_int_distribution<size_t>(0, servers.size() - 1)(random);
}

std::string StationDirectory::Request(const std::string& target,
                                      const std::function<void(const std::string&)>& check) {
  std::string reason = "no server known";
  for (size_t tried = 0; tried < servers.size(); ++tried) {
    try {
      std::string body = fetcher.Fetch(servers[current] + target, kMaxAnswerBytes);
      if (check) {
        check(body);
      }
      return body;
    } catch (const std::exception& failure) {
      if (fetcher.Cancelled()) {
        throw DirectoryError(std::string(kUnreachable) + "connection aborted");
      }
      reason = failure.what();
      current = (current + 1) % servers.size();
    }
  }
  throw DirectoryError(kUnreachable + reason);
}

StationDirectory::Clock::time_point StationDirectory::Now() const {
  return settings.now ? settings.now() : Clock::now();
}

std::string StationDirectory::CacheScope() const {
  return settings.directoryUrl.empty() ? std::string("radio-browser ")
                                       : WithoutTrailingSlashes(settings.directoryUrl) + " ";
}

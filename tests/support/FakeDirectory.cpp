#include "support/FakeDirectory.h"

#include <string_view>

namespace {

constexpr const char* kSearchPath = "/json/stations/search";

// text as a JSON string (the fake's own texts: quotes and backslashes only).
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + "\"";
}

std::string StationJson(const FakeStation& station) {
  return "{\"changeuuid\":\"0c1d6d0e-0000-4000-8000-" + station.uuid + "\",\"stationuuid\":" +
         Quoted(station.uuid) + ",\"serveruuid\":null,\"name\":" + Quoted(station.name) +
         ",\"url\":" + Quoted(station.url + ".m3u") + ",\"url_resolved\":" + Quoted(station.url) +
         ",\"homepage\":\"https://example.org/\",\"favicon\":\"\",\"tags\":" + Quoted(station.tags) +
         ",\"country\":\"Germany\",\"countrycode\":" + Quoted(station.countryCode) +
         ",\"iso_3166_2\":null,\"state\":\"\",\"language\":\"german\",\"languagecodes\":\"de\",\"votes\":" +
         std::to_string(station.votes) +
         ",\"lastchangetime\":\"2024-01-01 12:00:00\",\"lastchangetime_iso8601\":\"2024-01-01T12:00:00Z\","
         "\"codec\":" +
         Quoted(station.codec) + ",\"bitrate\":" + std::to_string(station.bitrate) +
         ",\"hls\":0,\"lastcheckok\":1,\"lastchecktime\":\"2024-01-01 12:00:00\",\"clickcount\":" +
         std::to_string(station.clicks) +
         ",\"clicktrend\":2,\"ssl_error\":0,\"geo_lat\":null,\"geo_long\":null,\"has_extended_info\":false}";
}

// The path of a request's first line, without its query.
std::string TargetOf(const std::string& request) {
  const size_t start = request.find(' ');
  const size_t end = request.find(' ', start + 1);
  return start == std::string::npos || end == std::string::npos ? std::string()
                                                                 : request.substr(start + 1, end - start - 1);
}

}  // namespace

FakeDirectory::FakeDirectory() {
  ServeStations({});
  ServeServers({HostName()});
}

std::string FakeDirectory::HostName() const { return "127.0.0.1:" + std::to_string(server.Port()); }

std::string FakeDirectory::StationsJson(const std::vector<FakeStation>& stations) {
  std::string json = "[";
  for (const FakeStation& station : stations) {
    json += (json.size() > 1 ? "," : "") + StationJson(station);
  }
  return json + "]";
}

IcyResponse FakeDirectory::JsonAnswer(const std::string& body) {
  return {"HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n",
          body};
}

IcyResponse FakeDirectory::Unavailable() {
  return {"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n", ""};
}

void FakeDirectory::ServeStations(const std::vector<FakeStation>& stations) {
  ServeSearch(JsonAnswer(StationsJson(stations)));
  for (const FakeStation& station : stations) {
    server.Route("/json/url/" + station.uuid,
                 JsonAnswer("{\"ok\":true,\"message\":\"retrieved station url\",\"stationuuid\":" +
                            Quoted(station.uuid) + ",\"name\":" + Quoted(station.name) +
                            ",\"url\":" + Quoted(station.url) + "}"));
  }
}

void FakeDirectory::ServeSearch(IcyResponse response) { server.Route(kSearchPath, std::move(response)); }

void FakeDirectory::ServeServers(const std::vector<std::string>& names) {
  std::string json = "[";
  for (const std::string& name : names) {
    json += (json.size() > 1 ? "," : "") + std::string("{\"ip\":\"127.0.0.1\",\"name\":") + Quoted(name) + "}";
  }
  server.Route("/json/servers", JsonAnswer(json + "]"));
}

size_t FakeDirectory::Searches() const { return server.RequestCount(kSearchPath); }

size_t FakeDirectory::ServerLists() const { return server.RequestCount("/json/servers"); }

size_t FakeDirectory::Clicks(const std::string& uuid) const { return server.RequestCount("/json/url/" + uuid); }

std::string FakeDirectory::SearchRequest() const {
  const std::vector<std::string> requests = server.Requests();
  for (auto request = requests.rbegin(); request != requests.rend(); ++request) {
    if (TargetOf(*request).rfind(kSearchPath, 0) == 0) {
      return *request;
    }
  }
  return {};
}

std::string FakeDirectory::SearchTarget() const { return TargetOf(SearchRequest()); }

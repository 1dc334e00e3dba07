#pragma once

// A loopback stand-in for the community radio directory's JSON API
// (radio-browser.info), built on IcyTestServer's routes: it answers
// /json/servers, /json/stations/search and /json/url/UUID with JSON shaped
// like the real directory's answers, and can answer a search with anything
// else (a 503, a slow or stalled answer, a huge one, missing fields and
// wrong types):
//
//   FakeDirectory directory;
//   directory.ServeStations({{"uuid-1", "Jazz FM", icy.Url("/stream")}});
//   StationDirectory client({.directoryUrl = directory.Url()});
//   client.Search({.name = "jazz"});
//   EXPECT_EQ(directory.SearchTarget().find("name=jazz"), ...);
//
// The fake does not filter: every search gets the answer served. It listens
// on 127.0.0.1 only. Threads: as IcyTestServer (any thread).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/IcyTestServer.h"

// One station as the fake lists it; every field of the real answer is
// written, with these values and the rest made up.
struct FakeStation {
  std::string uuid;
  std::string name;
  std::string url;  // written as url_resolved, and url as a playlist of it
  std::string codec = "MP3";
  int bitrate = 128;
  std::string countryCode = "DE";
  std::string tags = "jazz,smooth jazz";
  int64_t votes = 10;
  int64_t clicks = 100;
};

class FakeDirectory {
 public:
  // Serves no station yet (an empty list) and a server list naming itself.
  FakeDirectory();

  // "http://127.0.0.1:PORT": the base URL a client is given.
  std::string Url() const { return server.Url(""); }
  // "127.0.0.1:PORT": the name a server list gives for this fake.
  std::string HostName() const;

  // Searches are answered with these stations, and a click on each of them
  // with the real answer's shape.
  void ServeStations(const std::vector<FakeStation>& stations);
  // Searches are answered with response as it is.
  void ServeSearch(IcyResponse response);
  // /json/servers lists these names ("127.0.0.1:PORT").
  void ServeServers(const std::vector<std::string>& names);

  // How many searches, server lists and clicks on uuid were asked for.
  size_t Searches() const;
  size_t ServerLists() const;
  size_t Clicks(const std::string& uuid) const;
  // The request target of the last search ("/json/stations/search?..."),
  // and its whole header text; empty before any.
  std::string SearchTarget() const;
  std::string SearchRequest() const;

  IcyTestServer& Server() { return server; }

  // The JSON text of stations as the real directory writes them.
  static std::string StationsJson(const std::vector<FakeStation>& stations);
  // A 200 answer with a JSON body, and the directory's 503 when it is busy.
  static IcyResponse JsonAnswer(const std::string& body);
  static IcyResponse Unavailable();

 private:
  IcyTestServer server;
};

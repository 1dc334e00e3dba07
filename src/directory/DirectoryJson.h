#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "directory/DirectoryStation.h"

// Reads the station directory's JSON answers (parsing only; the client
// fetches). The directory is run by volunteers on several servers of
// different versions, so the reading is lenient: a field that is missing or
// has the wrong type reads as empty or 0, numbers may come as strings and
// flags as 0/1, true/false or their strings, and counts are clamped to
// their range. Only a station without any stream URL is left out, since it
// cannot be recorded.
//
// An answer that is no JSON at all, or not the list the request asks for,
// throws std::runtime_error with the reason in plain words ("an answer that
// is not JSON").
//
// Stateless; any thread.
class DirectoryJson {
 public:
  // The stations of a /json/stations/... answer, in the directory's order.
  static std::vector<DirectoryStation> ParseStations(std::string_view body);
  // The host names of a /json/servers answer (each "name", duplicates and
  // anything that is not a plain host[:port] left out), in the answer's order.
  static std::vector<std::string> ParseServerNames(std::string_view body);
};

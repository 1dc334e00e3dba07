#include "directory/DirectoryJson.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "text/ByteText.h"

namespace {

using Json = nlohmann::json;

Json ParseList(std::string_view body) {
  Json document = Json::parse(body.begin(), body.end(), nullptr, false);
  if (document.is_discarded()) {
    throw std::runtime_error("an answer that is not JSON");
  }
  if (!document.is_array()) {
    throw std::runtime_error("an answer that is not a list");
  }
  return document;
}

std::string Text(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) {
    return {};
  }
  return found->get<std::string>();
}

// A whole number within [0, maximum]: from a JSON number (fractions cut) or
// a decimal string; anything else is 0.
int64_t Count(const Json& object, const char* key, int64_t maximum) {
  const auto found = object.find(key);
  if (found == object.end()) {
    return 0;
  }
  double value = 0;
  if (found->is_number_unsigned()) {
    const uint64_t whole = found->get<uint64_t>();
    return whole > static_cast<uint64_t>(maximum) ? maximum : static_cast<int64_t>(whole);
  }
  if (found->is_number_integer()) {
    return std::clamp<int64_t>(found->get<int64_t>(), 0, maximum);
  }
  if (found->is_number_float()) {
    value = found->get<double>();
  } else if (found->is_string()) {
    const std::string text(ByteText::Trim(found->get_ref<const std::string&>()));
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') {
      return 0;
    }
  } else {
    return 0;
  }
  if (!std::isfinite(value) || value <= 0) {
    return 0;
  }
  return value >= static_cast<double>(maximum) ? maximum : static_cast<int64_t>(value);
}

bool Flag(const Json& object, const char* key, bool missing) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) {
    return missing;
  }
  if (found->is_boolean()) {
    return found->get<bool>();
  }
  if (found->is_number()) {
    return found->get<double>() != 0;
  }
  if (found->is_string()) {
    const std::string_view text = ByteText::Trim(found->get_ref<const std::string&>());
    if (ByteText::EqualsNoCase(text, "true") || text == "1") {
      return true;
    }
    if (ByteText::EqualsNoCase(text, "false") || text == "0") {
      return false;
    }
  }
  return missing;
}

// Letters, digits, dots, hyphens, and a port after a colon: what a server
// list may name, so that no answer can slip a path or user into a URL.
bool IsHostName(const std::string& name) {
  if (name.empty() || name.size() > 253) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':';
  });
}

}  // namespace

std::vector<DirectoryStation> DirectoryJson::ParseStations(std::string_view body) {
  const Json list = ParseList(body);
  std::vector<DirectoryStation> stations;
  stations.reserve(list.size());
  for (const Json& entry : list) {
    if (!entry.is_object()) {
      continue;
    }
    DirectoryStation station;
    station.url = std::string(ByteText::Trim(Text(entry, "url_resolved")));
    if (station.url.empty()) {
      station.url = std::string(ByteText::Trim(Text(entry, "url")));
    }
    if (station.url.empty()) {
      continue;
    }
    station.uuid = Text(entry, "stationuuid");
    station.name = std::string(ByteText::Trim(Text(entry, "name")));
    station.codec = Text(entry, "codec");
    station.bitrate = static_cast<int32_t>(Count(entry, "bitrate", std::numeric_limits<int32_t>::max()));
    station.countryCode = Text(entry, "countrycode");
    station.tags = Text(entry, "tags");
    station.homepage = Text(entry, "homepage");
    station.votes = Count(entry, "votes", std::numeric_limits<int64_t>::max());
    station.clickCount = Count(entry, "clickcount", std::numeric_limits<int64_t>::max());
    station.hls = Flag(entry, "hls", false);
    station.lastCheckOk = Flag(entry, "lastcheckok", true);
    stations.push_back(std::move(station));
  }
  return stations;
}

std::vector<std::string> DirectoryJson::ParseServerNames(std::string_view body) {
  const Json list = ParseList(body);
  std::vector<std::string> names;
  for (const Json& entry : list) {
    if (!entry.is_object()) {
      continue;
    }
    std::string name = Text(entry, "name");
    if (IsHostName(name) && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

#pragma once

#include <cstdint>
#include <string>

// One station as the community radio directory (radio-browser.info) lists
// it, with the fields the program shows and records. Texts are the
// directory's bytes as sent (UTF-8 as a rule, but unchecked, and they may
// hold control characters): whoever shows them escapes them. A field the
// directory left out or sent with the wrong type is empty or 0.
struct DirectoryStation {
  std::string uuid;         // stationuuid: names the station in a click
  std::string name;
  std::string url;          // url_resolved, else url: what is recorded
  std::string codec;        // "MP3", "AAC", "OGG", ...
  int32_t bitrate = 0;      // kbit/s; 0: unknown
  std::string countryCode;  // ISO 3166-1 alpha-2, e.g. "DE"
  std::string tags;         // comma-separated genres, as listed
  std::string homepage;
  int64_t votes = 0;
  int64_t clickCount = 0;
  bool hls = false;         // the stream is HLS
  bool lastCheckOk = true;  // the directory's last check reached it

  bool operator==(const DirectoryStation&) const = default;
};

// What to look for. Empty texts are not sent; the directory matches name
// and tag as parts of words, country code and codec exactly (any case).
struct DirectoryQuery {
  static constexpr int32_t kDefaultLimit = 20;
  static constexpr int32_t kMaxLimit = 500;

  // Initialisers, so that designated initialisers may leave any out.
  std::string name{};
  std::string tag{};
  std::string countryCode{};
  std::string codec{};
  int32_t limit = kDefaultLimit;  // 1..kMaxLimit
  int32_t offset = 0;

  bool operator==(const DirectoryQuery&) const = default;
};

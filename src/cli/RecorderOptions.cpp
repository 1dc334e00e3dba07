#include "cli/RecorderOptions.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "net/StreamUrl.h"
#include "text/ByteText.h"

namespace {

// A whole decimal number in [minimum, maximum], or false.
bool ParseNumber(const std::string& text, int64_t minimum, int64_t maximum, int64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) {
    return false;
  }
  value = parsed;
  return true;
}

// "BEFORE:AFTER" in seconds (fractions allowed) as milliseconds, each 0 to
// 60 s.
bool ParseRange(const std::string& text, int32_t& beforeMs, int32_t& afterMs) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    return false;
  }
  const auto seconds = [](const std::string& part, int32_t& ms) {
    if (part.empty() || part[0] == '-' || part[0] == '+' || part[0] == ' ') {
      return false;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(part.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(value >= 0) || value > 60) {
      return false;
    }
    ms = static_cast<int32_t>(std::lround(value * 1000));
    return true;
  };
  return seconds(text.substr(0, colon), beforeMs) && seconds(text.substr(colon + 1), afterMs);
}

// "[ADDRESS:]PORT": an IPv4 address, or an IPv6 one in brackets, then a
// port from 0 to 65535; the address defaults to the loopback.
bool ParseListenAddress(const std::string& text, std::string& address, uint16_t& port) {
  std::string host;
  std::string portText = text;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos) {
      return false;
    }
    host = text.substr(1, close - 1);
    portText = text.substr(close + 2);
    in6_addr parsed{};
    if (inet_pton(AF_INET6, host.c_str(), &parsed) != 1) {
      return false;
    }
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
      return false;
    }
  }
  int64_t number = 0;
  if (!ParseNumber(portText, 0, 65535, number)) {
    return false;
  }
  if (!host.empty()) {
    address = host;
  }
  port = static_cast<uint16_t>(number);
  return true;
}

}  // namespace

std::string RecorderUsage() {
  return "usage: driftharbour-record [--dir DIR] [--no-file-splitting] [--no-smart-splitting]\n"
         "                           [--buffer BYTES] [--duration SECONDS] [--sync-interval SECONDS]\n"
         "                           [--cut-at-silence[=BEFORE:AFTER]] [--split-offset MS] [--tags]\n"
         "                           [--keep-partial-apart] [--min-length SECONDS] [--quiet] URL...\n"
         "                           [--schedule 'SHOW=DAYS HH:MM[:SS]+DURATION[@ZONE]']...\n"
         "       driftharbour-record --settings FILE [--duration SECONDS] [--sync-interval SECONDS] [--quiet]\n"
         "  either form also takes [--shard K/N] [--metrics [ADDRESS:]PORT] [--start-rate PER_SECOND]\n"
         "                         [--pre-roll SECONDS] [--post-roll SECONDS]\n"
         "       driftharbour-record --find TEXT [--tag GENRE] [--country CC] [--codec CODEC] [--limit N]\n"
         "                           [--pick K [recording options]] [--directory URL]\n"
         "\n"
         "Records every URL at once into DIR (default: the current directory), one\n"
         "file per title (.mp3, .aac, .ogg or .opus, as the station sends); audio\n"
         "without a title goes into a file named after the station. Stops at the end\n"
         "of --duration, or on Ctrl+C / SIGTERM, closing every file with all audio\n"
         "received so far. Exits with 0 when every URL recorded audio, 1 when one\n"
         "did not (the last line says why), 2 for wrong arguments.\n"
         "\n"
         "  --dir DIR              download directory (created when missing)\n"
         "  --no-file-splitting    one file for the whole recording\n"
         "  --no-smart-splitting   no overlap of one block at a title change\n"
         "  --cut-at-silence[=BEFORE:AFTER]\n"
         "                         cut each song at the quietest moment from BEFORE s\n"
         "                         before to AFTER s after the title change; without\n"
         "                         BEFORE:AFTER 6:4, widened to centre on the\n"
         "                         station's usual title lag once cuts have found it\n"
         "  --split-offset MS      without a quiet moment, cut this long after the\n"
         "                         title change (negative: before; default 0)\n"
         "  --tags                 tag the files: artist, title, station, URL, date\n"
         "  --keep-partial-apart   put songs that are not whole under incomplete/\n"
         "  --min-length SECONDS   ...and songs shorter than this\n"
         "  --buffer BYTES         bytes per network read (default 50000)\n"
         "  --duration SECONDS     stop after this many seconds\n"
         "  --sync-interval SECONDS  put open files on the disk this often (default 10;\n"
         "                         0: only when a file is closed)\n"
         "  --quiet                print only errors\n"
         "  --settings FILE        record every server entry of a Driftharbour.ini; runs\n"
         "                         until stopped, and SIGHUP reads the file again:\n"
         "                         new entries start, removed ones stop, changed ones\n"
         "                         restart, the others record on untouched\n"
         "  --shard K/N            record only the entries that shard K of N (counting\n"
         "                         from 0) takes by the hash of their URL, so that N\n"
         "                         recorders given the same list record each entry once\n"
         "  --metrics [ADDRESS:]PORT  serve Prometheus metrics at /metrics (address\n"
         "                         default 127.0.0.1; IPv6 as [::1]:PORT; port 0 picks one)\n"
         "  --start-rate PER_SECOND  start at most this many streams a second\n"
         "                         (default 1000; 0: all at once)\n"
         "  --find TEXT            look the station up by name in the community radio\n"
         "                         directory (radio-browser.info) and list the matches,\n"
         "                         most listened first; exits 1 when none matches\n"
         "  --tag, --country, --codec  narrow the search by genre, country code (DE)\n"
         "                         or codec (MP3, AAC, OGG, ...)\n"
         "  --limit N              list at most N stations (default 20)\n"
         "  --pick K               record the K-th station listed, as if its URL were given\n"
         "  --directory URL        ask this directory server instead of a public one\n"
         "  --schedule 'SHOW=DAYS HH:MM[:SS]+DURATION[@ZONE]'\n"
         "                         record only during this show (repeatable): DAYS is\n"
         "                         daily, weekdays (Mon-Fri, Sat,Sun) or a date\n"
         "                         YYYY-MM-DD; DURATION like 2h, 90m, 1h30m; ZONE an\n"
         "                         IANA time zone (default: the system's), e.g.\n"
         "                         'Night Jazz=Sat 23:00+3h@America/New_York'; one file\n"
         "                         per show, 'SHOW YYYY-MM-DD HHMM.EXT'; runs until\n"
         "                         stopped unless --duration is given\n"
         "  --pre-roll SECONDS     start recording this long before a show (default 60)\n"
         "  --post-roll SECONDS    stop this long after its end (default 120)\n"
         "  --help                 this text\n"
         "  --version              the program's version\n";
}

std::string RecorderVersion() { return std::string("driftharbour-record ") + DRIFTHARBOUR_VERSION + "\n"; }

RecorderArguments ParseRecorderArguments(const std::vector<std::string>& arguments) {
  RecorderArguments result;
  RecorderOptions& options = result.options;
  bool onlyUrls = false;
  // Options that a settings file decides for each entry itself.
  std::string entryOption;
  // Options that only a search uses.
  std::string findOption;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= arguments.size()) {
        result.error = argument + " needs a value";
        return false;
      }
      out = arguments[++i];
      return true;
    };
    std::string text;
    int64_t number = 0;
    if (onlyUrls || argument.empty() || argument[0] != '-') {
      // Blanks around go, a missing scheme is http://; anything but an http
      // or https URL is refused before any recording starts.
      std::string url;
      const StreamUrl::Problem problem = StreamUrl::Normalize(argument, url);
      if (problem != StreamUrl::Problem::None) {
        result.error = StreamUrl::Describe(problem, argument) + ": give http or https URLs";
        return result;
      }
      options.urls.push_back(std::move(url));
    } else if (argument == "--") {
      onlyUrls = true;
    } else if (argument == "--help" || argument == "-h") {
      result.help = true;
    } else if (argument == "--version") {
      result.version = true;
    } else if (argument == "--dir") {
      entryOption = argument;
      if (!value(options.directory)) {
        return result;
      }
      if (options.directory.empty()) {
        result.error = "--dir needs a directory";
        return result;
      }
    } else if (argument == "--settings") {
      if (!value(options.settingsFile)) {
        return result;
      }
    } else if (argument == "--no-file-splitting") {
      entryOption = argument;
      options.fileSplitting = false;
    } else if (argument == "--no-smart-splitting") {
      entryOption = argument;
      options.smartSplitting = false;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--buffer") {
      entryOption = argument;
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 1, int64_t{64} * 1024 * 1024, number)) {
        result.error = "--buffer takes a byte count from 1 to 67108864, not '" + text + "'";
        return result;
      }
      options.readSize = static_cast<int32_t>(number);
    } else if (argument == "--duration") {
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 1, INT64_C(1) << 40, number)) {
        result.error = "--duration takes a whole number of seconds, not '" + text + "'";
        return result;
      }
      options.durationSeconds = number;
    } else if (argument == "--cut-at-silence" || argument.rfind("--cut-at-silence=", 0) == 0) {
      entryOption = "--cut-at-silence";
      options.recording.cutAtSilence = true;
      if (argument.size() > std::string("--cut-at-silence").size()) {
        const std::string range = argument.substr(std::string("--cut-at-silence=").size());
        if (!ParseRange(range, options.recording.searchBeforeMs, options.recording.searchAfterMs)) {
          result.error = "--cut-at-silence takes BEFORE:AFTER in seconds (0 to 60 each), not '" + range + "'";
          return result;
        }
        options.recording.learnTitleLag = false;  // the window given is the window used
      }
    } else if (argument == "--split-offset") {
      entryOption = argument;
      if (!value(text)) {
        return result;
      }
      const bool negative = !text.empty() && text[0] == '-';
      if (!ParseNumber(negative ? text.substr(1) : text, 0, 60000, number)) {
        result.error = "--split-offset takes milliseconds from -60000 to 60000, not '" + text + "'";
        return result;
      }
      options.recording.splitOffsetMs = static_cast<int32_t>(negative ? -number : number);
    } else if (argument == "--tags") {
      entryOption = argument;
      options.recording.tags = true;
    } else if (argument == "--keep-partial-apart") {
      entryOption = argument;
      options.recording.keepPartialApart = true;
    } else if (argument == "--min-length") {
      entryOption = argument;
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 0, 3600, number)) {
        result.error = "--min-length takes seconds from 0 to 3600, not '" + text + "'";
        return result;
      }
      options.recording.minLengthSeconds = static_cast<int32_t>(number);
    } else if (argument == "--shard") {
      if (!value(text)) {
        return result;
      }
      const auto shard = ShardAssignment::Parse(text);
      if (!shard) {
        result.error = "--shard takes K/N with 0 <= K < N, not '" + text + "'";
        return result;
      }
      options.shard = *shard;
    } else if (argument == "--metrics") {
      if (!value(text)) {
        return result;
      }
      if (!ParseListenAddress(text, options.metricsAddress, options.metricsPort)) {
        result.error = "--metrics takes [ADDRESS:]PORT (an IPv4 address, or an IPv6 one in brackets), not '" +
                       text + "'";
        return result;
      }
      options.metrics = true;
    } else if (argument == "--start-rate") {
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 0, 1000000, number)) {
        result.error = "--start-rate takes streams per second from 0 to 1000000, not '" + text + "'";
        return result;
      }
      options.startsPerSecond = static_cast<int32_t>(number);
    } else if (argument == "--find" || argument == "--tag" || argument == "--country" || argument == "--codec") {
      if (!value(text)) {
        return result;
      }
      std::string& field = argument == "--find"  ? options.query.name
                           : argument == "--tag" ? options.query.tag
                           : argument == "--country" ? options.query.countryCode
                                                     : options.query.codec;
      field = std::string(ByteText::Trim(text));
      if (field.empty()) {
        result.error = argument + " needs a text";
        return result;
      }
      if (argument == "--find") {
        options.find = true;
      } else {
        findOption = argument;
      }
    } else if (argument == "--limit" || argument == "--pick") {
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 1, DirectoryQuery::kMaxLimit, number)) {
        result.error = argument + " takes a number from 1 to " + std::to_string(DirectoryQuery::kMaxLimit) +
                       ", not '" + text + "'";
        return result;
      }
      (argument == "--limit" ? options.query.limit : options.pick) = static_cast<int32_t>(number);
      findOption = argument;
    } else if (argument == "--directory") {
      if (!value(text)) {
        return result;
      }
      if (const StreamUrl::Problem problem = StreamUrl::Normalize(text, options.directoryUrl);
          problem != StreamUrl::Problem::None) {
        result.error = "--directory: " + StreamUrl::Describe(problem, text);
        return result;
      }
      findOption = argument;
    } else if (argument == "--schedule") {
      entryOption = argument;
      if (!value(text)) {
        return result;
      }
      Schedule schedule;
      std::string reason;
      if (!ParseScheduleOption(text, schedule, reason)) {
        result.error = "--schedule: " + reason;
        return result;
      }
      options.schedules.push_back(std::move(schedule));
    } else if (argument == "--pre-roll" || argument == "--post-roll") {
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 0, 3600, number)) {
        result.error = argument + " takes seconds from 0 to 3600, not '" + text + "'";
        return result;
      }
      (argument == "--pre-roll" ? options.preRollSeconds : options.postRollSeconds) = static_cast<int32_t>(number);
    } else if (argument == "--sync-interval") {
      if (!value(text)) {
        return result;
      }
      if (!ParseNumber(text, 0, int64_t{24} * 3600, number)) {
        result.error = "--sync-interval takes a whole number of seconds from 0 to 86400, not '" + text + "'";
        return result;
      }
      options.syncIntervalSeconds = static_cast<int32_t>(number);
    } else {
      result.error = "unknown option " + argument;
      return result;
    }
  }
  if (result.help || result.version) {
    return result;
  }
  if (options.find && (!options.settingsFile.empty() || !options.urls.empty())) {
    result.error = "give either --find or URLs, not both";
  } else if (!options.find && !findOption.empty()) {
    result.error = findOption + " needs --find";
  } else if (options.find) {
    // The K-th station must be among those asked for.
    options.query.limit = std::max(options.query.limit, options.pick);
  } else if (!options.settingsFile.empty() && !options.urls.empty()) {
    result.error = "give either --settings or URLs, not both";
  } else if (!options.settingsFile.empty() && !entryOption.empty()) {
    result.error = entryOption + " does not apply with --settings: the file sets every entry's own";
  } else if (options.settingsFile.empty() && options.urls.empty()) {
    result.error = "no URL given";
  }
  return result;
}

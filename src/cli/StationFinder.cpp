#include "cli/StationFinder.h"

#include <algorithm>
#include <utility>

#include "cli/ConsoleOutput.h"
#include "net/StreamUrl.h"
#include "text/ByteText.h"

namespace {

constexpr size_t kNameWidth = 32;

// text escaped, cut to width characters (the last one an ellipsis when
// cut) and padded to it.
std::string Column(const std::string& text, size_t width) {
  std::string shown = ByteText::EscapeControls(text);
  if (ByteText::Utf8Length(shown) > width) {
    shown = std::string(ByteText::Utf8Prefix(shown, width - 1)) + "\u2026";
  }
  shown.append(width - ByteText::Utf8Length(shown), ' ');
  return shown;
}

// text right-aligned in width characters (numbers are ASCII).
std::string Right(const std::string& text, size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string Describe(const DirectoryQuery& query) {
  std::string text = "\"" + query.name + "\"";
  for (const auto& [label, value] :
       {std::pair{"genre", &query.tag}, {"country", &query.countryCode}, {"codec", &query.codec}}) {
    if (!value->empty()) {
      text += std::string(", ") + label + " " + *value;
    }
  }
  return ByteText::EscapeControls(text);
}

}  // namespace

std::vector<std::string> StationFinder::Table(const std::vector<DirectoryStation>& stations) {
  const size_t numberWidth = std::max<size_t>(2, std::to_string(stations.size()).size());
  std::vector<std::string> lines;
  lines.push_back(Right("#", numberWidth) + "  " + Column("Name", kNameWidth) + "  Codec  kbit/s  Country" +
                  "   Votes  URL");
  size_t number = 0;
  for (const DirectoryStation& station : stations) {
    const std::string name = station.name.empty() ? station.url : station.name;
    lines.push_back(Right(std::to_string(++number), numberWidth) + "  " + Column(name, kNameWidth) + "  " +
                    Column(station.codec, 5) + "  " +
                    Right(station.bitrate > 0 ? std::to_string(station.bitrate) : "-", 6) + "  " +
                    Column(station.countryCode, 7) + "  " + Right(std::to_string(station.votes), 6) + "  " +
                    ByteText::EscapeControls(station.url));
  }
  return lines;
}

StationFinder::Outcome StationFinder::Find(RecorderOptions& options, StationDirectory::Settings settings,
                                           std::FILE* out, ConsoleOutput& console) {
  if (!options.directoryUrl.empty()) {
    settings.directoryUrl = options.directoryUrl;
  }
  StationDirectory directory(std::move(settings));
  std::vector<DirectoryStation> stations;
  try {
    stations = directory.Search(options.query);
  } catch (const DirectoryError& error) {
    console.Say(LogLevel::Error, ByteText::EscapeControls(error.what()));
    return {false, 1};
  }
  if (stations.empty()) {
    console.Say(LogLevel::Error, "no station found for " + Describe(options.query));
    return {false, 1};
  }
  if (options.pick == 0) {
    for (const std::string& line : Table(stations)) {
      std::fprintf(out, "%s\n", line.c_str());
    }
    std::fflush(out);
    return {false, 0};
  }
  if (static_cast<size_t>(options.pick) > stations.size()) {
    console.Say(LogLevel::Error, "--pick " + std::to_string(options.pick) + ": only " +
                                     std::to_string(stations.size()) + " stations found for " +
                                     Describe(options.query));
    return {false, 1};
  }
  const DirectoryStation& station = stations[static_cast<size_t>(options.pick) - 1];
  std::string url;
  if (const StreamUrl::Problem problem = StreamUrl::Normalize(station.url, url); problem != StreamUrl::Problem::None) {
    console.Say(LogLevel::Error, "station " + std::to_string(options.pick) + " cannot be recorded: " +
                                     ByteText::EscapeControls(StreamUrl::Describe(problem, station.url)));
    return {false, 1};
  }
  try {
    directory.CountClick(station.uuid);
  } catch (const DirectoryError&) {
    // The station is recorded all the same; the count is the directory's.
  }
  options.urls = {url};
  options.pickedStation = station.name;
  console.Say(LogLevel::Info, "station " + std::to_string(options.pick) + ": " +
                                  ByteText::EscapeControls(station.name) + " (" +
                                  ByteText::EscapeControls(station.url) + ")");
  return {true, 0};
}

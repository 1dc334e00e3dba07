#include "app/ScheduleKeys.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "config/LineFile.h"
#include "text/ByteText.h"

namespace {

std::string EntryPrefix(int number) { return std::string(ScheduleKeys::kPrefix) + std::to_string(number) + "_"; }

// The k of a key "Schedule_n_k"; false when what follows the prefix is not
// a plain number.
bool Index(const std::string& key, size_t prefixLength, uint64_t& index) {
  const char* first = key.data() + prefixLength;
  const char* last = key.data() + key.size();
  const auto [end, error] = std::from_chars(first, last, index);
  return first != last && error == std::errc() && end == last;
}

}  // namespace

std::vector<Schedule> ScheduleKeys::Read(const IniDocument& document, const std::string& section, int number,
                                         std::vector<ScheduleProblem>* problems) {
  std::vector<Schedule> schedules;
  const IniSection* keys = document.FindSection(section);
  if (keys == nullptr) {
    return schedules;
  }
  // Keys sort byte by byte ("_10" before "_2"): collect, then order by k.
  const std::string prefix = EntryPrefix(number);
  std::vector<std::pair<uint64_t, const std::pair<const std::string, std::string>*>> found;
  for (auto it = keys->lower_bound(prefix); it != keys->end() && it->first.starts_with(prefix); ++it) {
    uint64_t index = 0;
    if (Index(it->first, prefix.size(), index)) {
      found.emplace_back(index, &*it);
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [index, key] : found) {
    Schedule schedule;
    std::string error;
    if (ParseScheduleValue(key->second, schedule, error)) {
      schedules.push_back(std::move(schedule));
    } else if (problems != nullptr) {
      problems->push_back({key->first, key->second, error});
    }
  }
  return schedules;
}

void ScheduleKeys::Write(IniDocument& document, const std::string& section, int number,
                         const std::vector<Schedule>& schedules) {
  const std::string prefix = EntryPrefix(number);
  for (size_t k = 0; k < schedules.size(); ++k) {
    document.SetString(section, prefix + std::to_string(k), ScheduleValue(schedules[k]));
  }
}

Rolls ScheduleKeys::ReadRolls(const IniDocument& document, const std::string& section) {
  constexpr int32_t kMaxRoll = 3600;
  Rolls rolls;
  int32_t seconds = 0;
  if (document.GetInt(section, kPreRollKey, seconds)) {
    rolls.pre = std::chrono::seconds{std::clamp(seconds, 0, kMaxRoll)};
  }
  if (document.GetInt(section, kPostRollKey, seconds)) {
    rolls.post = std::chrono::seconds{std::clamp(seconds, 0, kMaxRoll)};
  }
  return rolls;
}

int ScheduleKeys::LineOfKey(const std::string& path, const std::string& section, const std::string& key) {
  LineFile file;
  try {
    if (!file.ReadLines(path)) {
      return 0;
    }
  } catch (const std::system_error&) {
    return 0;
  }
  // As the settings reader takes a line: trimmed, "[name]" opens a
  // section, the first '=' splits key and value.
  int found = 0;
  bool inSection = false;
  const std::vector<std::string>& lines = file.Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = ByteText::Trim(lines[i], " \t");
    if (line.starts_with('[')) {
      const size_t closing = line.find(']');
      if (closing != std::string_view::npos) {
        inSection = line.substr(1, closing - 1) == section;
        continue;
      }
    }
    const size_t equals = line.find('=');
    if (inSection && equals != std::string_view::npos && ByteText::Trim(line.substr(0, equals), " \t") == key) {
      found = static_cast<int>(i + 1);
    }
  }
  return found;
}

std::string ScheduleKeys::Describe(const std::string& path, const std::string& section,
                                   const ScheduleProblem& problem) {
  std::string where = std::filesystem::path(path).filename().string();
  if (const int line = LineOfKey(path, section, problem.key); line > 0) {
    where += " line " + std::to_string(line);
  }
  return where + ": " + problem.key + "=" + ByteText::EscapeControls(problem.value) + ": " + problem.reason +
         "; skipped";
}

#pragma once

#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "schedule/Schedule.h"
#include "schedule/ShowWindow.h"

// An entry's schedules in the settings file: keys Schedule_n_k of the
// "Server" section, n the entry's number (as in Server_n), k counting
// 0, 1, 2, ... in the entry's order, each value in the settings form of a
// Schedule ("Morning Show|Mon-Fri|07:00|2h|Europe/Berlin"). They are written
// only where an entry has schedules, so a file written before schedules
// existed loads and saves unchanged.
//
// Reading takes every Schedule_n_<digits> key of the entry in the order of
// its number, gaps allowed (a hand-edited file); a value that is not a
// schedule is reported and skipped, and never stops the other schedules or
// entries.
//
// Stateless; the caller's thread.
struct ScheduleProblem {
  std::string key;     // "Schedule_3_1"
  std::string value;   // as the file has it
  std::string reason;  // "unknown weekday 'Mox'"

  bool operator==(const ScheduleProblem&) const = default;
};

class ScheduleKeys {
 public:
  static constexpr const char* kPrefix = "Schedule_";
  // Seconds, in the "Default" section, read where present and never added.
  static constexpr const char* kPreRollKey = "PreRoll";
  static constexpr const char* kPostRollKey = "PostRoll";

  // The schedules of entry number in section; problems, when not null,
  // receives one line per value that was skipped.
  static std::vector<Schedule> Read(const IniDocument& document, const std::string& section, int number,
                                    std::vector<ScheduleProblem>* problems);
  // Writes Schedule_number_0, _1, ... of schedules into section.
  static void Write(IniDocument& document, const std::string& section, int number,
                    const std::vector<Schedule>& schedules);

  // The pre-roll and post-roll section names (negative values read as 0,
  // more than an hour as an hour); the defaults where a key is missing.
  static Rolls ReadRolls(const IniDocument& document, const std::string& section);

  // "Driftharbour.ini line 14: Schedule_3_1=Talk|Mox|...: unknown weekday
  // 'Mox'; skipped". The line is looked up in the file at path (the last
  // line that sets the key in section, as the reader takes it); without
  // one the text names only the file.
  static std::string Describe(const std::string& path, const std::string& section, const ScheduleProblem& problem);
  // The 1-based number of the last line of the file at path that sets key
  // in section; 0 when there is none or the file cannot be read.
  static int LineOfKey(const std::string& path, const std::string& section, const std::string& key);
};

#pragma once

#include <string>

// One show's recording as the RecordingWriter files it (ShowSwitch makes
// it from the schedule): its name, its local start, whether its titles
// get files of their own, and whether the recording misses its beginning.
// A plain value; any thread.
struct ShowFile {
  std::string name;          // the show's name, as the schedule gives it
  std::string date;          // "YYYY-MM-DD": the show's start in its zone
  std::string time;          // "HHMM", likewise
  bool splitTitles = false;  // one file per title, in a folder named Stem()
  bool partial = false;      // joined after the show began

  // "Night Jazz 2026-12-12 2300", with the characters a file name cannot
  // hold replaced as in a title's (RecordingWriter::FileStem).
  std::string Stem() const;

  bool operator==(const ShowFile&) const = default;
};

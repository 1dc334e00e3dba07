#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/RecorderOptions.h"
#include "directory/DirectoryStation.h"
#include "directory/StationDirectory.h"

class ConsoleOutput;

// The recorder's --find: asks the station directory with the options'
// query and either prints the matches as a numbered table (name, codec,
// bit rate, country, votes, stream URL) or, with --pick K, makes the K-th
// match the URL to record, counting the one click the directory asks for
// when a station is taken. Nothing else ever counts a click.
//
// Every text from the directory is printed with its control characters
// escaped, as every console line is.
//
// The recorder's main thread alone; blocks for the network.
class StationFinder {
 public:
  // What Find decided: record (the options now name the station's URL and
  // name), or end with status (0: the table was printed; 1: nothing found,
  // the directory could not be reached, or no K-th station).
  struct Outcome {
    bool record = false;
    int status = 0;
  };

  // settings: the directory to ask, with the options' --directory already
  // in it or not (Find puts it there).
  static Outcome Find(RecorderOptions& options, StationDirectory::Settings settings, std::FILE* out,
                      ConsoleOutput& console);

  // The table, one line per station, numbered from 1, with a header line.
  static std::vector<std::string> Table(const std::vector<DirectoryStation>& stations);
};

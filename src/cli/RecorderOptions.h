#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/ShardAssignment.h"
#include "cli/StartPacer.h"
#include "directory/DirectoryStation.h"
#include "recording/RecordingOptions.h"
#include "schedule/Schedule.h"

// What driftharbour-record was asked to do.
struct RecorderOptions {
  std::string directory = ".";  // download directory of every URL
  bool fileSplitting = true;
  bool smartSplitting = true;
  int32_t readSize = 0;        // bytes per read; 0: the stream's default
  int64_t durationSeconds = 0;  // 0: until a signal
  int32_t syncIntervalSeconds = -1;  // -1: the default, or the settings file's; 0: only at close
  RecordingOptions recording;        // cutting, tags, partial songs: all off unless asked for
  bool quiet = false;
  std::string settingsFile;     // record the entries of a Driftharbour.ini
  std::vector<std::string> urls;
  ShardAssignment shard;        // the entries this recorder takes; 0/1: all
  bool metrics = false;         // serve /metrics
  std::string metricsAddress = "127.0.0.1";  // without brackets for IPv6
  uint16_t metricsPort = 0;     // 0: one the system picks
  int32_t startsPerSecond = StartPacer::kDefaultPerSecond;  // 0: all at once
  // --find: ask the station directory instead of taking URLs; print the
  // matches, or record the pick-th of them (counting from 1; 0: print).
  bool find = false;
  DirectoryQuery query;
  int32_t pick = 0;
  std::string directoryUrl;  // --directory: the one directory server to ask
  std::string pickedStation;  // the picked station's name, once found: names untitled audio
  std::vector<Schedule> schedules;  // every URL records only during these shows
  int32_t preRollSeconds = -1;      // -1: the default, or the settings file's
  int32_t postRollSeconds = -1;
};

// The outcome of reading the command line: options, a request for help, or
// a one-line reason why the arguments are wrong.
struct RecorderArguments {
  RecorderOptions options;
  bool help = false;
  bool version = false;  // --version: print the version and exit
  std::string error;  // empty when the arguments are usable
};

RecorderArguments ParseRecorderArguments(const std::vector<std::string>& arguments);

// The usage text, ending with a newline.
std::string RecorderUsage();
// "driftharbour-record VERSION" and a newline.
std::string RecorderVersion();

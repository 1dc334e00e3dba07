#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts a program found on PATH, for the tests that need a tool of the
// machine (ffmpeg, openssl): standard input on /dev/null, standard output
// into outputFile (created or truncated), standard error into errorFd when
// it is not -1, else /dev/null. No other descriptor of ours reaches the
// child unless it lacks close-on-exec. Returns the child's pid, or -1 when
// it cannot be started; the caller reaps it. Any thread.
pid_t SpawnChild(std::vector<std::string> arguments, const std::string& outputFile = "/dev/null", int errorFd = -1);

// The same, with more say over the child: standard error into the output
// file as well (errorToOutput), and variables set on top of ours
// ("NAME=value"). Returns once the child runs the program.
struct ChildOptions {
  std::string outputFile = "/dev/null";
  bool errorToOutput = false;
  std::vector<std::string> environment;
};
pid_t SpawnChild(std::vector<std::string> arguments, const ChildOptions& options);

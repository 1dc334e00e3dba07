// driftharbour: the window program. Records the SHOUTcast servers of its
// list into audio files; see CDriftharbourApp for the start-up sequence.

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "recording/FileSyncer.h"
#include "ui/CDriftharbourApp.h"
#include "ui/StartOptions.h"
#include "ui/XDisplayProbe.h"

int main(int argc, char** argv) {
  // Answered before Qt starts: Qt aborts without a display, and none of
  // these needs one.
  const StartOptions options = StartOptions::Parse(argc, argv);
  if (!options.unknown.empty()) {
    std::fputs(StartOptions::UnknownOptionText(options.unknown).c_str(), stderr);
    std::fputs(StartOptions::Usage().c_str(), stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(StartOptions::Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(StartOptions::VersionText().c_str(), stdout);
    return 0;
  }
  // Before any thread exists.
  const StartOptions::Lookup environment = [](const char* name) { return std::getenv(name); };  // NOLINT(concurrency-mt-unsafe)
  if (!options.HasDisplay(environment)) {
    std::fputs(StartOptions::NoDisplayText().c_str(), stderr);
    return 1;
  }
  // Qt's X platform aborts when its display does not answer: ask first.
  if (const std::string display = options.XDisplayToTry(environment);
      !display.empty() && !XDisplayProbe::Answers(display)) {
    std::fputs(StartOptions::UnreachableDisplayText(display).c_str(), stderr);
    return 1;
  }

  // A server that drops the connection must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  // Before any thread exists.
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "driftharbour: cannot initialise the network library\n");
    return 1;
  }
  int status = 1;
  {
    // Outlives every writer: the files the window closes on its way out are
    // synced by it before the program ends.
    FileSyncer syncer;
    FileSyncer::Install(&syncer);
    {
      CDriftharbourApp app(argc, argv);
      status = app.InitInstance(options.words) ? app.Run() : app.ExitStatus();
    }
    FileSyncer::Install(nullptr);
  }
  curl_global_cleanup();
  return status;
}

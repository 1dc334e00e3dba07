// driftharbour: the window program. Records the SHOUTcast servers of its
// list into audio files; see CDriftharbourApp for the start-up sequence.

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "recording/FileSyncer.h"
#include "ui/CDriftharbourApp.h"
#include "ui/StartOptions.h"

int main(int argc, char** argv) {
  // Answered before Qt starts: Qt aborts without a display, and neither
  // question needs one.
  const StartOptions options = StartOptions::Parse(argc, argv);
  if (options.help) {
    std::fputs(StartOptions::Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(StartOptions::VersionText().c_str(), stdout);
    return 0;
  }
  // Before any thread exists.
  if (!options.HasDisplay([](const char* name) { return std::getenv(name); })) {  // NOLINT(concurrency-mt-unsafe)
    std::fputs(StartOptions::NoDisplayText().c_str(), stderr);
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
      if (app.InitInstance()) {
        status = app.Run();
      }
    }
    FileSyncer::Install(nullptr);
  }
  curl_global_cleanup();
  return status;
}

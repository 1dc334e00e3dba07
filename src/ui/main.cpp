// driftharbour: the window program. Records the SHOUTcast servers of its
// list into MP3 files; see CDriftharbourApp for the start-up sequence.

#include <curl/curl.h>

#include <csignal>
#include <cstdio>

#include "ui/CDriftharbourApp.h"

int main(int argc, char** argv) {
  // A server that drops the connection must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  // Before any thread exists.
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr, "driftharbour: cannot initialise the network library\n");
    return 1;
  }
  int status = 1;
  {
    CDriftharbourApp app(argc, argv);
    if (app.InitInstance()) {
      status = CDriftharbourApp::exec();
    }
  }
  curl_global_cleanup();
  return status;
}

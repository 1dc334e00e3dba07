#include "ui/StartOptions.h"

#include <string_view>

#ifndef DRIFTHARBOUR_VERSION
#define DRIFTHARBOUR_VERSION "1.0"
#endif

StartOptions StartOptions::Parse(int argc, const char* const* argv) {
  StartOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word(argv[i] == nullptr ? "" : argv[i]);
    if (word == "--help" || word == "-h" || word == "-help") {
      options.help = true;
    } else if (word == "--version" || word == "-v") {
      options.version = true;
    } else if (word == "-platform" || word == "--platform" || word.starts_with("-platform=")) {
      options.platformGiven = true;
    }
  }
  return options;
}

bool StartOptions::HasDisplay(const Lookup& lookup) const {
  if (platformGiven) {
    return true;
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = lookup ? lookup(name) : nullptr;
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

std::string StartOptions::Usage() {
  return "usage: driftharbour [URL...]\n"
         "       driftharbour --help | --version\n"
         "\n"
         "Records internet radio (SHOUTcast and Icecast streams) from a list of\n"
         "servers in a window; a double-click, Enter or Space starts and stops an\n"
         "entry. Each URL given is added to the list unless it is there already,\n"
         "and starts recording at once.\n"
         "\n"
         "The list is kept in Driftharbour.ini beside the program, or, when that\n"
         "directory is not writable, in $XDG_CONFIG_HOME/driftharbour/ (by default\n"
         "~/.config/driftharbour/). SIGTERM, SIGINT and SIGHUP stop every recording\n"
         "with all audio received and end the program with status 0.\n"
         "\n"
         "The window needs a graphical session; driftharbour-record records\n"
         "without one.\n"
         "\n"
         "  --help       this text\n"
         "  --version    the program's version\n";
}

std::string StartOptions::VersionText() { return std::string("driftharbour ") + DRIFTHARBOUR_VERSION + "\n"; }

std::string StartOptions::NoDisplayText() {
  return "driftharbour: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
         "driftharbour-record records without one\n";
}

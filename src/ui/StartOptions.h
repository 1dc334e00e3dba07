#pragma once

#include <functional>
#include <string>

// What the window program's command line asks for, read before the Qt
// application object exists: --help and --version are answered without a
// display, and a missing display is reported in one line instead of Qt's
// abort. The URLs to record and Qt's own options (-platform, -style ...)
// are left to the application object.
//
// Stateless apart from the parsed fields; any thread.
class StartOptions {
 public:
  using Lookup = std::function<const char*(const char* name)>;

  bool help = false;
  bool version = false;
  // A "-platform" option names Qt's platform itself.
  bool platformGiven = false;

  static StartOptions Parse(int argc, const char* const* argv);

  // Whether Qt can open a window: DISPLAY, WAYLAND_DISPLAY or
  // QT_QPA_PLATFORM set to something, or a -platform option. lookup reads
  // the environment (getenv unless a test gives another).
  bool HasDisplay(const Lookup& lookup) const;

  static std::string Usage();
  static std::string VersionText();
  // The one line printed (to standard error) when there is no display.
  static std::string NoDisplayText();
};

#pragma once

#include <functional>
#include <string>
#include <vector>

// What the window program's command line asks for, read before the Qt
// application object exists: --help and --version are answered without a
// display, an option neither this program nor Qt knows is refused with the
// usage, and a display that is missing or cannot be reached is reported in
// one line instead of Qt's abort. The words that are no option are the
// URLs (or local playlist files) to record; Qt's own options (-platform,
// -style ... with their values) are left to the application object.
//
// Stateless apart from the parsed fields; any thread.
class StartOptions {
 public:
  using Lookup = std::function<const char*(const char* name)>;
  // Whether an X server answers at the display named (":0", "host:1.0").
  using XProbe = std::function<bool(const std::string& display)>;

  bool help = false;
  bool version = false;
  // A "-platform" option names Qt's platform itself.
  bool platformGiven = false;
  // Qt's "-display NAME" option, for the X platform; empty when not given.
  std::string displayOption;
  // The first option nobody knows, as given; empty when none.
  std::string unknown;
  // The other words, in order: what to record.
  std::vector<std::string> words;

  static StartOptions Parse(int argc, const char* const* argv);

  // Whether Qt can open a window: DISPLAY, WAYLAND_DISPLAY or
  // QT_QPA_PLATFORM set to something, or a -platform option. lookup reads
  // the environment (getenv unless a test gives another).
  bool HasDisplay(const Lookup& lookup) const;
  // The X display Qt would connect to when it has to (no -platform, no
  // Wayland session, QT_QPA_PLATFORM unset or naming xcb), so that it can be
  // tried first; empty when Qt goes elsewhere or there is no display at all.
  std::string XDisplayToTry(const Lookup& lookup) const;

  static std::string Usage();
  static std::string VersionText();
  // The one line printed (to standard error) when there is no display.
  static std::string NoDisplayText();
  // The one line printed when the X display does not answer.
  static std::string UnreachableDisplayText(const std::string& display);
  // The line before the usage for an unknown option.
  static std::string UnknownOptionText(const std::string& option);
};

#pragma once

#include <functional>
#include <string>

// Where the window keeps Driftharbour.ini. Beside the executable, as it has
// always been, wherever that directory is writable (a build tree, a copy in
// the user's own folder); an installed program in a directory the user
// cannot write to (/usr/bin) keeps it in $XDG_CONFIG_HOME/driftharbour/,
// by default ~/.config/driftharbour/. A relative or empty XDG_CONFIG_HOME is
// ignored, as the XDG base directory rules say; without an absolute HOME
// either, the file stays beside the executable, where it can be read but
// not saved.
//
// Note for root: permission bits do not stop root, so a program run as root
// finds every directory writable and keeps its file beside the executable.
//
// Stateless; any thread. PathFor looks at the file system only through the
// writable check, which tests replace.
class SettingsLocation {
 public:
  // The environment variables the location depends on.
  struct Environment {
    std::string xdgConfigHome;
    std::string home;
  };
  using WritableCheck = std::function<bool(const std::string& directory)>;

  // XDG_CONFIG_HOME and HOME of this process (empty when unset).
  static Environment FromProcess();
  // True when this process may create files in directory (access(2)).
  static bool DirectoryWritable(const std::string& directory);

  // The settings file for the program at executablePath (its real path,
  // as /proc/self/exe names it).
  static std::string PathFor(const std::string& executablePath, const Environment& environment,
                             const WritableCheck& writable = DirectoryWritable);
  // $XDG_CONFIG_HOME/driftharbour, else $HOME/.config/driftharbour; empty
  // when neither is an absolute path.
  static std::string ConfigDirectory(const Environment& environment);
  // Creates the directory the settings file goes into, with its parents
  // (mode 0700 for those it creates). False when it is missing afterwards.
  static bool PrepareDirectory(const std::string& settingsPath);
};

#pragma once

#include <string>
#include <vector>

#include "base/Mutex.h"

// Finds and opens one of the program's own shared modules (the media module
// with FFmpeg, the tag module with TagLib) the first time something needs
// it, so that a process that never needs a module never maps its
// libraries. The module is looked for in each of a list of folders, in
// order; the first file there that opens (with every library it needs) and
// whose entry point accepts the interface version is kept open for the rest
// of the process.
//
// DefaultFolders(): only $DRIFTHARBOUR_MEDIA_DIR when that variable is set
// (tests and unusual installs point it anywhere, an empty folder included);
// otherwise the running program's folder (/proc/self/exe), the library
// folder relative to it that `cmake --install` uses, and the configured
// install library folder. Every module of the program lives there.
//
// A failed load is remembered with its reason (Failure()), which names the
// module and where it was looked for, so that every caller gets the same
// clear message; a later call does not try again.
//
// Each module's interface header holds its Module (kModule) next to the
// types that cross: the module and the programs come from one build, the
// interface version is checked at load, and the types use the same C++
// standard library.
//
// Thread-safe: the first call of Interface() loads while later callers wait
// on `lock`. The interface lives as long as the process.
class ModuleLoader {
 public:
  // What a module is. Its one exported C function, entryName, is an Entry:
  // it returns the module's interface, or null when the version differs;
  // interfaceVersion is raised whenever a type of the interface changes
  // shape.
  struct Module {
    const char* fileName;  // "libdriftharbour-media.so"
    const char* entryName;
    int interfaceVersion;
    const char* kind;     // for messages: "media module"
    const char* library;  // what it wraps, for messages: "FFmpeg"
  };
  using Entry = const void* (*)(int interfaceVersion);

  // Searches DefaultFolders(), worked out at the first load: a process
  // that never needs the module never looks for its own folder.
  explicit ModuleLoader(Module module);
  ModuleLoader(Module module, std::vector<std::string> folders);
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  static std::vector<std::string> DefaultFolders();

  // The module's interface, loading it on the first call; null when it
  // cannot be loaded, and then Failure() says why.
  const void* Interface() EXCLUDES(lock);
  // Why the module could not be loaded; empty while no load failed.
  std::string Failure() const EXCLUDES(lock);
  // Whether the module has been loaded (no load is attempted here).
  bool Loaded() const EXCLUDES(lock);

 private:
  void Load() REQUIRES(lock);

  // Constant after construction.
  const Module module;
  const bool defaultFolders;

  // `lock` guards the folders and the load's outcome; the first caller
  // holds it across dlopen.
  mutable Mutex lock;
  std::vector<std::string> folders GUARDED_BY(lock);
  bool attempted GUARDED_BY(lock) = false;
  const void* loaded GUARDED_BY(lock) = nullptr;
  std::string failure GUARDED_BY(lock);
};

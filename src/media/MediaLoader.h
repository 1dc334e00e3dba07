#pragma once

#include <string>
#include <vector>

#include "base/ModuleLoader.h"
#include "media/MediaCodecs.h"

// Opens the program's FFmpeg module (media::kModuleFileName) the first time
// a stream needs it, so that a process whose streams are all plain ICY or
// Ogg never maps FFmpeg's libraries: a ModuleLoader (where it looks, how a
// failure is remembered) typed for media::MediaCodecs.
//
// Process() is the program's own loader, over ModuleLoader::DefaultFolders().
//
// Thread-safe: any stream worker may call Codecs(). The returned interface
// lives as long as the process.
class MediaLoader {
 public:
  // Over ModuleLoader::DefaultFolders(), worked out at the first load.
  MediaLoader();
  explicit MediaLoader(std::vector<std::string> folders);
  MediaLoader(const MediaLoader&) = delete;
  MediaLoader& operator=(const MediaLoader&) = delete;

  // The program's loader.
  static MediaLoader& Process();

  // The module's codecs, loading it on the first call; null when it cannot
  // be loaded, and then Failure() says why.
  const media::MediaCodecs* Codecs() {
    return static_cast<const media::MediaCodecs*>(module.Interface());
  }
  // The same for a caller that cannot go on without FFmpeg: throws
  // std::runtime_error carrying Failure() when the module cannot be loaded.
  const media::MediaCodecs& Require();
  // Why the module could not be loaded; empty while no load failed.
  std::string Failure() const { return module.Failure(); }
  // Whether the module has been loaded (no load is attempted here).
  bool Loaded() const { return module.Loaded(); }

 private:
  ModuleLoader module;
};

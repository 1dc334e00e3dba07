#pragma once

#include <string>
#include <vector>

#include "base/Mutex.h"
#include "media/MediaCodecs.h"

// Finds and opens the program's FFmpeg module (media::kModuleFileName) the
// first time a stream needs it, so that a process whose streams are all
// plain ICY or Ogg never maps FFmpeg's libraries. The module is looked for
// in each of a list of folders, in order; the first file there that opens
// (with every library it needs) is kept open for the rest of the process.
//
// Process() is the program's own loader. Its folders: only
// $DRIFTHARBOUR_MEDIA_DIR when that variable is set (tests and unusual
// installs point it anywhere, an empty folder included); otherwise the
// running program's folder (/proc/self/exe), the library folder relative to
// it that `cmake --install` uses, and the configured install library folder.
//
// A failed load is remembered with its reason (Failure()), which names the
// module and where it was looked for, so every stream that needs it gets
// the same clear message; a later call does not try again.
//
// Thread-safe: any stream worker may call Codecs(); the first call loads
// while later callers wait on `lock`. The returned interface lives as long
// as the process.
class MediaLoader {
 public:
  explicit MediaLoader(std::vector<std::string> folders);
  MediaLoader(const MediaLoader&) = delete;
  MediaLoader& operator=(const MediaLoader&) = delete;

  // The program's loader, with the folders described above.
  static MediaLoader& Process();
  static std::vector<std::string> DefaultFolders();

  // The module's codecs, loading it on the first call; null when it cannot
  // be loaded, and then Failure() says why.
  const media::MediaCodecs* Codecs() EXCLUDES(lock);
  // The same for a caller that cannot go on without FFmpeg: throws
  // std::runtime_error carrying Failure() when the module cannot be loaded.
  const media::MediaCodecs& Require() EXCLUDES(lock);
  // Why the module could not be loaded; empty while no load failed.
  std::string Failure() const EXCLUDES(lock);
  // Whether the module has been loaded (no load is attempted here).
  bool Loaded() const EXCLUDES(lock);

 private:
  void Load() REQUIRES(lock);

  // Constant after construction.
  const std::vector<std::string> folders;

  // `lock` guards the load's outcome; any thread that needs FFmpeg takes it,
  // and the first one holds it across dlopen.
  mutable Mutex lock;
  bool attempted GUARDED_BY(lock) = false;
  const media::MediaCodecs* codecs GUARDED_BY(lock) = nullptr;
  std::string failure GUARDED_BY(lock);
};

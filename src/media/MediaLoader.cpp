#include "media/MediaLoader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

// The install layout, relative to the programs' folder and absolute; set by
// src/CMakeLists.txt from GNUInstallDirs.
#ifndef DRIFTHARBOUR_MODULE_RELATIVE_DIR
#define DRIFTHARBOUR_MODULE_RELATIVE_DIR "../lib/driftharbour"
#endif
#ifndef DRIFTHARBOUR_MODULE_INSTALL_DIR
#define DRIFTHARBOUR_MODULE_INSTALL_DIR "/usr/local/lib/driftharbour"
#endif

constexpr const char* kFolderVariable = "DRIFTHARBOUR_MEDIA_DIR";

std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.parent_path().string();
}

std::string Joined(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) {
    text += text.empty() ? folder : ", " + folder;
  }
  return text.empty() ? std::string("no folder") : text;
}

}  // namespace

MediaLoader::MediaLoader(std::vector<std::string> searchFolders) : folders(std::move(searchFolders)) {}

MediaLoader& MediaLoader::Process() {
  static MediaLoader loader(DefaultFolders());
  return loader;
}

std::vector<std::string> MediaLoader::DefaultFolders() {
  if (const char* chosen = std::getenv(kFolderVariable); chosen != nullptr) {
    return {chosen};
  }
  std::vector<std::string> result;
  if (const std::string program = ProgramFolder(); !program.empty()) {
    result.push_back(program);
    result.push_back((std::filesystem::path(program) / DRIFTHARBOUR_MODULE_RELATIVE_DIR).lexically_normal().string());
  }
  result.emplace_back(DRIFTHARBOUR_MODULE_INSTALL_DIR);
  return result;
}

const media::MediaCodecs* MediaLoader::Codecs() {
  MutexLock held(lock);
  if (!attempted) {
    attempted = true;
    Load();
  }
  return codecs;
}

const media::MediaCodecs& MediaLoader::Require() {
  const media::MediaCodecs* loaded = Codecs();
  if (loaded == nullptr) {
    throw std::runtime_error(Failure());
  }
  return *loaded;
}

std::string MediaLoader::Failure() const {
  MutexLock held(lock);
  return failure;
}

bool MediaLoader::Loaded() const {
  MutexLock held(lock);
  return codecs != nullptr;
}

void MediaLoader::Load() {
  const std::string name = media::kModuleFileName;
  std::string openError;
  for (const std::string& folder : folders) {
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
      continue;
    }
    // Never closed: the interface it returns lives as long as the process.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* reason = dlerror();
      openError = path.string() + " would not load: " + (reason != nullptr ? reason : "unknown error");
      continue;
    }
    const auto entry = reinterpret_cast<media::EntryFunction>(dlsym(module, media::kEntryName));
    codecs = entry != nullptr ? entry(media::kInterfaceVersion) : nullptr;
    if (codecs != nullptr) {
      failure.clear();
      return;
    }
    dlclose(module);
    openError = path.string() + " is not the program's media module, or is from another build";
  }
  failure = "the media module " + name + " (FFmpeg) could not be loaded: " +
            (openError.empty() ? "not found in " + Joined(folders) : openError);
}

#include "base/ModuleLoader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
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

ModuleLoader::ModuleLoader(Module what) : module(what), defaultFolders(true) {}

ModuleLoader::ModuleLoader(Module what, std::vector<std::string> searchFolders)
    : module(what), defaultFolders(false), folders(std::move(searchFolders)) {}

std::vector<std::string> ModuleLoader::DefaultFolders() {
  // The program never changes its environment once it runs.
  if (const char* chosen = std::getenv(kFolderVariable); chosen != nullptr) {  // NOLINT(concurrency-mt-unsafe)
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

const void* ModuleLoader::Interface() {
  MutexLock held(lock);
  if (!attempted) {
    attempted = true;
    Load();
  }
  return loaded;
}

std::string ModuleLoader::Failure() const {
  MutexLock held(lock);
  return failure;
}

bool ModuleLoader::Loaded() const {
  MutexLock held(lock);
  return loaded != nullptr;
}

void ModuleLoader::Load() {
  if (defaultFolders) {
    folders = DefaultFolders();
  }
  const std::string name = module.fileName;
  const std::string kind = module.kind;
  std::string openError;
  for (const std::string& folder : folders) {
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
      continue;
    }
    // Never closed: the interface it returns lives as long as the process.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();  // NOLINT(concurrency-mt-unsafe): glibc keeps it per thread
      openError = path.string() + " would not load: " + (reason != nullptr ? reason : "unknown error");
      continue;
    }
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, module.entryName));
    loaded = entry != nullptr ? entry(module.interfaceVersion) : nullptr;
    if (loaded != nullptr) {
      failure.clear();
      return;
    }
    dlclose(handle);
    openError = path.string() + " is not the program's " + kind + ", or is from another build";
  }
  failure = "the " + kind + " " + name + " (" + module.library + ") could not be loaded: " +
            (openError.empty() ? "not found in " + Joined(folders) : openError);
}

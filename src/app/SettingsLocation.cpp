#include "app/SettingsLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/SettingsStore.h"

namespace {

constexpr const char* kProgramDirectory = "driftharbour";

std::string Variable(const char* name) {
  // Nothing in the program changes its environment, so no setenv can race.
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
  return value == nullptr ? std::string() : std::string(value);
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string WithoutTrailingSlashes(std::string path) {
  // "/" becomes "", which the callers join with "/" again.
  while (!path.empty() && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

}  // namespace

SettingsLocation::Environment SettingsLocation::FromProcess() {
  return Environment{Variable("XDG_CONFIG_HOME"), Variable("HOME")};
}

bool SettingsLocation::DirectoryWritable(const std::string& directory) {
  return access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string SettingsLocation::ConfigDirectory(const Environment& environment) {
  std::string base;
  if (IsAbsolute(environment.xdgConfigHome)) {
    base = WithoutTrailingSlashes(environment.xdgConfigHome);
  } else if (IsAbsolute(environment.home)) {
    base = WithoutTrailingSlashes(environment.home) + "/.config";
  } else {
    return {};
  }
  return base + "/" + kProgramDirectory;
}

std::string SettingsLocation::PathFor(const std::string& executablePath, const Environment& environment,
                                      const WritableCheck& writable) {
  std::string beside = SettingsStore::SettingsPathFor("\"" + executablePath + "\"");
  const std::string directory = beside.substr(0, beside.find_last_of('/') + 1);
  if (writable && writable(directory)) {
    return beside;
  }
  const std::string config = ConfigDirectory(environment);
  return config.empty() ? beside : config + "/" + SettingsStore::kFileName;
}

bool SettingsLocation::PrepareDirectory(const std::string& settingsPath) {
  const std::filesystem::path directory = std::filesystem::path(settingsPath).parent_path();
  if (directory.empty()) {
    return true;
  }
  std::error_code error;
  if (std::filesystem::is_directory(directory, error)) {
    return true;
  }
  // Only the directories made here get the private mode; ~/.config itself
  // may already exist with whatever mode its owner chose. (No umask: it is
  // the whole process's, and the recordings' threads create files too.)
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path at = directory; !at.empty() && !std::filesystem::exists(at, error);
       at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path()) {
      break;
    }
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    mkdir(it->c_str(), 0700);
  }
  return std::filesystem::is_directory(directory, error);
}

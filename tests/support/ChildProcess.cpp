#include "support/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace {

// posix_spawn's list of what to do with the child's descriptors.
class FileActions {
 public:
  FileActions() : valid(posix_spawn_file_actions_init(&actions) == 0) {}
  ~FileActions() {
    if (valid) {
      posix_spawn_file_actions_destroy(&actions);
    }
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  bool Open(int fd, const std::string& path, int flags) {
    return valid && posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0600) == 0;
  }
  // dup2 clears close-on-exec on the copy, so the descriptor survives the
  // exec as fd only.
  bool Duplicate(int from, int fd) { return valid && posix_spawn_file_actions_adddup2(&actions, from, fd) == 0; }
  const posix_spawn_file_actions_t* Get() const { return &actions; }

 private:
  posix_spawn_file_actions_t actions;
  bool valid;
};

// Pointers to the strings' bytes, null-terminated, as exec wants them.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(std::vector<std::string>& arguments, const FileActions& actions, std::vector<std::string>& environment) {
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = environment.empty() ? std::vector<char*>{} : Pointers(environment);
  pid_t pid = -1;
  // posix_spawnp returns once the child has run the program (or failed to).
  if (posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv.data(), envp.empty() ? environ : envp.data()) != 0) {
    return -1;
  }
  return pid;
}

}  // namespace

pid_t SpawnChild(std::vector<std::string> arguments, const std::string& outputFile, int errorFd) {
  if (arguments.empty()) {
    return -1;
  }
  FileActions actions;
  if (!actions.Open(STDIN_FILENO, "/dev/null", O_RDONLY) ||
      !actions.Open(STDOUT_FILENO, outputFile, O_WRONLY | O_CREAT | O_TRUNC) ||
      !(errorFd >= 0 ? actions.Duplicate(errorFd, STDERR_FILENO)
                     : actions.Open(STDERR_FILENO, "/dev/null", O_WRONLY))) {
    return -1;
  }
  std::vector<std::string> environment;
  return Spawn(arguments, actions, environment);
}

pid_t SpawnChild(std::vector<std::string> arguments, const ChildOptions& options) {
  if (arguments.empty()) {
    return -1;
  }
  FileActions actions;
  if (!actions.Open(STDIN_FILENO, "/dev/null", O_RDONLY) ||
      !actions.Open(STDOUT_FILENO, options.outputFile, O_WRONLY | O_CREAT | O_TRUNC) ||
      !(options.errorToOutput ? actions.Duplicate(STDOUT_FILENO, STDERR_FILENO)
                              : actions.Open(STDERR_FILENO, "/dev/null", O_WRONLY))) {
    return -1;
  }
  // Ours, less what the options set, then the options.
  std::vector<std::string> environment;
  if (!options.environment.empty()) {
    for (char** variable = environ; *variable != nullptr; ++variable) {
      const std::string text = *variable;
      const std::string name = text.substr(0, text.find('=') + 1);
      bool replaced = false;
      for (const std::string& wanted : options.environment) {
        replaced = replaced || wanted.compare(0, name.size(), name) == 0;
      }
      if (!replaced) {
        environment.push_back(text);
      }
    }
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
  }
  return Spawn(arguments, actions, environment);
}

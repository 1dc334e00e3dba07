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
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  return pid;
}

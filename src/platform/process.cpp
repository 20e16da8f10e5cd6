#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/interrupt.h"
#include "platform/last_error.h"

extern char** environ;

namespace platform {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Owner of the spawn file actions.
class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

bool RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, int& exit_code) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnActions actions;
  if (int error = posix_spawn_file_actions_addchdir_np(actions.get(), cwd.c_str()); error != 0) {
    SetLastError(static_cast<std::uint32_t>(error));
    return false;
  }
  pid_t child = 0;
  int error = posix_spawn(&child, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (error != 0) {
    SetLastError(static_cast<std::uint32_t>(error));
    return false;
  }
  SetInterruptibleChild(child);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      SetInterruptibleChild(0);
      return FailWithErrno();
    }
  }
  SetInterruptibleChild(0);
  exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

}  // namespace platform

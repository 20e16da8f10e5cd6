#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "platform/interrupt.h"
#include "platform/interrupt_posix.h"
#include "platform/last_error.h"
#include "platform/process.h"

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

// Owner of the spawn attributes: the child starts with every signal at its default action and
// none blocked, whatever this process ignores or holds back (a closed console pipe, for one).
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// A folder of PATH as a full path: the program is started from another folder than ours.
std::string AbsoluteFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(folder.empty() ? "." : folder, error);
  return error ? folder : absolute.lexically_normal().string();
}

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    std::string candidate = folder.empty() ? "./" + name : folder + "/" + name;
    if (!IsExecutableFile(candidate)) continue;
    std::string absolute = AbsoluteFolder(folder);
    return absolute.ends_with('/') ? absolute + name : absolute + "/" + name;
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
  SpawnAttributes attributes;
  int error =
      posix_spawn(&child, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
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

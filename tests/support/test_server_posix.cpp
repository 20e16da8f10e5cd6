// Test servers on Linux: started with posix_spawn, ended with a signal.
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include "support/test_server.h"

extern char** environ;

namespace testing_support {

namespace server_host {

std::intptr_t Launch(const std::vector<std::string>& arguments) {
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
}

void End(std::intptr_t process, const std::filesystem::path&) {
  kill(static_cast<pid_t>(process), SIGKILL);
  waitpid(static_cast<pid_t>(process), nullptr, 0);
}

void ClearProxies() {
  for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY",
                           "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"}) {
    unsetenv(name);
  }
}

}  // namespace server_host
}  // namespace testing_support

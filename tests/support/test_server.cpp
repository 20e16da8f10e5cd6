#include "support/test_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

namespace testing_support {
namespace {

const std::string kSupportDir = std::string(ORBEC_SOURCE_DIR) + "/tests/support/";

// Reads the "PORT <n>" line from the server's output; 0 when it does not come in time.
int ReadPort(int fd) {
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 15000) <= 0 || read(fd, &c, 1) != 1) return 0;
    line += c;
  }
  return line.rfind("PORT ", 0) == 0 ? std::stoi(line.substr(5)) : 0;
}

}  // namespace

TestServer::TestServer(pid_t pid, int port, std::string scheme, std::filesystem::path log)
    : pid_(pid), port_(port), scheme_(std::move(scheme)), log_(std::move(log)) {}

TestServer::~TestServer() {
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  if (!log_.empty()) std::filesystem::remove(log_);
}

std::unique_ptr<TestServer> TestServer::Start(const std::string& scheme,
                                              std::vector<std::string> arguments,
                                              std::filesystem::path log) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  int port = error == 0 ? ReadPort(pipe_fds[0]) : 0;
  close(pipe_fds[0]);
  if (port == 0) {
    if (error == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    ADD_FAILURE() << "the " << scheme << " test server did not start";
    return nullptr;
  }
  return std::unique_ptr<TestServer>(new TestServer(pid, port, scheme, std::move(log)));
}

std::unique_ptr<TestServer> TestServer::StartHttp(const std::filesystem::path& root,
                                                  const Options& options) {
  std::filesystem::path log = root.string() + ".requests.log";
  std::vector<std::string> arguments = {"/usr/bin/python3",
                                        kSupportDir + "http_server.py",
                                        "--root",
                                        root.string(),
                                        "--user",
                                        options.user,
                                        "--password",
                                        options.password,
                                        "--log",
                                        log.string(),
                                        "--port",
                                        std::to_string(options.port)};
  if (!options.rules.empty()) {
    arguments.push_back("--rules");
    arguments.push_back(options.rules.string());
  }
  return Start("http", std::move(arguments), std::move(log));
}

std::unique_ptr<TestServer> TestServer::StartFtp(const std::filesystem::path& root,
                                                 const Options& options) {
  return Start(
      "ftp",
      {"/usr/bin/python3", kSupportDir + "ftp_server.py", "--root", root.string(), "--user",
       options.user, "--password", options.password, "--port", std::to_string(options.port)},
      {});
}

std::string TestServer::url() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> TestServer::RequestLog() const {
  std::vector<std::string> lines;
  std::ifstream in(log_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace testing_support

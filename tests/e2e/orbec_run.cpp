#include "orbec_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "deployment.h"
#include "support/tar_builder.h"
#include "support/zip_builder.h"

extern char** environ;

namespace e2e {

using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

std::string OrbecBinary() {
  const char* binary = std::getenv("ORBEC_BINARY");
  return binary != nullptr ? binary : std::string(ORBEC_BINARY_DIR) + "/orbec";
}

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (!extra.contains(text.substr(0, text.find('=')))) result.push_back(text);
  }
  for (const auto& [name, value] : extra) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

OrbecProcess::OrbecProcess(const std::vector<std::string>& arguments, const fs::path& cwd,
                           const std::map<std::string, std::string>& environment,
                           int closed_streams) {
  std::vector<std::string> argv = {OrbecBinary()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env = Environment(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  int pipe_ends[2] = {-1, -1};
  if (closed_streams != 0 && pipe2(pipe_ends, O_CLOEXEC) == 0) close(pipe_ends[0]);
  const std::pair<int, const char*> streams[] = {{STDOUT_FILENO, "out"}, {STDERR_FILENO, "err"}};
  for (const auto& [fd, name] : streams) {
    if ((closed_streams & (1 << (fd - 1))) != 0 && pipe_ends[1] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], fd);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, (streams_ / name).c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
  }
  std::vector<char*> argv_pointers = Pointers(argv);
  std::vector<char*> env_pointers = Pointers(env);
  if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argv_pointers.data(),
                  env_pointers.data()) != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << argv[0];
  }
  posix_spawn_file_actions_destroy(&actions);
  if (pipe_ends[1] >= 0) close(pipe_ends[1]);
}

OrbecProcess::~OrbecProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void OrbecProcess::Signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

RunResult OrbecProcess::Wait() {
  RunResult result;
  if (pid_ > 0) {
    int status = 0;
    struct rusage usage {};
    while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    result.max_rss_kb = usage.ru_maxrss;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + result.signal;
  }
  if (fs::exists(streams_ / "out")) result.out = ReadFileBytes(streams_ / "out");
  if (fs::exists(streams_ / "err")) result.err = ReadFileBytes(streams_ / "err");
  return result;
}

RunResult RunOrbec(const std::vector<std::string>& arguments, const fs::path& cwd,
                   const std::map<std::string, std::string>& environment) {
  return OrbecProcess(arguments, cwd, environment).Wait();
}

Mirror::Mirror(fs::path root) : root_(std::move(root)) {
  for (const char* file : {kDistribution, kProduct, kVirusData}) {
    fs::create_directories((root_ / file).parent_path());
  }
  WriteFileBytes(root_ / kDistribution, DistributionTar());
  testing_support::TarBuilder product;
  product.AddDirectory("kavero/").AddFile("kavero/scanner", "#!/bin/sh\necho scanning\n").AddEnd();
  WriteFileBytes(root_ / kProduct, product.Bytes());
  testing_support::WriteZip(root_ / kVirusData,
                            {{"virusDataVersion.txt", std::string(kVersion) + "\r\n"},
                             {"data/signatures.db", std::string(5000, 's')}});
  testing_support::WriteZip(root_ / kIdentities, {{"ide.db", "identities"}});
  Sign(kDistribution, kDistributionManifest);
  Sign(kProduct, kProductManifest);
}

std::string Mirror::DistributionTar() {
  testing_support::TarBuilder tar;
  tar.AddDirectory("slax/").AddDirectory("slax/boot/").AddDirectory("slax/tools/");
  tar.AddDirectory("slax/tools/WIN/");
  tar.AddFile("slax/boot/isolinux.bin", ReadFileBytes("/usr/lib/ISOLINUX/isolinux.bin"));
  tar.AddFile("slax/tools/WIN/mkisofs.exe", "placeholder\n");
  tar.AddFile("readme.txt", "demo distribution\n");
  return tar.AddEnd().Bytes();
}

void Mirror::Sign(const std::string& file, const std::string& manifest) const {
  std::string command = "bash '" + std::string(ORBEC_SOURCE_DIR) +
                        "/scripts/demo/sign-manifest.sh' '" + ORBEC_DEMO_PKI_DIR + "' '" +
                        (root_ / file).string() + "' '" + (root_ / manifest).string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

int DeploymentPort() {
  std::string_view server = deployment::kServer;
  std::size_t colon = server.rfind(':');
  bool has_port = colon != std::string_view::npos && colon > server.find("://");
  if (has_port) return std::atoi(std::string(server.substr(colon + 1)).c_str());
  return server.starts_with("https") ? 443 : server.starts_with("ftp") ? 21 : 80;
}

}  // namespace e2e

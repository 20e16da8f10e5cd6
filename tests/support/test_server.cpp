#include "support/test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "support/file_probe.h"

namespace testing_support {
namespace {

const std::string kSupportDir = std::string(ORBEC_SOURCE_DIR) + "/tests/support/";

// The port in the server's port file; 0 when it does not come in time.
int WaitForPort(const std::filesystem::path& port_file) {
  for (int attempt = 0; attempt < 1500; ++attempt) {
    std::ifstream in(port_file);
    int port = 0;
    if (in >> port && port > 0) return port;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// `root` with `suffix` appended to its last part (ASCII only).
std::filesystem::path Beside(const std::filesystem::path& root, const std::string& suffix) {
  std::filesystem::path path = root;
  path += suffix;
  return path;
}

}  // namespace

TestServer::TestServer(std::intptr_t process, int port, std::string scheme, Control control)
    : process_(process), port_(port), scheme_(std::move(scheme)), control_(std::move(control)) {}

TestServer::~TestServer() {
  std::ofstream(control_.stop_file).flush();
  server_host::End(process_, control_.port_file);
  std::error_code ignored;
  std::filesystem::remove(control_.stop_file, ignored);
  std::filesystem::remove(control_.port_file, ignored);
  if (!control_.log.empty()) std::filesystem::remove(control_.log, ignored);
}

std::unique_ptr<TestServer> TestServer::Start(const std::string& scheme,
                                              const std::filesystem::path& root,
                                              std::vector<std::string> arguments, bool logged) {
  static std::atomic<int> started{0};
  const std::string base = "." + scheme + std::to_string(++started);
  Control control{Beside(root, base + ".port"), Beside(root, base + ".stop"),
                  logged ? Beside(root, ".requests.log") : std::filesystem::path()};
  std::error_code ignored;
  std::filesystem::remove(control.port_file, ignored);
  std::filesystem::remove(control.stop_file, ignored);
  if (logged) {
    arguments.insert(arguments.end(), {"--log", HostPath(control.log)});
  }
  arguments.insert(arguments.end(),
                   {"--port-file", HostPath(control.port_file), "--stop-file",
                    HostPath(control.stop_file), "--lifetime", std::to_string(kLifetimeSeconds)});
  server_host::ClearProxies();
  std::intptr_t process = server_host::Launch(arguments);
  int port = process != 0 ? WaitForPort(control.port_file) : 0;
  if (port == 0) {
    if (process != 0) {
      std::ofstream(control.stop_file).flush();
      server_host::End(process, control.port_file);
    }
    ADD_FAILURE() << "the " << scheme << " test server did not start";
    return nullptr;
  }
  return std::unique_ptr<TestServer>(new TestServer(process, port, scheme, std::move(control)));
}

std::unique_ptr<TestServer> TestServer::StartHttp(const std::filesystem::path& root,
                                                  const Options& options) {
  std::vector<std::string> arguments = {"/usr/bin/python3", kSupportDir + "http_server.py",
                                        "--root",           HostPath(root),
                                        "--user",           options.user,
                                        "--password",       options.password,
                                        "--port",           std::to_string(options.port)};
  if (!options.rules.empty()) {
    arguments.push_back("--rules");
    arguments.push_back(HostPath(options.rules));
  }
  return Start("http", root, std::move(arguments), true);
}

std::unique_ptr<TestServer> TestServer::StartFtp(const std::filesystem::path& root,
                                                 const Options& options) {
  return Start(
      "ftp", root,
      {"/usr/bin/python3", kSupportDir + "ftp_server.py", "--root", HostPath(root), "--user",
       options.user, "--password", options.password, "--port", std::to_string(options.port)},
      false);
}

std::string TestServer::url() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> TestServer::RequestLog() const {
  std::vector<std::string> lines;
  std::ifstream in(control_.log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace testing_support

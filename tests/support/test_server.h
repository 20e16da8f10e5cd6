// A loopback HTTP or FTP server process, started on a free port for one test and stopped
// when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class TestServer {
 public:
  struct Options {
    std::string user = "demo-user";
    std::string password = "demo-pwd";
    std::filesystem::path rules;  // JSON rules of faults per path (HTTP only), may be empty
    int port = 0;                 // 0: any free port
  };

  // Serves `root`; nullptr (with a test failure) when the server does not come up.
  static std::unique_ptr<TestServer> StartHttp(const std::filesystem::path& root,
                                               const Options& options);
  static std::unique_ptr<TestServer> StartFtp(const std::filesystem::path& root,
                                              const Options& options);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" or "ftp://127.0.0.1:<port>".
  std::string url() const;
  // The requests the HTTP server got, one "GET <path> <authorization>" line each.
  std::vector<std::string> RequestLog() const;

 private:
  TestServer(pid_t pid, int port, std::string scheme, std::filesystem::path log);
  static std::unique_ptr<TestServer> Start(const std::string& scheme,
                                           std::vector<std::string> arguments,
                                           std::filesystem::path log);

  pid_t pid_;
  int port_;
  std::string scheme_;
  std::filesystem::path log_;
};

}  // namespace testing_support

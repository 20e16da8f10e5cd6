// A loopback HTTP or FTP server process, started on a free port for one test and stopped
// when the object goes.
//
// The servers are Linux programs (tests/support/*_server.py). A test under wine starts them
// detached: wine runs a Linux program without a pipe, an exit code or a way to wait for it.
// So on every platform the server writes its port to a file once it listens, and the test
// reads it from there; on Linux the test ends the server with a signal, under wine it asks
// it to stop with a stop file and waits until the server has removed its port file. A
// server whose test died stops by itself after kLifetimeSeconds.
#pragma once

#include <cstdint>
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

  static constexpr int kLifetimeSeconds = 1800;

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
  // The files through which the test and the server talk, beside the served folder.
  struct Control {
    std::filesystem::path port_file;
    std::filesystem::path stop_file;
    std::filesystem::path log;  // the request log, empty for none
  };

  TestServer(std::intptr_t process, int port, std::string scheme, Control control);
  static std::unique_ptr<TestServer> Start(const std::string& scheme,
                                           const std::filesystem::path& root,
                                           std::vector<std::string> arguments, bool logged);

  std::intptr_t process_;
  int port_;
  std::string scheme_;
  Control control_;
};

// What starting and stopping a server takes on each platform (test_server_posix.cpp,
// test_server_win.cpp).
namespace server_host {

// Starts the Linux program arguments[0] with those arguments; 0 when it could not be started.
std::intptr_t Launch(const std::vector<std::string>& arguments);
// Ends a started server that has been asked to stop through its stop file.
void End(std::intptr_t process, const std::filesystem::path& port_file);
// Takes the proxy settings out of this process's environment: the tests talk to loopback
// servers directly.
void ClearProxies();

}  // namespace server_host

}  // namespace testing_support

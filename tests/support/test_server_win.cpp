// Test servers under wine: the Linux program is started with CreateProcessW, which wine runs
// detached, and stopped through its stop file.
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "platform/windows_win.h"
#include "support/test_server.h"
#include "support/wine_host_win.h"

namespace testing_support {

namespace server_host {
std::intptr_t Launch(const std::vector<std::string>& arguments) {
  return StartOnHost(arguments) ? 1 : 0;
}

void End(std::intptr_t, const std::filesystem::path& port_file) {
  // The server removes its port file as it exits (it checks for the stop file ten times a
  // second).
  std::error_code error;
  for (int attempt = 0; attempt < 500 && std::filesystem::exists(port_file, error); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ClearProxies() {
  for (const wchar_t* name : {L"http_proxy", L"https_proxy", L"ftp_proxy", L"all_proxy"}) {
    ::SetEnvironmentVariableW(name, nullptr);
    _wputenv((std::wstring(name) + L"=").c_str());
  }
}

}  // namespace server_host
}  // namespace testing_support

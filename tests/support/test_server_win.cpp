// Test servers under wine: the Linux program is started with CreateProcessW, which wine runs
// detached, and stopped through its stop file.
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "platform/windows_win.h"
#include "support/test_server.h"

namespace testing_support {

bool RunsUnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

namespace server_host {
namespace {

// One argument on a Windows command line, quoted so that it is split back whole.
std::wstring Quoted(const std::string& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : platform::Widen(argument)) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace

std::string HostPath(const std::filesystem::path& path) {
  // wine's own export; a Windows without wine has no Linux side to serve the tests.
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return {};
  char* unix_path = to_unix(std::filesystem::absolute(path).wstring().c_str());
  if (unix_path == nullptr) return {};
  std::string result = unix_path;
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

std::intptr_t Launch(const std::vector<std::string>& arguments) {
  std::wstring command_line;
  for (const std::string& argument : arguments) {
    command_line += (command_line.empty() ? L"" : L" ") + Quoted(argument);
  }
  std::wstring program = L"Z:" + platform::Widen(arguments[0]);
  for (wchar_t& c : program) c = c == L'/' ? L'\\' : c;
  // The server's standard streams go nowhere: handed this process's own, wine loses what
  // this process writes to them afterwards.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  platform::UniqueHandle nowhere(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                               OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nowhere.get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
    return 0;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return 1;
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

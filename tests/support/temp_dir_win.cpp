#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "platform/file_ops.h"
#include "platform/windows_win.h"
#include "support/temp_dir.h"

namespace testing_support {
namespace {

// The Linux path of a path of this process, from wine's own export; "" elsewhere.
std::string UnixPath(const std::filesystem::path& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  // Through void(*)() the cast between function types is a plain one.
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return "";
  char* unix_path = to_unix(std::filesystem::absolute(path).wstring().c_str());
  if (unix_path == nullptr) return "";
  std::string result = unix_path;
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a command in the Linux shell and waits for it. Wine starts a Linux program detached,
// with no exit code to wait for: the command touches a file of ours when it is done.
bool RunOnHost(const std::string& command) {
  char name[40];
  std::snprintf(name, sizeof name, "orbec-host-%08x",
                static_cast<unsigned>(std::random_device()()));
  const std::filesystem::path done = std::filesystem::temp_directory_path() / name;
  const std::string done_unix = UnixPath(done);
  if (done_unix.empty()) return false;
  std::string script = command + " && : > " + ShellQuoted(done_unix);
  if (script.find('"') != std::string::npos) return false;
  std::wstring line = L"sh -c \"" + std::filesystem::path(script).wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::error_code error;
  for (int wait = 0; wait < 2000; ++wait) {
    if (std::filesystem::exists(done, error)) {
      std::filesystem::remove(done, error);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  if (UnderWine()) {
    // A relative target stays relative to the link's folder, as ln makes it.
    const std::string unix_target =
        target.is_absolute() ? UnixPath(target) : target.generic_string();
    return RunOnHost("ln -s " + ShellQuoted(unix_target) + " " + ShellQuoted(UnixPath(link)));
  }
  const DWORD folder =
      std::filesystem::is_directory(target, error) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  return ::CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(),
                               folder | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
         std::filesystem::is_symlink(link, error);
}

bool GiveToAnotherUser(const std::filesystem::path& path) {
  return UnderWine() && RunOnHost("chown 65534:65534 " + ShellQuoted(UnixPath(path)));
}

bool RemoveOnHost(const std::filesystem::path& path) {
  if (platform::RemoveTree(path.string())) return true;
  return UnderWine() && RunOnHost("rm -rf " + ShellQuoted(UnixPath(path)));
}

std::optional<std::filesystem::path> OtherFileSystemFolder() {
  std::error_code error;
  if (UnderWine() && std::filesystem::is_directory("Z:\\dev\\shm", error)) return "Z:\\dev\\shm";
  return std::nullopt;
}

}  // namespace testing_support

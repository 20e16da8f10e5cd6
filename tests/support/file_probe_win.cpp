// Under wine, CreateSymbolicLinkW returns TRUE and makes nothing, so the link is made from the
// Linux side: wine starts Linux programs (detached), and ln makes the link in the Unix view
// of the prefix's drives. Wine then shows a link to a directory as a reparse point.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows_win.h"
// After windows.h, whose types it uses.
#include <aclapi.h>
#include <sddl.h>

#include "support/file_probe.h"
#include "support/wine_host_win.h"

namespace testing_support {
namespace {

std::int64_t UnixSeconds(const FILETIME& time) {
  const std::uint64_t ticks = std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10'000'000) - 11'644'473'600;
}

bool Exists(const std::filesystem::path& at) {
  return ::GetFileAttributesW(at.c_str()) != INVALID_FILE_ATTRIBUTES ||
         ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Starts a Linux program under wine and waits until done() holds.
bool RunOnHost(const std::vector<std::string>& arguments, const std::function<bool()>& done) {
  if (!StartOnHost(arguments)) return false;
  for (int i = 0; i < 500 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

bool LinkFromLinux(const std::filesystem::path& target, const std::filesystem::path& at) {
  const std::string unix_target = HostPath(target);
  const std::string unix_at = HostPath(at);
  if (unix_target.empty() || unix_at.empty()) return false;
  return RunOnHost({"/bin/ln", "-s", unix_target, unix_at}, [&] { return Exists(at); });
}

}  // namespace

std::string HostPath(const std::filesystem::path& path) {
  // wine's own export; a Windows without wine has no Linux side.
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return "";
  char* name = to_unix(std::filesystem::absolute(path).c_str());
  if (name == nullptr) return "";
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

bool StartOnHost(const std::vector<std::string>& arguments) {
  std::wstring command_line;
  for (const std::string& argument : arguments) {
    command_line += (command_line.empty() ? L"" : L" ") +
                    platform::QuoteWindowsArgument(platform::Widen(argument));
  }
  std::wstring program = L"Z:" + platform::Widen(arguments[0]);
  for (wchar_t& c : program) c = c == L'/' ? L'\\' : c;
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
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

const char* const kNoOtherUser =
    "handing a file to another user needs the Linux side of wine (real Windows: another "
    "account)";

const char* const kNoSymbolicLinks =
    "no symbolic link can be made here: CreateSymbolicLinkW made none (wine returns TRUE and "
    "creates nothing) and no Linux side runs ln";

FileTimes TimesOf(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return {UnixSeconds(data.ftLastAccessTime), UnixSeconds(data.ftLastWriteTime)};
}

bool MakeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& at,
                      bool directory) {
  const DWORD flags =
      (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (::CreateSymbolicLinkW(at.c_str(), target.c_str(), flags) && Exists(at)) return true;
  if (Exists(target)) return LinkFromLinux(target, at);
  // Wine cannot see a dangling link appear: the link is made to a stand-in removed after.
  const bool made = directory ? ::CreateDirectoryW(target.c_str(), nullptr)
                              : ::CloseHandle(::CreateFileW(target.c_str(), GENERIC_WRITE, 0,
                                                            nullptr, CREATE_NEW, 0, nullptr));
  const bool linked = made && LinkFromLinux(target, at);
  if (made) directory ? ::RemoveDirectoryW(target.c_str()) : ::DeleteFileW(target.c_str());
  return linked;
}

}  // namespace testing_support

namespace testing_support {

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

bool LetOthersWrite(const std::filesystem::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // Everyone may do anything
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  const bool done = ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        L"D:(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr) &&
                    ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) &&
                    ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION, nullptr, nullptr, list,
                                            nullptr) == ERROR_SUCCESS;
  ::LocalFree(descriptor);
  return done;
}

bool GiveToAnotherUser(const std::filesystem::path& path) {
  const std::string unix_path = HostPath(path);
  if (unix_path.empty()) return false;
  // chown changes nothing that Windows calls see at once: a marker says it is done.
  const std::filesystem::path done = path.string() + ".chowned";
  const std::string unix_done = HostPath(done);
  const bool changed = RunOnHost(
      {"/bin/sh", "-c", "chown 65534:65534 '" + unix_path + "' && : > '" + unix_done + "'"},
      [&] { return Exists(done); });
  ::DeleteFileW(done.c_str());
  return changed;
}

std::optional<std::filesystem::path> OtherFileSystemFolder() {
  // Under wine, Z: is the Linux root: /dev/shm is a file system of its own there.
  if (UnderWine() && Exists("Z:\\dev\\shm")) return std::filesystem::path("Z:\\dev\\shm");
  return std::nullopt;
}

void RemoveLeftovers(const std::filesystem::path& path) {
  const std::string unix_path = HostPath(path);
  if (unix_path.empty() || unix_path == "/") return;
  RunOnHost({"/bin/rm", "-rf", unix_path}, [&] { return !Exists(path); });
}

}  // namespace testing_support

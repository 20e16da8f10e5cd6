// Under wine, CreateSymbolicLinkW returns TRUE and makes nothing, so the link is made from the
// Linux side: wine starts Linux programs (detached), and ln makes the link in the Unix view
// of the prefix's drives. Wine then shows a link to a directory as a reparse point.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/windows_win.h"
#include "support/file_probe.h"

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

// The Unix name of a path under wine; empty elsewhere.
std::string UnixName(const std::filesystem::path& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (convert == nullptr) return "";
  char* name = convert(std::filesystem::absolute(path).c_str());
  if (name == nullptr) return "";
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Starts a Linux program under wine (which runs it detached) and waits until done() holds.
bool RunOnLinux(const wchar_t* program, const std::string& command_line,
                const std::function<bool()>& done) {
  std::wstring command = platform::Widen(command_line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int i = 0; i < 500 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

bool LinkFromLinux(const std::filesystem::path& target, const std::filesystem::path& at) {
  const std::string unix_target = UnixName(target);
  const std::string unix_at = UnixName(at);
  if (unix_target.empty() || unix_at.empty()) return false;
  return RunOnLinux(L"Z:\\bin\\ln", "/bin/ln -s \"" + unix_target + "\" \"" + unix_at + "\"",
                    [&] { return Exists(at); });
}

}  // namespace

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

bool GiveToAnotherUser(const std::filesystem::path& path) {
  const std::string unix_path = UnixName(path);
  if (unix_path.empty()) return false;
  // chown changes nothing that Windows calls see at once: a marker says it is done.
  const std::filesystem::path done = path.string() + ".chowned";
  const std::string unix_done = UnixName(done);
  const bool changed =
      RunOnLinux(L"Z:\\bin\\sh",
                 "/bin/sh -c \"chown 65534:65534 '" + unix_path + "' && : > '" + unix_done + "'\"",
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
  const std::string unix_path = UnixName(path);
  if (unix_path.empty() || unix_path == "/") return;
  RunOnLinux(L"Z:\\bin\\rm", "/bin/rm -rf \"" + unix_path + "\"", [&] { return !Exists(path); });
}

}  // namespace testing_support

// A stand-in for the distribution's slax/tools/WIN/mkisofs.exe, for the tests and the demo
// distribution under wine: a program of its own, not a part of the tool.
//
// It appends the command line it was given (exactly, as GetCommandLineW returns it) and its
// current folder, as the lines "command line: <text>" and "current folder: <path>" in UTF-8,
// to the file named by ORBEC_STANDIN_RECORD (by default "mkisofs.record" beside itself). When
// ORBEC_STANDIN_EXIT is set it ends with that code. Otherwise it has the host's ISO program write
// the image, and then appends as many MiB of zeros as ORBEC_STANDIN_PAD_MIB says (a large image
// for slow moves). Under wine that program is xorriso on the Linux side, given the same arguments
// after "-as mkisofs". A Linux program started from a Windows one runs detached (no wait, no exit
// code, no pipe), so the shell that runs it writes the exit code into a file, which the stand-in
// waits for. xorriso's messages go to a log that is copied to standard error when it fails or
// when asked for "-v".
#include "platform/windows_win.h"
// shellapi.h needs the declarations of windows.h.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitLimitMs = 30 * 60 * 1000;
constexpr int kNoHostProgram = 126;
constexpr int kTimedOut = 124;

std::wstring Environment(const wchar_t* name) {
  DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(::GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring CurrentFolder() {
  std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

bool AppendToFile(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  ::CloseHandle(file);
  return ok;
}

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  ::CloseHandle(file);
  return bytes;
}

// The Linux path of a Windows path, where wine tells it; empty elsewhere.
std::string UnixPath(const std::wstring& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  auto unix_file_name = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_file_name == nullptr) return {};
  char* name = unix_file_name(path.c_str());
  if (name == nullptr) return {};
  std::string unix_path = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  return unix_path;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> OwnArguments() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> result;
  for (int i = 1; arguments != nullptr && i < count; ++i)
    result.push_back(platform::Narrow(arguments[i]));
  ::LocalFree(arguments);
  return result;
}

// Runs xorriso on the Linux side in the current folder and returns its exit code.
int RunHostIsoProgram(const std::vector<std::string>& arguments, bool verbose) {
  std::wstring temp(MAX_PATH + 1, L'\0');
  temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
  const std::wstring base = temp + L"orbec-standin-" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring done = base + L".done";
  const std::wstring log = base + L".log";
  const std::string folder = UnixPath(CurrentFolder());
  const std::string unix_done = UnixPath(done);
  const std::string unix_log = UnixPath(log);
  if (folder.empty() || unix_done.empty() || unix_log.empty()) {
    std::fprintf(stderr, "mkisofs stand-in: the host's ISO program is reachable only under wine\n");
    return kNoHostProgram;
  }
  ::DeleteFileW(done.c_str());
  std::string script = "cd " + ShellQuoted(folder) + " && PATH=/usr/bin:/bin xorriso -as mkisofs";
  for (const std::string& argument : arguments) script += " " + ShellQuoted(argument);
  script += " >" + ShellQuoted(unix_log) + " 2>&1; echo $? >" + ShellQuoted(unix_done + ".part") +
            " && mv " + ShellQuoted(unix_done + ".part") + " " + ShellQuoted(unix_done);

  std::wstring wide_script(script.size(), L'\0');
  wide_script.resize(::MultiByteToWideChar(CP_UTF8, 0, script.data(),
                                           static_cast<int>(script.size()), wide_script.data(),
                                           static_cast<int>(wide_script.size())));
  std::wstring command_line = L"/bin/sh -c " + platform::QuoteWindowsArgument(wide_script);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    std::fprintf(stderr, "mkisofs stand-in: cannot start /bin/sh (error %lu)\n", ::GetLastError());
    return kNoHostProgram;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);

  DWORD waited = 0;
  while (::GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (waited >= kWaitLimitMs) return kTimedOut;
    ::Sleep(50);
    waited += 50;
  }
  int code = std::atoi(ReadWholeFile(done).c_str());
  if (code != 0 || verbose) {
    std::string messages = ReadWholeFile(log);
    std::fwrite(messages.data(), 1, messages.size(), stderr);
  }
  ::DeleteFileW(done.c_str());
  ::DeleteFileW(log.c_str());
  return code;
}

// Appends `mebibytes` MiB of zeros to the image that follows "-o" (what an image holds is read
// from its start: it stays whole); the exit code.
int PadImage(const std::vector<std::string>& arguments, unsigned long mebibytes) {
  auto output = std::find(arguments.begin(), arguments.end(), "-o");
  if (output == arguments.end() || ++output == arguments.end()) return kNoHostProgram;
  std::FILE* file = _wfopen(platform::Widen(*output).c_str(), L"ab");
  const std::vector<char> zeros(1 << 20);
  while (file != nullptr && mebibytes > 0 && std::fwrite(zeros.data(), zeros.size(), 1, file) == 1)
    --mebibytes;
  return file != nullptr && std::fclose(file) == 0 && mebibytes == 0 ? 0 : kNoHostProgram;
}

}  // namespace

int main() {
  std::wstring record = Environment(L"ORBEC_STANDIN_RECORD");
  if (record.empty()) {
    record = OwnPath();
    if (record.ends_with(L".exe")) record.resize(record.size() - 4);
    record += L".record";
  }
  if (!AppendToFile(record, "command line: " + platform::Narrow(::GetCommandLineW()) +
                                "\ncurrent folder: " + platform::Narrow(CurrentFolder()) + "\n")) {
    std::fprintf(stderr, "mkisofs stand-in: cannot write the record (error %lu)\n",
                 ::GetLastError());
    return kNoHostProgram;
  }
  const std::wstring exit_code = Environment(L"ORBEC_STANDIN_EXIT");
  if (!exit_code.empty()) return static_cast<int>(std::wcstoul(exit_code.c_str(), nullptr, 10));

  const std::vector<std::string> arguments = OwnArguments();
  bool verbose = false;
  for (const std::string& argument : arguments) verbose = verbose || argument == "-v";
  const int code = RunHostIsoProgram(arguments, verbose);
  const std::wstring padding = Environment(L"ORBEC_STANDIN_PAD_MIB");
  if (code != 0 || padding.empty()) return code;
  return PadImage(arguments, std::wcstoul(padding.c_str(), nullptr, 10));
}

// Child processes on Windows: found on PATH, started with CreateProcessW and the tool's own
// standard handles, waited for without a time limit.
#include <optional>
#include <string_view>

#include "platform/interrupt_win.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/windows_win.h"

namespace platform {
namespace {

// The job that every child joins. The system ends the job's processes when its last handle
// closes, that is when the tool ends, however it ends: a child never goes on writing into
// a work folder that is being removed. nullptr when the system refuses a job.
HANDLE ChildJob() {
  static const HANDLE job = [] {
    HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (created != nullptr && !::SetInformationJobObject(created, JobObjectExtendedLimitInformation,
                                                         &limits, sizeof limits)) {
      ::CloseHandle(created);
      created = nullptr;
    }
    return created;
  }();
  return job;
}

bool IsProgramFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring EnvironmentValue(const wchar_t* name) {
  std::wstring value(::GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  value.resize(::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return value;
}

std::optional<std::wstring> FullPathOf(const std::wstring& path) {
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  if (full.empty()) return std::nullopt;
  DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return std::nullopt;
  full.resize(length);
  return full;
}

// Starts the program suspended, lets it join the job and tells the interruption clean-up,
// all before it runs a single instruction; then waits for its end.
bool Run(const std::wstring& program, std::wstring command_line, const std::string& cwd,
         int& exit_code) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  const std::wstring folder = Widen(cwd);
  UniqueHandle process;
  UniqueHandle thread;
  {
    InterruptsHeld held;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                          CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &started)) {
      return FailWithSystemError();
    }
    process.Reset(started.hProcess);
    thread.Reset(started.hThread);
    if (HANDLE job = ChildJob()) ::AssignProcessToJobObject(job, process.get());
    SetInterruptibleChild(process.get());
    ::ResumeThread(thread.get());
  }
  DWORD code = 0;
  bool ended = ::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
               ::GetExitCodeProcess(process.get(), &code);
  {
    InterruptsHeld held;
    SetInterruptibleChild(nullptr);
  }
  exit_code = ended ? static_cast<int>(code) : -1;
  return true;
}

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name) {
  std::wstring file = Widen(name);
  if (file.find(L'.') == std::wstring::npos) file += L".exe";
  const std::wstring path = EnvironmentValue(L"PATH");
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring folder = path.substr(start, end - start);
    start = end + 1;
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
      folder = folder.substr(1, folder.size() - 2);
    }
    if (folder.empty()) continue;  // unlike a POSIX PATH, not the current folder
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    if (!IsProgramFile(folder + file)) continue;
    if (std::optional<std::wstring> full = FullPathOf(folder + file)) return Narrow(*full);
  }
  return std::nullopt;
}

bool RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, int& exit_code) {
  std::wstring command_line;
  for (const std::string& argument : arguments) {
    if (!command_line.empty()) command_line += L' ';
    command_line += QuoteWindowsArgument(Widen(argument));
  }
  return Run(Widen(program), command_line, cwd, exit_code);
}

std::optional<std::string> ProgramBesideTool(const std::string& name) {
  std::wstring own(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
  if (length == 0 || length >= own.size()) return std::nullopt;
  own.resize(length);
  const std::size_t separator = own.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return std::nullopt;
  const std::wstring path = own.substr(0, separator + 1) + Widen(name);
  if (!IsProgramFile(path)) return std::nullopt;
  return Narrow(path);
}

bool RunProcessWithCommandLine(const std::string& program, const std::string& command_line,
                               const std::string& cwd, int& exit_code) {
  return Run(Widen(program), Widen(command_line), cwd, exit_code);
}

}  // namespace platform

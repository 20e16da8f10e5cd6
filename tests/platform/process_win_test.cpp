// Child processes on Windows, with the stand-in mkisofs.exe (built beside the test programs)
// as the child: it records the command line it got and its current folder, and exits with
// ORBEC_STANDIN_EXIT.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/windows_win.h"
// shellapi.h needs the declarations of windows.h.
#include <shellapi.h>

#include "support/temp_dir.h"

using namespace platform;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

std::string StandIn() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return (std::filesystem::path(std::wstring(path, length)).parent_path() / "mkisofs.exe").string();
}

// Runs the child with the environment the stand-in reads; the record's two lines come back.
class StandInRun : public testing::Test {
 protected:
  void SetUp() override {
    record_ = dir_ / "record.txt";
    ::SetEnvironmentVariableW(L"ORBEC_STANDIN_RECORD", Widen(record_).c_str());
    ::SetEnvironmentVariableW(L"ORBEC_STANDIN_EXIT", L"7");
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"ORBEC_STANDIN_RECORD", nullptr);
    ::SetEnvironmentVariableW(L"ORBEC_STANDIN_EXIT", nullptr);
  }
  std::string Recorded() { return ReadFileBytes(record_); }

  TempDir dir_;
  std::string record_;
};

// The arguments of a command line as the C runtime's rules read them.
std::vector<std::string> ArgumentsOf(const std::string& command_line) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(Widen(command_line).c_str(), &count);
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.push_back(Narrow(arguments[i]));
  ::LocalFree(arguments);
  return result;
}

}  // namespace

TEST_F(StandInRun, ArgumentsArriveAsGivenInTheGivenFolder) {
  const std::vector<std::string> arguments = {
      "mkisofs",           "plain",      "with blank",      "",
      "a \"quoted\" word", "trailing\\", "back\\\\\"slash", "caf\xc3\xa9"};
  int code = -1;
  ASSERT_TRUE(RunProcess(StandIn(), arguments, dir_.path().string(), code));
  EXPECT_EQ(code, 7);
  const std::string recorded = Recorded();
  const std::size_t line_end = recorded.find('\n');
  ASSERT_EQ(recorded.rfind("command line: ", 0), 0u);
  EXPECT_EQ(ArgumentsOf(recorded.substr(14, line_end - 14)), arguments);
  EXPECT_EQ(recorded.substr(line_end + 1), "current folder: " + dir_.path().string() + "\n");
}

TEST_F(StandInRun, ACommandLineArrivesVerbatim) {
  const std::string line =
      "\"slax/tools/WIN/mkisofs.exe\" -quiet -J -b \"slax/boot/isolinux.bin\" -V \"ORBE 1 2\" .";
  int code = -1;
  ASSERT_TRUE(RunProcessWithCommandLine(StandIn(), line, dir_.path().string(), code));
  EXPECT_EQ(code, 7);
  EXPECT_EQ(Recorded(),
            "command line: " + line + "\ncurrent folder: " + dir_.path().string() + "\n");
}

TEST(RunProcess, FailsToStartAMissingProgramOrInAMissingFolder) {
  TempDir dir;
  int code = 0;
  EXPECT_FALSE(RunProcess(dir / "none.exe", {"none"}, dir.path().string(), code));
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RunProcessWithCommandLine(StandIn(), "mkisofs", dir / "missing", code));
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ERROR_DIRECTORY));
  EXPECT_FALSE(FindProgramOnPath("orbec-no-such-program"));
}

TEST(FindProgramOnPath, SemicolonsQuotesAndTheExeExtension) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "with blank");
  ASSERT_TRUE(
      ::CopyFileW(Widen(StandIn()).c_str(), Widen(dir / "with blank/tool.exe").c_str(), TRUE));
  std::wstring saved(32767, L'\0');
  saved.resize(::GetEnvironmentVariableW(L"PATH", saved.data(), 32767));
  const std::string path = (dir / "none") + ";;\"" + (dir / "with blank") + "\"";
  ::SetEnvironmentVariableW(L"PATH", Widen(path).c_str());
  auto by_name = FindProgramOnPath("tool");
  auto by_file = FindProgramOnPath("tool.exe");
  auto missing = FindProgramOnPath("tool.com");
  ::SetEnvironmentVariableW(L"PATH", saved.c_str());
  const std::string expected = (dir.path() / "with blank" / "tool.exe").string();
  EXPECT_EQ(by_name, expected);
  EXPECT_EQ(by_file, expected);
  EXPECT_FALSE(missing);
}

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/process.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

TEST(RunProcess, RunsInTheGivenFolderAndReportsTheExitCode) {
  TempDir dir;
  auto shell = FindProgramOnPath("sh");
  ASSERT_TRUE(shell);
  int code = -1;
  ASSERT_TRUE(RunProcess(*shell, {"sh", "-c", "pwd > where; exit 7"}, dir.path().string(), code));
  EXPECT_EQ(code, 7);
  EXPECT_EQ(ReadFileBytes(dir / "where"), dir.path().string() + "\n");
  ASSERT_TRUE(RunProcess(*shell, {"sh", "-c", "kill -9 $$"}, dir.path().string(), code));
  EXPECT_EQ(code, 128 + 9);
}

TEST(RunProcess, FailsToStartAMissingProgramOrInAMissingFolder) {
  TempDir dir;
  int code = 0;
  EXPECT_FALSE(RunProcess(dir / "none", {"none"}, dir.path().string(), code));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_FALSE(RunProcess("/bin/sh", {"sh", "-c", "true"}, dir / "missing", code));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_FALSE(FindProgramOnPath("orbec-no-such-program"));
}

TEST(RunProcess, AProgramFoundThroughARelativePathEntryStartsFromAnotherFolder) {
  TempDir dir;
  fs::create_directories(dir / "bin");
  WriteFileBytes(dir / "bin/tool", "#!/bin/sh\necho \"$0\" > started\n");
  fs::permissions(dir / "bin/tool", fs::perms::owner_all);
  fs::create_directories(dir / "elsewhere");
  fs::path before = fs::current_path();
  const char* saved = std::getenv("PATH");
  std::string original = saved ? saved : "";
  fs::current_path(dir.path());
  setenv("PATH", ("bin::" + original).c_str(), 1);
  auto tool = FindProgramOnPath("tool");
  setenv("PATH", original.c_str(), 1);
  fs::current_path(before);
  ASSERT_TRUE(tool);
  EXPECT_EQ(*tool, dir / "bin/tool");
  int code = -1;
  ASSERT_TRUE(RunProcess(*tool, {"tool"}, dir / "elsewhere", code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(fs::exists(dir / "elsewhere/started"));
}

TEST(RunProcess, TheChildStartsWithDefaultSignalActions) {
  TempDir dir;
  // The tool itself ignores SIGPIPE; its child must not inherit that.
  EXPECT_EXIT(
      {
        signal(SIGPIPE, SIG_IGN);
        int code = -1;
        bool ran = RunProcess("/bin/sh", {"sh", "-c", "kill -PIPE $$"}, dir.path().string(), code);
        _exit(ran && code == 128 + SIGPIPE ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

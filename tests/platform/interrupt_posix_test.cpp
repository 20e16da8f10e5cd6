#include "platform/interrupt_posix.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/folder_lock.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

void MakeTree(const fs::path& root) {
  fs::create_directories(root / "a/b/c");
  for (int i = 0; i < 300; ++i) {
    WriteFileBytes(root / "a" / ("file-with-a-longish-name-" + std::to_string(i)), "x");
  }
  WriteFileBytes(root / "a/b/c/deep", "x");
}

}  // namespace

TEST(FolderLock, ALinkInPlaceOfTheLockFileIsRefused) {
  TempDir dir;
  WriteFileBytes(dir / "target", "keep");
  fs::create_symlink(dir / "target", dir / "work.lock");
  EXPECT_FALSE(FolderLock::Acquire(dir / "work.lock"));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ELOOP));
  EXPECT_EQ(ReadFileBytes(dir / "target"), "keep");
}

TEST(RemoveTreeSignalSafe, RemovesABigTreeButNoLinkTarget) {
  TempDir dir;
  MakeTree(dir.path() / "tree");
  fs::create_directory(dir.path() / "outside");
  WriteFileBytes(dir.path() / "outside/keep", "keep");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree/a/link");
  EXPECT_TRUE(RemoveTreeSignalSafe((dir / "tree").c_str()));
  EXPECT_FALSE(fs::exists(dir.path() / "tree"));
  EXPECT_EQ(ReadFileBytes(dir.path() / "outside/keep"), "keep");
  EXPECT_TRUE(RemoveTreeSignalSafe((dir / "tree").c_str()));
}

TEST(InterruptCleanup, ASignalRemovesTheFolderAndEndsTheProcessByIt) {
  TempDir dir;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    MakeTree(dir.path() / "work");
    WriteFileBytes(dir / "work.lock", "");
    EXPECT_EXIT(
        {
          InterruptCleanup cleanup(dir / "work", dir / "work.lock");
          raise(signal_number);
          _exit(0);
        },
        testing::KilledBySignal(signal_number), "");
    EXPECT_FALSE(fs::exists(dir.path() / "work")) << signal_number;
    EXPECT_FALSE(fs::exists(dir.path() / "work.lock")) << signal_number;
  }
}

TEST(InterruptCleanup, ClaimedFilesGoUnlessSomethingElseTookTheirName) {
  TempDir dir;
  fs::create_directory(dir.path() / "work");
  WriteFileBytes(dir / "new.iso", "");
  WriteFileBytes(dir / "copy", "");
  WriteFileBytes(dir / "image", "finished image");
  EXPECT_EXIT(
      {
        InterruptCleanup cleanup(dir / "work", "");
        ClaimedFile output(dir / "new.iso");
        ClaimedFile copy(dir / "copy");
        ClaimedFile gone(dir / "never-there");
        // The image takes the claimed name: its own file must stay.
        fs::rename(dir / "image", dir / "copy");
        raise(SIGTERM);
        _exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(fs::exists(dir / "new.iso"));
  EXPECT_EQ(ReadFileBytes(dir / "copy"), "finished image");
}

TEST(InterruptCleanup, TheRunningChildIsStoppedFirst) {
  TempDir dir;
  fs::create_directory(dir.path() / "work");
  std::string pid_file = dir / "child.pid";
  EXPECT_EXIT(
      {
        InterruptCleanup cleanup(dir / "work", "");
        pid_t child = fork();
        if (child == 0) {
          execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
          _exit(1);
        }
        WriteFileBytes(pid_file, std::to_string(child));
        SetInterruptibleChild(child);
        raise(SIGTERM);
        _exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
  pid_t child = std::stoi(ReadFileBytes(pid_file));
  EXPECT_NE(kill(child, 0), 0) << "the child still runs";
  EXPECT_FALSE(fs::exists(dir.path() / "work"));
}

TEST(InterruptCleanup, LeavesTheHandlersAsTheyWere) {
  struct sigaction before {};
  sigaction(SIGTERM, nullptr, &before);
  { InterruptCleanup cleanup("/nonexistent", ""); }
  struct sigaction after {};
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(before.sa_handler, after.sa_handler);
}

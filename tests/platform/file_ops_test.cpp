#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

TEST(FullPath, ResolvesAgainstTheCurrentDirectoryWithoutTouchingTheDisk) {
  std::string full;
  ASSERT_TRUE(FullPath("out.iso", full));
  EXPECT_EQ(full, (fs::current_path() / "out.iso").string());
  ASSERT_TRUE(FullPath("missing/folder/../out.iso", full));
  EXPECT_EQ(full, (fs::current_path() / "missing/out.iso").string());
  ASSERT_TRUE(FullPath("/abs/./x.iso", full));
  EXPECT_EQ(full, "/abs/x.iso");
}

TEST(FullPath, AnEmptyPathFails) {
  std::string full = "unchanged";
  EXPECT_FALSE(FullPath("", full));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(full, "unchanged");
}

TEST(TempFolder, TakesTmpdirAndAlwaysEndsWithASeparator) {
  const char* saved = std::getenv("TMPDIR");
  std::string original = saved ? saved : "";
  std::string folder;
  setenv("TMPDIR", "/var/tmp", 1);
  ASSERT_TRUE(TempFolder(folder));
  EXPECT_EQ(folder, "/var/tmp/");
  setenv("TMPDIR", "", 1);
  ASSERT_TRUE(TempFolder(folder));
  EXPECT_EQ(folder, "/tmp/");
  unsetenv("TMPDIR");
  ASSERT_TRUE(TempFolder(folder));
  EXPECT_EQ(folder, "/tmp/");
  if (saved) setenv("TMPDIR", original.c_str(), 1);
}

TEST(CanOpenForAppend, CreatesAMissingFileAndLeavesAnExistingOneAlone) {
  TempDir dir;
  bool created = false;
  EXPECT_TRUE(CanOpenForAppend(dir / "new.iso", created));
  EXPECT_TRUE(created);
  EXPECT_TRUE(fs::exists(dir / "new.iso"));
  EXPECT_EQ(fs::file_size(dir / "new.iso"), 0u);
  WriteFileBytes(dir / "old.iso", "content");
  EXPECT_TRUE(CanOpenForAppend(dir / "old.iso", created));
  EXPECT_FALSE(created);
  EXPECT_EQ(ReadFileBytes(dir / "old.iso"), "content");
  fs::create_symlink(dir / "target.iso", dir / "dangling.iso");
  EXPECT_TRUE(CanOpenForAppend(dir / "dangling.iso", created));
  EXPECT_FALSE(created) << "the file made is the link's target, not the path";
}

TEST(CanOpenForAppend, FailsOnAFolderAndInAMissingFolder) {
  TempDir dir;
  bool created = true;
  errno = 0;
  EXPECT_FALSE(CanOpenForAppend(dir.path().string(), created));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(CanOpenForAppend(dir / "missing/out.iso", created));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(created);
}

TEST(CanOpenForAppend, FailsOnAReadOnlyFileForAnOrdinaryUser) {
  TempDir dir;
  fs::permissions(dir.path(),
                  fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
  WriteFileBytes(dir / "ro.iso", "x");
  chmod((dir / "ro.iso").c_str(), 0444);
  // root may write anything, so the check runs in a child that gave up its privileges.
  EXPECT_EXIT(
      {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        bool created = false;
        _exit(CanOpenForAppend(dir / "ro.iso", created) ? 0 : (errno == EACCES ? 1 : 2));
      },
      testing::ExitedWithCode(1), "");
}

TEST(MakePrivateDirectory, CreatesAFolderOnlyItsOwnerMayEnter) {
  TempDir dir;
  std::string work = dir / "work";
  ASSERT_TRUE(MakePrivateDirectory(work));
  EXPECT_EQ(fs::status(work).permissions() & fs::perms::all, fs::perms::owner_all);
  chmod(work.c_str(), 0755);
  EXPECT_TRUE(MakePrivateDirectory(work)) << "an own folder left behind is reused";
  EXPECT_EQ(fs::status(work).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(MakePrivateDirectory, RefusesALinkAFileAndAForeignFolder) {
  TempDir dir;
  fs::create_directory(dir / "target");
  fs::create_directory_symlink(dir / "target", dir / "link");
  EXPECT_FALSE(MakePrivateDirectory(dir / "link"));
  EXPECT_EQ(GetLastError(), kErrorFolderIsLink);
  EXPECT_EQ(LastErrorText(), "The folder is a symbolic link");

  WriteFileBytes(dir / "file", "x");
  EXPECT_FALSE(MakePrivateDirectory(dir / "file"));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOTDIR));

  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  fs::create_directory(dir / "foreign");
  ASSERT_EQ(chown((dir / "foreign").c_str(), 65534, 65534), 0);
  EXPECT_FALSE(MakePrivateDirectory(dir / "foreign"));
  EXPECT_EQ(GetLastError(), kErrorFolderForeignOwner);
}

TEST(RemoveTree, RemovesEverythingButNeverFollowsALink) {
  TempDir dir;
  fs::create_directories(dir / "tree/sub");
  WriteFileBytes(dir / "tree/sub/file", "x");
  fs::create_directory(dir / "outside");
  WriteFileBytes(dir / "outside/keep", "keep");
  fs::create_directory_symlink(dir / "outside", dir / "tree/link");
  EXPECT_TRUE(RemoveTree(dir / "tree"));
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_EQ(ReadFileBytes(dir / "outside/keep"), "keep");
  EXPECT_TRUE(RemoveTree(dir / "tree")) << "a missing tree is fine";
}

TEST(MoveFileReplace, ReplacesAnExistingTarget) {
  TempDir dir;
  WriteFileBytes(dir / "image", "new image");
  WriteFileBytes(dir / "out.iso", "");
  ASSERT_TRUE(MoveFileReplace(dir / "image", dir / "out.iso"));
  EXPECT_EQ(ReadFileBytes(dir / "out.iso"), "new image");
  EXPECT_FALSE(fs::exists(dir / "image"));
}

TEST(MoveFileReplace, CopiesAcrossFileSystems) {
  TempDir dir;
  struct stat here {
  }, shm{};
  if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "no second file system (/dev/shm) to move across";
  }
  std::string source = "/dev/shm/orbec-move-" + std::to_string(getpid());
  WriteFileBytes(source, std::string(300000, 'i'));
  WriteFileBytes(dir / "out.iso", "old");
  // A neighbour's trap at a name the copy might have used: a link to someone else's file.
  WriteFileBytes(dir / "victim", "victim's");
  fs::create_symlink(dir / "victim", dir / "out.iso.partial");
  ASSERT_TRUE(MoveFileReplace(source, dir / "out.iso"));
  EXPECT_EQ(ReadFileBytes(dir / "out.iso"), std::string(300000, 'i'));
  EXPECT_EQ(fs::status(dir / "out.iso").permissions() & fs::perms::owner_write,
            fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFileBytes(dir / "victim"), "victim's");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3)
      << "only the image, the victim and the link";

  // A failed copy (the source is a folder) leaves neither a copy nor a changed target.
  fs::create_directory(source);
  EXPECT_FALSE(MoveFileReplace(source, dir / "out.iso"));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(EISDIR));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
  fs::remove(source);
}

TEST(LinkOrCopy, LinksOrCopiesARegularFileButNeverALink) {
  TempDir dir;
  WriteFileBytes(dir / "file", "bytes");
  ASSERT_TRUE(LinkOrCopy(dir / "file", dir / "linked"));
  EXPECT_EQ(fs::hard_link_count(dir / "file"), 2u);
  EXPECT_FALSE(LinkOrCopy(dir / "file", dir / "linked")) << "the target must not exist";
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(EEXIST));
  fs::create_symlink(dir / "file", dir / "link");
  EXPECT_FALSE(LinkOrCopy(dir / "link", dir / "from-link"));
  EXPECT_FALSE(fs::exists(dir / "from-link"));

  // Replaced atomically, nothing left beside it; across file systems as a copy.
  WriteFileBytes(dir / "cached", "old");
  ASSERT_TRUE(ReplaceWithLinkOrCopy(dir / "file", dir / "cached"));
  EXPECT_EQ(ReadFileBytes(dir / "cached"), "bytes");
  struct stat shm {};
  if (stat("/dev/shm", &shm) == 0) {
    std::string source = "/dev/shm/orbec-link-" + std::to_string(getpid());
    WriteFileBytes(source, "other bytes");
    ASSERT_TRUE(ReplaceWithLinkOrCopy(source, dir / "cached"));
    EXPECT_EQ(ReadFileBytes(dir / "cached"), "other bytes");
    fs::remove(source);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4)
      << "file, linked, link, cached";
}

TEST(MoveFileReplace, AMissingSourceLeavesTheTargetAndTheReason) {
  TempDir dir;
  WriteFileBytes(dir / "out.iso", "old");
  EXPECT_FALSE(MoveFileReplace(dir / "none", dir / "out.iso"));
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(ReadFileBytes(dir / "out.iso"), "old");
}

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

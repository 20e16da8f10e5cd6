#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

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

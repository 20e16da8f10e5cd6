#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "support/file_probe.h"
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
  // An existing folder (a home, /tmp) keeps its mode; one that others may write into is refused.
  chmod(work.c_str(), 0755);
  EXPECT_TRUE(MakePrivateDirectory(work)) << "an own folder left behind is reused";
  EXPECT_EQ(fs::status(work).permissions() & fs::perms::all, fs::perms(0755));
  for (mode_t shared : {01777, 0770, 0702}) {
    chmod(work.c_str(), shared);
    EXPECT_FALSE(MakePrivateDirectory(work)) << std::oct << shared;
    EXPECT_EQ(GetLastError(), kErrorFolderOthersMayWrite);
    EXPECT_EQ(fs::status(work).permissions() & fs::perms::mask, fs::perms(shared));
  }
}

// A cached file is shared with the work folder by a hard link only when nobody but the user
// can change it through any name; otherwise the work folder gets a copy of its own.
TEST(LinkOrCopy, LinksOnlyAFileThatNobodyElseCanChange) {
  TempDir dir;
  struct Case {
    const char* what;
    mode_t mode;
    bool second_name;
    bool foreign;
    bool linked;
  };
  const Case cases[] = {
      {"own, one name", 0644, false, false, true},
      {"writable by everybody", 0666, false, false, false},
      {"writable by the group", 0664, false, false, false},
      {"a second name elsewhere", 0644, true, false, false},
      {"another user's", 0644, false, true, false},
  };
  for (const Case& c : cases) {
    const fs::path cached = dir / (std::string(c.what) + ".cached");
    const fs::path taken = dir / (std::string(c.what) + ".taken");
    WriteFileBytes(cached, "verified bytes");
    chmod(cached.c_str(), c.mode);
    if (c.second_name) fs::create_hard_link(cached, dir / (std::string(c.what) + ".other"));
    if (c.foreign && !testing_support::GiveToAnotherUser(cached)) continue;
    ASSERT_TRUE(LinkOrCopy(cached, taken)) << c.what;
    EXPECT_EQ(fs::equivalent(cached, taken), c.linked) << c.what;
    EXPECT_EQ(testing_support::ReadFileBytes(taken), "verified bytes") << c.what;
  }
}

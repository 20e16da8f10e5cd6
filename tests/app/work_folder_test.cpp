#include "app/work_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error_text.h"
#include "platform/last_error.h"
#include "support/file_probe.h"
#include "support/temp_dir.h"

using testing_support::kNoSymbolicLinks;
using testing_support::MakeSymbolicLink;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr bool kNamesIgnoreCase = true;
#else
constexpr bool kNamesIgnoreCase = false;
#endif

class WorkFolderTest : public testing::Test {
 protected:
  TempDir dir_;
  platform::MemoryConsole console_;
  RealPipelineOps ops_{console_};
  std::string path_ = dir_ / "KaveroBootableAvTempFolder";
};

TEST_F(WorkFolderTest, StartsEmptyAndIsGoneAfterwards) {
  fs::create_directories(fs::path(path_) / "old/deep");
  WriteFileBytes(fs::path(path_) / "old/deep/file", "left by an earlier run");
  {
    WorkFolder work(path_, ops_);
    ASSERT_TRUE(work.Create());
    EXPECT_TRUE(fs::is_empty(path_));
#ifndef _WIN32  // a Windows user's temporary folder is private already
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    WriteFileBytes(fs::path(path_) / "new", "x");
  }
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_FALSE(fs::exists(path_ + ".lock"));
}

TEST_F(WorkFolderTest, ASecondRunOnTheSameFolderIsRefusedAndChangesNothing) {
  WorkFolder first(path_, ops_);
  ASSERT_TRUE(first.Create());
  WriteFileBytes(fs::path(path_) / "first's", "x");
  platform::MemoryConsole console;
  RealPipelineOps ops{console};
  {
    WorkFolder second(path_, ops);
    EXPECT_FALSE(second.Create());
    EXPECT_EQ(platform::LastErrorText(), "Another orbec run is using the folder");
  }
  EXPECT_EQ(ReadFileBytes(fs::path(path_) / "first's"), "x");
}

TEST_F(WorkFolderTest, ALinkOfThatNameIsRemovedNotFollowed) {
  fs::create_directory(dir_.path() / "victim");
  WriteFileBytes(dir_.path() / "victim/precious", "keep");
  if (!MakeSymbolicLink(dir_.path() / "victim", path_, true)) GTEST_SKIP() << kNoSymbolicLinks;
  {
    WorkFolder work(path_, ops_);
    if (testing_support::UnderWine()) {
      // Wine cannot remove the link without its target: the name stays refused.
      EXPECT_FALSE(work.Create());
      EXPECT_EQ(platform::LastErrorText(), "The folder is a symbolic link");
    } else {
      ASSERT_TRUE(work.Create());
      EXPECT_FALSE(fs::is_symlink(path_));
    }
  }
  EXPECT_EQ(ReadFileBytes(dir_.path() / "victim/precious"), "keep");
}

TEST_F(WorkFolderTest, ALinkInPlaceOfTheLockFileIsRefused) {
  WriteFileBytes(dir_.path() / "victim", "keep");
  if (!MakeSymbolicLink(dir_.path() / "victim", path_ + ".lock", false)) {
    GTEST_SKIP() << kNoSymbolicLinks;
  }
  {
    WorkFolder work(path_, ops_);
    EXPECT_FALSE(work.Create());
  }
  EXPECT_EQ(ReadFileBytes(dir_.path() / "victim"), "keep");
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(WorkFolderTest, AnotherUsersFolderIsRefusedAndLeftAlone) {
  fs::create_directory(path_);
  WriteFileBytes(fs::path(path_) / "theirs", "keep");
  if (!testing_support::GiveToAnotherUser(path_)) {
    GTEST_SKIP() << testing_support::kNoOtherUser;
  }
  {
    WorkFolder work(path_, ops_);
    EXPECT_FALSE(work.Create());
    EXPECT_EQ(platform::LastErrorText(), "The folder is owned by another user");
  }
  EXPECT_EQ(ReadFileBytes(fs::path(path_) / "theirs"), "keep");
}

TEST_F(WorkFolderTest, AnOutputInTheWorkFolderIsCaughtWhateverItsSpelling) {
  WorkFolder work(path_, ops_);
  ASSERT_TRUE(work.Create());
  EXPECT_TRUE(ops_.OutputInWorkFolder(path_, path_));
  EXPECT_TRUE(ops_.OutputInWorkFolder(path_ + "/missing/out.iso", path_));
  EXPECT_TRUE(ops_.OutputInWorkFolder(path_ + ".lock", path_));
  EXPECT_TRUE(ops_.OutputInWorkFolder(
      (dir_.path() / "." / "KaveroBootableAvTempFolder/out.iso").string(), path_));
  EXPECT_FALSE(ops_.OutputInWorkFolder(dir_ / "out.iso", path_));
  EXPECT_FALSE(ops_.OutputInWorkFolder(path_ + "2/out.iso", path_)) << "a name it begins";
  // Names differ by case alone: one file on Windows, two on Linux.
  std::string shouted = path_;
  shouted.replace(shouted.size() - 26, 26, "KAVEROBOOTABLEAVTEMPFOLDER");
  EXPECT_EQ(ops_.OutputInWorkFolder(shouted + "/out.iso", path_), kNamesIgnoreCase);
  EXPECT_EQ(ops_.OutputInWorkFolder(shouted + ".LOCK", path_), kNamesIgnoreCase);
  if (!MakeSymbolicLink(path_, dir_.path() / "alias", true)) GTEST_SKIP() << kNoSymbolicLinks;
  EXPECT_TRUE(ops_.OutputInWorkFolder(dir_ / "alias/out.iso", path_));
}

TEST_F(WorkFolderTest, DestroyingWithoutAFolderDoesNothingVisible) {
  { WorkFolder work(path_, ops_); }
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(console_.out + console_.err, "");
}

}  // namespace

// The parts of the interruption clean-up that need no signal or console event, and the
// folder lock it removes.
#include "platform/interrupt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/error_text.h"
#include "platform/folder_lock.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

using platform::ClaimedFile;
using platform::FolderLock;
using platform::RemoveTreeSignalSafe;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

TEST(FolderLock, OneHolderAtATimeAndNoLockFileAfterwards) {
  TempDir dir;
  std::string lock_file = dir / "work.lock";
  {
    auto first = FolderLock::Acquire(lock_file);
    ASSERT_TRUE(first);
    EXPECT_FALSE(FolderLock::Acquire(lock_file));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderInUse);
    EXPECT_EQ(platform::LastErrorText(), "Another orbec run is using the folder");
  }
  EXPECT_FALSE(fs::exists(lock_file));
  EXPECT_TRUE(FolderLock::Acquire(lock_file));
}

TEST(RemoveTreeSignalSafe, RemovesADeepTreeWithReadOnlyFiles) {
  TempDir dir;
  fs::create_directories(dir.path() / "tree/a/b/c");
  for (int i = 0; i < 300; ++i) {
    WriteFileBytes(dir.path() / "tree/a" / ("file-with-a-longish-name-" + std::to_string(i)), "x");
  }
  WriteFileBytes(dir.path() / "tree/a/b/c/read-only", "x");
  fs::permissions(dir.path() / "tree/a/b/c/read-only", fs::perms::owner_read);
  EXPECT_TRUE(RemoveTreeSignalSafe((dir / "tree").c_str()));
  EXPECT_FALSE(fs::exists(dir.path() / "tree"));
  EXPECT_TRUE(RemoveTreeSignalSafe((dir / "tree").c_str()));  // nothing there is fine
}

TEST(ClaimedFile, RemovedOnRequestOnlyWhileTheNameStillNamesIt) {
  TempDir dir;
  WriteFileBytes(dir / "copy", "");
  WriteFileBytes(dir / "image", "finished image");
  {
    ClaimedFile claim(dir / "copy");
    fs::rename(dir / "image", dir / "copy");  // the image takes the claimed name
    claim.Remove();
  }
  EXPECT_EQ(ReadFileBytes(dir / "copy"), "finished image");

  // Removed at once on request; an ended claim is not acted on.
  {
    ClaimedFile claim(dir / "copy");
    claim.Remove();
    EXPECT_FALSE(fs::exists(dir / "copy"));
    WriteFileBytes(dir / "copy", "again");
    claim.Remove();
  }
  EXPECT_EQ(ReadFileBytes(dir / "copy"), "again");
}

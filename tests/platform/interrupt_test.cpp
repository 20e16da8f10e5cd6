// The parts of the interruption clean-up that need no signal or console event, and the
// folder lock it removes.
#include "platform/interrupt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/error_text.h"
#include "platform/folder_lock.h"
#include "platform/last_error.h"
#include "support/file_probe.h"
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
  EXPECT_TRUE(RemoveTreeSignalSafe((dir / "missing/deeper").c_str()));
}

// A link in the tree, or the tree itself a link, goes as itself or stays; what it points to
// outside the tree always stays.
TEST(RemoveTreeSignalSafe, NeverDeletesThroughALink) {
  struct Case {
    const char* name;
    const char* target;  // under outside/
    bool directory;
    const char* at;  // under tree/; "" for the tree itself
  };
  const Case cases[] = {
      {"file link", "keep", false, "a/link"},
      {"link to a folder with content", "folder", true, "a/link"},
      {"link to an empty folder", "empty", true, "a/link"},
      {"the tree a link to a folder", "folder", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path tree = dir.path() / "tree";
    const bool inside = c.at[0] != '\0';
    if (inside) {
      fs::create_directories(tree / "a/b");
      WriteFileBytes(tree / "a/b/file", "x");
      WriteFileBytes(tree / "file", "x");
    }
    fs::create_directories(dir.path() / "outside/folder");
    fs::create_directory(dir.path() / "outside/empty");
    WriteFileBytes(dir.path() / "outside/keep", "keep");
    WriteFileBytes(dir.path() / "outside/folder/inner", "inner");
    if (!testing_support::MakeSymbolicLink(dir.path() / "outside" / c.target,
                                           inside ? tree / c.at : tree, c.directory)) {
      GTEST_SKIP() << testing_support::kNoSymbolicLinks;
    }
    const bool removed = RemoveTreeSignalSafe((dir / "tree").c_str());
    EXPECT_EQ(ReadFileBytes(dir.path() / "outside/keep"), "keep");
    EXPECT_EQ(ReadFileBytes(dir.path() / "outside/folder/inner"), "inner");
    EXPECT_TRUE(fs::is_directory(dir.path() / "outside/empty"));
    EXPECT_FALSE(fs::exists(tree / "a/b"));
    EXPECT_FALSE(fs::exists(tree / "file"));
    if (testing_support::UnderWine()) {
      // Wine opens a Unix link's target in place of the link: the link stays, with its folder.
      EXPECT_FALSE(removed);
      EXPECT_TRUE(fs::exists(inside ? tree / "a" : tree));
    } else {
      EXPECT_TRUE(removed);
      EXPECT_FALSE(fs::exists(tree));
    }
  }
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

#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "support/file_probe.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::kNoSymbolicLinks;
using testing_support::MakeSymbolicLink;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

// What each system reports for the same failures: errno values for the runtime's open, and
// the platform's last error (errno values on Linux, Win32 codes on Windows).
struct FailureCodes {
  int open_folder;                 // errno: a folder opened for appending
  std::uint32_t empty_path;        // a full path of ""
  std::uint32_t not_a_directory;   // a file where a folder should be
  std::uint32_t missing_folder;    // a folder in a missing folder
  std::uint32_t exists;            // a link or copy onto an existing file
  std::uint32_t missing;           // a missing file moved
  std::uint32_t source_is_folder;  // a folder moved across file systems as a file
};
#ifdef _WIN32
// ERROR_INVALID_NAME, ERROR_DIRECTORY, ERROR_PATH_NOT_FOUND, ERROR_ALREADY_EXISTS,
// ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED
constexpr FailureCodes kCodes{EACCES, 123, 267, 3, 183, 2, 5};
#else
constexpr FailureCodes kCodes{EISDIR, EINVAL, ENOTDIR, ENOENT, EEXIST, ENOENT, EISDIR};
#endif

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(FullPath, ResolvesAgainstTheCurrentDirectoryWithoutTouchingTheDisk) {
  const fs::path here = fs::current_path();
  std::string full;
  ASSERT_TRUE(FullPath("out.iso", full));
  EXPECT_EQ(full, (here / "out.iso").string());
  ASSERT_TRUE(FullPath("missing/folder/../out.iso", full));
  EXPECT_EQ(full, (here / "missing" / "out.iso").string());
  ASSERT_TRUE(FullPath("/abs/./x.iso", full));
  EXPECT_EQ(full, (here.root_name() / "/abs/x.iso").make_preferred().string());
  // UTF-8 in, UTF-8 out, whatever the system's own text is.
  ASSERT_TRUE(FullPath("\xc3\xa9t\xc3\xa9.iso", full));
  const std::string beside = (here / "x").string();
  EXPECT_EQ(full, beside.substr(0, beside.size() - 1) + "\xc3\xa9t\xc3\xa9.iso");
}

TEST(FullPath, AnEmptyPathFails) {
  std::string full = "unchanged";
  EXPECT_FALSE(FullPath("", full));
  EXPECT_EQ(GetLastError(), kCodes.empty_path);
  EXPECT_EQ(full, "unchanged");
}

TEST(TempFolder, NamesAnExistingFolderAndEndsWithASeparator) {
  std::string folder;
  ASSERT_TRUE(TempFolder(folder));
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), static_cast<char>(fs::path::preferred_separator));
  EXPECT_TRUE(fs::is_directory(folder));
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
  if (!MakeSymbolicLink(dir.path() / "target.iso", dir.path() / "dangling.iso", false)) {
    GTEST_SKIP() << kNoSymbolicLinks;
  }
  EXPECT_TRUE(CanOpenForAppend(dir / "dangling.iso", created));
  EXPECT_FALSE(created) << "the file made is the link's target, not the path";
}

TEST(CanOpenForAppend, FailsOnAFolderAndInAMissingFolder) {
  TempDir dir;
  bool created = true;
  errno = 0;
  EXPECT_FALSE(CanOpenForAppend(dir.path().string(), created));
  EXPECT_EQ(errno, kCodes.open_folder);
  EXPECT_FALSE(CanOpenForAppend(dir / "missing/out.iso", created));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(created);
}

TEST(MakePrivateDirectory, CreatesAFolderAndReusesItsOwn) {
  TempDir dir;
  std::string work = dir / "work";
  ASSERT_TRUE(MakePrivateDirectory(work));
  EXPECT_TRUE(fs::is_directory(work));
  WriteFileBytes(fs::path(work) / "left", "x");
  EXPECT_TRUE(MakePrivateDirectory(work)) << "an own folder left behind is reused";
  EXPECT_FALSE(MakePrivateDirectory(dir / "missing/work"));
  EXPECT_EQ(GetLastError(), kCodes.missing_folder);
}

TEST(MakePrivateDirectory, RefusesALinkAFileAFolderOthersMayWriteAndAForeignFolder) {
  TempDir dir;
  WriteFileBytes(dir / "file", "x");
  EXPECT_FALSE(MakePrivateDirectory(dir / "file"));
  EXPECT_EQ(GetLastError(), kCodes.not_a_directory);
  fs::create_directory(dir / "open");
  ASSERT_TRUE(testing_support::LetOthersWrite(dir.path() / "open"));
  EXPECT_FALSE(MakePrivateDirectory(dir / "open"));
  EXPECT_EQ(GetLastError(), kErrorFolderOthersMayWrite);

  fs::create_directory(dir / "target");
  if (!MakeSymbolicLink(dir.path() / "target", dir.path() / "link", true)) {
    GTEST_SKIP() << kNoSymbolicLinks;
  }
  EXPECT_FALSE(MakePrivateDirectory(dir / "link"));
  EXPECT_EQ(GetLastError(), kErrorFolderIsLink);
  EXPECT_EQ(LastErrorText(), "The folder is a symbolic link");

  fs::create_directory(dir / "foreign");
  if (!testing_support::GiveToAnotherUser(dir.path() / "foreign")) {
    GTEST_SKIP() << testing_support::kNoOtherUser;
  }
  EXPECT_FALSE(MakePrivateDirectory(dir / "foreign"));
  EXPECT_EQ(GetLastError(), kErrorFolderForeignOwner);
}

TEST(DeleteFile, RemovesAFileEvenReadOnlyButNeverAFolderOrALinksTarget) {
  TempDir dir;
  WriteFileBytes(dir / "file", "x");
  fs::permissions(dir / "file", fs::perms::owner_read);
  EXPECT_TRUE(DeleteFile(dir / "file"));
  EXPECT_FALSE(fs::exists(dir / "file"));
  EXPECT_FALSE(DeleteFile(dir / "file"));
  EXPECT_EQ(GetLastError(), kCodes.missing);
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(DeleteFile(dir / "folder"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  WriteFileBytes(dir / "target", "keep");
  if (!MakeSymbolicLink(dir.path() / "target", dir.path() / "link", false)) {
    GTEST_SKIP() << kNoSymbolicLinks;
  }
  DeleteFile(dir / "link");  // the link goes where the system tells it from its target
  EXPECT_EQ(ReadFileBytes(dir / "target"), "keep");
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
  const std::optional<fs::path> other = testing_support::OtherFileSystemFolder();
  if (!other) GTEST_SKIP() << "no second file system to move across";
  std::string source = (*other / ("orbec-move-" + dir.path().filename().string())).string();
  WriteFileBytes(source, std::string(300000, 'i'));
  WriteFileBytes(dir / "out.iso", "old");
  // A neighbour's trap at a name the copy might have used: a link to someone else's file.
  WriteFileBytes(dir / "victim", "victim's");
  const bool trap = MakeSymbolicLink(dir.path() / "victim", dir.path() / "out.iso.partial", false);
  ASSERT_TRUE(MoveFileReplace(source, dir / "out.iso"));
  EXPECT_EQ(ReadFileBytes(dir / "out.iso"), std::string(300000, 'i'));
  EXPECT_EQ(fs::status(dir / "out.iso").permissions() & fs::perms::owner_write,
            fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFileBytes(dir / "victim"), "victim's");
  EXPECT_EQ(EntriesIn(dir.path()), trap ? 3u : 2u) << "only the image, the victim and the link";

  // A failed copy (the source is a folder) leaves neither a copy nor a changed target.
  fs::create_directory(source);
  EXPECT_FALSE(MoveFileReplace(source, dir / "out.iso"));
  EXPECT_EQ(GetLastError(), kCodes.source_is_folder);
  EXPECT_EQ(EntriesIn(dir.path()), trap ? 3u : 2u);
  fs::remove(source);
}

TEST(LinkOrCopy, LinksOrCopiesARegularFileButNeverALink) {
  TempDir dir;
  WriteFileBytes(dir / "file", "bytes");
  ASSERT_TRUE(LinkOrCopy(dir / "file", dir / "linked"));
  EXPECT_TRUE(fs::equivalent(dir / "file", dir / "linked")) << "a link, not a copy";
  EXPECT_FALSE(LinkOrCopy(dir / "file", dir / "linked")) << "the target must not exist";
  EXPECT_EQ(GetLastError(), kCodes.exists);
  // A file with a second name, or one that others may write, could change later: copied.
  WriteFileBytes(dir / "open", "open");
  ASSERT_TRUE(testing_support::LetOthersWrite(dir.path() / "open"));
  for (const char* source : {"file", "open"}) {
    ASSERT_TRUE(LinkOrCopy(dir / source, dir / "copy")) << source;
    EXPECT_FALSE(fs::equivalent(dir / source, dir / "copy")) << source;
    EXPECT_EQ(ReadFileBytes(dir / "copy"), ReadFileBytes(dir / source));
    fs::remove(dir / "copy");
  }
  const bool symlinked = MakeSymbolicLink(dir.path() / "file", dir.path() / "link", false);
  if (symlinked) {
    EXPECT_FALSE(LinkOrCopy(dir / "link", dir / "from-link"));
    EXPECT_FALSE(fs::exists(dir / "from-link"));
  }

  // Replaced atomically, nothing left beside it; across file systems as a copy.
  WriteFileBytes(dir / "cached", "old");
  ASSERT_TRUE(ReplaceWithLinkOrCopy(dir / "file", dir / "cached"));
  EXPECT_EQ(ReadFileBytes(dir / "cached"), "bytes");
  if (const std::optional<fs::path> other = testing_support::OtherFileSystemFolder()) {
    std::string source = (*other / ("orbec-link-" + dir.path().filename().string())).string();
    WriteFileBytes(source, "other bytes");
    ASSERT_TRUE(ReplaceWithLinkOrCopy(source, dir / "cached"));
    EXPECT_EQ(ReadFileBytes(dir / "cached"), "other bytes");
    fs::remove(source);
  }
  EXPECT_EQ(EntriesIn(dir.path()), symlinked ? 5u : 4u) << "file, linked, open, link, cached";
  if (!symlinked) GTEST_SKIP() << kNoSymbolicLinks;
}

TEST(MoveFileReplace, AMissingSourceLeavesTheTargetAndTheReason) {
  TempDir dir;
  WriteFileBytes(dir / "out.iso", "old");
  EXPECT_FALSE(MoveFileReplace(dir / "none", dir / "out.iso"));
  EXPECT_EQ(GetLastError(), kCodes.missing);
  EXPECT_EQ(ReadFileBytes(dir / "out.iso"), "old");
}

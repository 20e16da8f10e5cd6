#include "platform/archive_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(ArchiveErrorText, GivesTheArchiveTextsAndTheRuntimeTextsOtherwise) {
  EXPECT_EQ(ArchiveErrorText(kArchiveCorrupt), "The archive is corrupt");
  EXPECT_EQ(ArchiveErrorText(kArchiveTruncated), "The archive is truncated");
  EXPECT_EQ(ArchiveErrorText(kArchiveUnsupported), "The archive contains unsupported features");
  EXPECT_EQ(ArchiveErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ArchiveErrorText(EACCES), "Permission denied");
}

TEST(ArchiveErrorText, CodeZeroDescribesTheCurrentErrno) {
  errno = kArchiveTruncated;
  EXPECT_EQ(ArchiveErrorText(0), "The archive is truncated");
  errno = EEXIST;
  EXPECT_EQ(ArchiveErrorText(0), "File exists");
}

}  // namespace

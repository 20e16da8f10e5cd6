// The file byte source reads through a buffer and hands out buffered bytes in place, and the
// destination tree keeps the last member's directory open; neither may change what is read
// or where members land.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "archive/byte_source.h"
#include "archive/tar_reader.h"
#include "archive_test_support.h"
#include "support/file_probe.h"
#include "support/tar_builder.h"
#include "support/temp_dir.h"

namespace {

using archive_testing::MemoryByteSource;
using testing_support::ReadFileBytes;
using testing_support::TarBuilder;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 509) & 0xFF);
  return data;
}

// Runs one operation on both sources and expects the same outcome, bytes and position.
class Lockstep {
 public:
  Lockstep(ByteSource& file, ByteSource& model) : file_(file), model_(model) {}

  void Read(std::size_t size, bool in_place) {
    std::string got_file(size, '\0'), got_model(size, '\0');
    std::size_t file_count = 0, model_count = 0;
    bool file_ok;
    if (in_place) {
      const void* data = nullptr;
      file_ok = file_.ReadInPlace(got_file.data(), size, data, file_count);
      ASSERT_NE(data, nullptr);
      got_file.assign(static_cast<const char*>(data), file_count);
    } else {
      file_ok = file_.Read(got_file.data(), size, file_count);
      got_file.resize(file_count);
    }
    const bool model_ok = model_.Read(got_model.data(), size, model_count);
    got_model.resize(model_count);
    ASSERT_EQ(file_ok, model_ok);
    ASSERT_EQ(file_count, model_count) << "read of " << size << " at " << model_.Position();
    ASSERT_EQ(got_file, got_model) << "read of " << size;
    ASSERT_EQ(file_.Position(), model_.Position());
  }

  void Skip(std::uint64_t count) {
    errno = 0;
    const bool file_ok = file_.Skip(count);
    const int file_error = errno;
    const bool model_ok = model_.Skip(count);
    ASSERT_EQ(file_ok, model_ok) << "skip of " << count;
    if (!file_ok) {
      ASSERT_EQ(file_error, EINVAL);
    }
    ASSERT_EQ(file_.Position(), model_.Position());
  }

 private:
  ByteSource& file_;
  ByteSource& model_;
};

TEST(BufferedFileSource, MixedReadsAndSkipsGiveTheFileBytesAtEveryPosition) {
  TempDir temp;
  const std::string bytes = Pattern(700 * 1024 + 333);
  WriteFileBytes(temp.path() / "data", bytes);
  // Sizes around the buffer (128 KiB), the direct-read limit (32 KiB) and a tar chunk (64 KiB).
  const std::size_t sizes[] = {0,      1,      12,     500,    511,       4096,
                               32767,  32768,  32769,  65535,  65536,     65537,
                               131071, 131072, 131073, 200000, 300 * 1024};
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    auto file = OpenFileByteSource(temp.path() / "data");
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Size(), bytes.size());
    MemoryByteSource model(bytes);
    Lockstep both(*file, model);
    while (model.Position() < bytes.size()) {
      const std::size_t size = sizes[random() % std::size(sizes)];
      switch (random() % 3) {
        case 0:
          ASSERT_NO_FATAL_FAILURE(both.Read(size, false));
          break;
        case 1:
          ASSERT_NO_FATAL_FAILURE(both.Read(size, true));
          break;
        default:
          ASSERT_NO_FATAL_FAILURE(both.Skip(size));
          break;
      }
    }
    // At the end: reads give nothing, a skip of one byte is refused, a skip of none is fine.
    ASSERT_NO_FATAL_FAILURE(both.Read(500, true));
    ASSERT_NO_FATAL_FAILURE(both.Read(70000, false));
    ASSERT_NO_FATAL_FAILURE(both.Skip(1));
    ASSERT_NO_FATAL_FAILURE(both.Skip(0));
  }
}

TEST(BufferedFileSource, SkipPastTheEndFailsWithoutMoving) {
  TempDir temp;
  WriteFileBytes(temp.path() / "data", Pattern(1000));
  auto file = OpenFileByteSource(temp.path() / "data");
  ASSERT_TRUE(file);
  char header[500];
  std::size_t got = 0;
  ASSERT_TRUE(file->Read(header, sizeof header, got));
  errno = 0;
  EXPECT_FALSE(file->Skip(501));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(file->Position(), 500u);
  ASSERT_TRUE(file->Skip(500));
  ASSERT_TRUE(file->Read(header, sizeof header, got));
  EXPECT_EQ(got, 0u);
}

// Members of several directories in an order that leaves and re-enters each of them: each
// lands in its own directory with its own content.
TEST(KeptParentDirectory, MembersReturningToEarlierDirectoriesLandWhereNamed) {
  TempDir temp;
  const std::filesystem::path dest = temp.path() / "dest";
  std::filesystem::create_directory(dest);
  TarBuilder tar;
  tar.AddDirectory("a/").AddDirectory("a/b/").AddDirectory("c/");
  const char* names[] = {"a/b/1", "a/2", "a/b/3", "c/4", "5", "a/b/6", "./a/7", "a//b/8", "c/9"};
  for (const char* name : names) tar.AddFile(name, Pattern(std::strlen(name) * 1000));
  const std::string archive = temp / "archive.tar";
  WriteFileBytes(archive, tar.AddEnd().Bytes());
  ASSERT_TRUE(UntarArchive(archive, dest, nullptr)) << errno;
  for (const char* name : names) {
    EXPECT_EQ(ReadFileBytes(dest / name), Pattern(std::strlen(name) * 1000)) << name;
  }
}

// A directory swapped for a symbolic link between two members: the first member's directory
// was entered before the swap, the later member names a different path and is refused.
TEST(KeptParentDirectory, ALinkOnTheWayToALaterDirectoryIsStillRefused) {
  TempDir temp;
  const std::filesystem::path dest = temp.path() / "dest";
  std::filesystem::create_directories(dest / "real");
  std::filesystem::create_directory(temp.path() / "outside");
  if (!testing_support::MakeSymbolicLink(temp.path() / "outside", dest / "link", true)) {
    GTEST_SKIP() << testing_support::kNoSymbolicLinks;
  }
  const std::string archive = temp / "archive.tar";
  WriteFileBytes(archive,
                 TarBuilder().AddFile("real/1", "one").AddFile("link/2", "two").AddEnd().Bytes());
  errno = 0;
  EXPECT_FALSE(UntarArchive(archive, dest, nullptr));
  EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;
  EXPECT_EQ(ReadFileBytes(dest / "real" / "1"), "one");
  EXPECT_FALSE(std::filesystem::exists(temp.path() / "outside" / "2"));
}

}  // namespace

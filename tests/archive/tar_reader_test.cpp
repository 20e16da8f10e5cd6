#include "archive/tar_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "archive/tar_header.h"
#include "archive_test_support.h"
#include "platform/archive_error.h"
#include "support/file_probe.h"
#include "support/tar_builder.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using archive_testing::MemoryByteSource;
using archive_testing::RecordingProgress;
using testing_support::MakeSymbolicLink;
using testing_support::ReadFileBytes;
using testing_support::TarBuilder;
using testing_support::TarHeaderBlock;
using testing_support::TimesOf;
using testing_support::WriteFileBytes;

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return data;
}

// Every path under a folder, relative and sorted, folders marked with a trailing "/".
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = entry.path().lexically_relative(folder).generic_string();
    if (entry.is_directory() && !entry.is_symlink()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class TarExtraction : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(dest_); }

  // Writes the archive beside the destination and unpacks it; error_ keeps errno.
  bool Extract(const std::string& bytes, IFileProgressCallback* progress = nullptr) {
    WriteFileBytes(archive_, bytes);
    errno = 0;
    const bool ok = UntarArchive(archive_, dest_, progress);
    error_ = errno;
    return ok;
  }
  std::string Read(const std::string& name) const { return ReadFileBytes(dest_ / name); }
  // Makes a symbolic link or skips the test (check IsSkipped() after).
  void MakeLink(const fs::path& target, const fs::path& at, bool directory = false) {
    if (!MakeSymbolicLink(target, at, directory)) GTEST_SKIP() << testing_support::kNoSymbolicLinks;
  }
  // The temporary folder holds nothing but the archive and the destination.
  void ExpectNothingOutsideDestination() const {
    EXPECT_EQ(Listing(temp_.path()).size(), Listing(dest_).size() + 2);
  }

  testing_support::TempDir temp_;
  fs::path dest_ = temp_.path() / "dest";
  fs::path archive_ = temp_.path() / "archive.tar";
  int error_ = 0;
};

TEST_F(TarExtraction, UnpacksDirectoriesAndFilesWithContentAndTimes) {
  const std::string boot = Pattern(70000);
  TarBuilder tar;
  tar.AddDirectory("slax/")
      .AddDirectory("slax/boot")
      .AddFile("slax/boot/isolinux.bin", boot, 1'200'000'000)
      .AddMember(TarHeaderBlock("slax/contiguous", '7', 5), "seven")
      .AddFile("top.txt", "top\n")
      .AddEnd();
  ASSERT_TRUE(Extract(tar.Bytes()));
  EXPECT_EQ(Listing(dest_),
            (std::vector<std::string>{"slax/", "slax/boot/", "slax/boot/isolinux.bin",
                                      "slax/contiguous", "top.txt"}));
  // Before reading the file, which may move its access time.
  const auto times = TimesOf(dest_ / "slax/boot/isolinux.bin");
  EXPECT_EQ(times.modification, 1'200'000'000);
  EXPECT_EQ(times.access, 1'200'000'000);
  EXPECT_EQ(Read("slax/boot/isolinux.bin"), boot);
  EXPECT_EQ(Read("slax/contiguous"), "seven");
  EXPECT_EQ(Read("top.txt"), "top\n");
}

TEST_F(TarExtraction, EmptyArchivesSucceedAndCreateNothing) {
  EXPECT_TRUE(Extract(""));
  EXPECT_TRUE(Extract(std::string(1024, '\0')));
  EXPECT_TRUE(Listing(dest_).empty());
}

TEST_F(TarExtraction, OneZeroHeaderEndsTheArchive) {
  TarBuilder tar;
  tar.AddFile("a", "1").AddRaw(std::string(500, '\0') + "not zero tail").AddFile("b", "2");
  ASSERT_TRUE(Extract(tar.Bytes()));
  EXPECT_EQ(Listing(dest_), std::vector<std::string>{"a"});
}

TEST_F(TarExtraction, MissingZeroFillAndEndBlocksAfterTheLastMemberAreFine) {
  const std::string tar = TarBuilder().AddFile("a", "0123456789").Bytes();
  ASSERT_TRUE(Extract(tar.substr(0, 512 + 10)));
  EXPECT_EQ(Read("a"), "0123456789");
}

TEST_F(TarExtraction, ArchiveCutInAHeaderIsTruncated) {
  const std::string tar = TarBuilder().AddFile("a", "x").AddFile("b", "y").Bytes();
  for (std::size_t cut : {1u, 499u, 1024u + 200u}) {
    EXPECT_FALSE(Extract(tar.substr(0, cut))) << cut;
    EXPECT_EQ(error_, kArchiveTruncated) << cut;
  }
  EXPECT_EQ(ArchiveErrorText(kArchiveTruncated), "The archive is truncated");
}

TEST_F(TarExtraction, ArchiveCutInMemberDataIsTruncatedAndLeavesThePartWritten) {
  const std::string data = Pattern(100000);
  const std::string tar = TarBuilder().AddFile("big", data).AddEnd().Bytes();
  EXPECT_FALSE(Extract(tar.substr(0, 512 + 70000)));
  EXPECT_EQ(error_, kArchiveTruncated);
  EXPECT_EQ(Read("big"), data.substr(0, 65536));  // the whole first chunk, not the short one
}

TEST_F(TarExtraction, MalformedHeadersAreCorruptAndCreateNothing) {
  TarHeaderBlock bad_checksum("a", '0', 0);
  bad_checksum.SetChecksumField(TarHeaderBlock::ChecksumField(bad_checksum.ComputedChecksum() + 1));
  const TarHeaderBlock spaced_size =
      TarHeaderBlock("a", '0', 0).SetBytes(124, std::string("   00000001\0", 12));
  const TarHeaderBlock bad_time = TarHeaderBlock("a", '0', 0).SetBytes(136, "0000000000x");
  for (const TarHeaderBlock& header : {bad_checksum, spaced_size, bad_time}) {
    EXPECT_FALSE(Extract(TarBuilder().AddMember(header).AddEnd().Bytes()));
    EXPECT_EQ(error_, kArchiveCorrupt);
  }
  EXPECT_TRUE(Listing(dest_).empty());
}

TEST_F(TarExtraction, OtherMemberTypesAreUnsupportedAndEarlierMembersStay) {
  for (char type : {'2', '1', 'L', '\0', '3', 'x'}) {
    TarBuilder tar;
    tar.AddFile("before.txt", "kept").AddMember(TarHeaderBlock("link", type, 0)).AddEnd();
    EXPECT_FALSE(Extract(tar.Bytes())) << type;
    EXPECT_EQ(error_, kArchiveUnsupported) << type;
    EXPECT_EQ(Listing(dest_), std::vector<std::string>{"before.txt"});
  }
}

TEST_F(TarExtraction, ParentsAreNeverCreated) {
  EXPECT_FALSE(Extract(TarBuilder().AddFile("nodir/file", "x").AddEnd().Bytes()));
  EXPECT_EQ(error_, ENOENT);
  EXPECT_EQ(ArchiveErrorText(error_), "No such file or directory");
  EXPECT_FALSE(Extract(TarBuilder().AddDirectory("nodir/sub/").AddEnd().Bytes()));
  EXPECT_EQ(error_, ENOENT);
  EXPECT_TRUE(Listing(dest_).empty());
}

TEST_F(TarExtraction, ExistingDirectoriesAreReusedAndFilesOverwritten) {
  fs::create_directory(dest_ / "d");
  WriteFileBytes(dest_ / "d/f", "a much longer old content");
  ASSERT_TRUE(Extract(TarBuilder().AddDirectory("d/").AddFile("d/f", "new").AddEnd().Bytes()));
  EXPECT_EQ(Read("d/f"), "new");
}

TEST_F(TarExtraction, DotEntriesNameTheDestinationItself) {
  // "tar -C dir -cf x.tar ." writes "./" first and "./name" after it.
  ASSERT_TRUE(Extract(TarBuilder().AddDirectory("./").AddFile("./a", "1").AddEnd().Bytes()));
  EXPECT_EQ(Read("a"), "1");
  EXPECT_FALSE(Extract(TarBuilder().AddFile("./", "").AddEnd().Bytes()));
  EXPECT_EQ(error_, EISDIR);
}

TEST_F(TarExtraction, ZeroLengthFileIsCreatedWithItsTimeAndNoDataProgress) {
  RecordingProgress progress;
  const std::string tar = TarBuilder().AddFile("empty", "", 1'000'000'000).AddEnd().Bytes();
  ASSERT_TRUE(Extract(tar, &progress));
  EXPECT_EQ(Read("empty"), "");
  EXPECT_EQ(TimesOf(dest_ / "empty").modification, 1'000'000'000);
  using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
  EXPECT_EQ(progress.calls, (Calls{{1536, 0}, {1536, 512}}));
}

TEST_F(TarExtraction, ProgressComesBeforeEachHeaderAndEachDataChunk) {
  RecordingProgress progress;
  const std::string tar =
      TarBuilder().AddFile("big", Pattern(150000)).AddDirectory("d/").AddEnd().Bytes();
  ASSERT_TRUE(Extract(tar, &progress));
  const std::uint64_t total = tar.size();
  const std::uint64_t dir_header = 512 + 150016;
  using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
  EXPECT_EQ(progress.calls, (Calls{{total, 0},
                                   {total, 512},
                                   {total, 512 + 65536},
                                   {total, 512 + 2 * 65536},
                                   {total, dir_header},
                                   {total, dir_header + 512}}));
}

TEST_F(TarExtraction, NamesUseAll100BytesAndLoseTrailingSpaces) {
  const std::string long_name(100, 'n');
  ASSERT_TRUE(Extract(TarBuilder().AddFile(long_name, "1").AddFile("spaced  ", "2").Bytes()));
  EXPECT_EQ(Listing(dest_), (std::vector<std::string>{long_name, "spaced"}));
}

// Names are UTF-8: each character reaches the file system whole, not byte by byte; so do
// those of the archive's path and the destination's.
TEST_F(TarExtraction, Utf8NamesKeepTheirCharacters) {
  archive_ = temp_.path() / fs::path(u8"\u00e9t\u00e9.tar");
  dest_ = temp_.path() / fs::path(u8"\u00e9t\u00e9");
  fs::create_directory(dest_);
  TarBuilder tar;
  tar.AddDirectory("d\xc3\xa9j\xc3\xa0/").AddFile("d\xc3\xa9j\xc3\xa0/\xe2\x82\xac.txt", "euro");
  ASSERT_TRUE(Extract(tar.AddEnd().Bytes())) << error_;
  EXPECT_EQ(ReadFileBytes(dest_ / fs::path(u8"d\u00e9j\u00e0") / fs::path(u8"\u20ac.txt")), "euro");
}

TEST_F(TarExtraction, ArchiveThatIsNotAReadableFileFailsWithItsErrno) {
  errno = 0;
  EXPECT_FALSE(UntarArchive(temp_.path() / "missing.tar", dest_, nullptr));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(UntarArchive(dest_, dest_, nullptr));
  EXPECT_EQ(errno, EISDIR);
}

// A source that fails with EIO once a number of bytes has been read.
class FailingByteSource : public MemoryByteSource {
 public:
  FailingByteSource(std::string bytes, std::size_t good) : MemoryByteSource(bytes), good_(good) {}
  bool Read(void* buffer, std::size_t size, std::size_t& got) override {
    const std::size_t left = good_ > Position() ? good_ - Position() : 0;
    MemoryByteSource::Read(buffer, std::min(size, left), got);
    if (got == size) return true;
    errno = EIO;
    return false;
  }

 private:
  std::size_t good_;
};

TEST_F(TarExtraction, ReadErrorsAreFailuresNeverACleanEnd) {
  const std::string tar = TarBuilder().AddFile("a", Pattern(3000)).AddEnd().Bytes();
  for (std::size_t good : {0u, 512u + 100u}) {
    FailingByteSource source(tar, good);
    errno = 0;
    EXPECT_FALSE(UntarFromSource(source, dest_, nullptr)) << good;
    EXPECT_EQ(errno, EIO) << good;
  }
}

TEST_F(TarExtraction, TimesBeyond32BitsAreSetInFull) {
  const std::uint64_t time = (std::uint64_t{1} << 32) + 5;  // in 2106
  ASSERT_TRUE(Extract(TarBuilder().AddFile("late", "x", time).AddEnd().Bytes()));
  const auto times = TimesOf(dest_ / "late");
  EXPECT_EQ(static_cast<std::uint64_t>(times.modification), time);
  EXPECT_EQ(static_cast<std::uint64_t>(times.access), time);
}

// A directory member carrying gigabytes of data, in a sparse archive file: the skip over it
// must neither wrap at 32 bits nor turn negative at 31, or the member after it is lost.
TEST_F(TarExtraction, SkipsOverMemberDataBeyond2And4GiB) {
  for (std::uint64_t size : {(std::uint64_t{3} << 30) + 512, (std::uint64_t{1} << 32) + 512}) {
    const std::string head = TarHeaderBlock("huge/", '5', size).Bytes();
    const std::string tail = TarBuilder().AddFile("after.txt", "found").AddEnd().Bytes();
    WriteFileBytes(archive_, head);
    fs::resize_file(archive_, 512 + size);  // a hole, where the file system has them
    std::ofstream(archive_, std::ios::binary | std::ios::app) << tail;
    RecordingProgress progress;
    ASSERT_TRUE(UntarArchive(archive_, dest_, &progress)) << size;
    EXPECT_EQ(Read("after.txt"), "found");
    EXPECT_EQ(progress.calls.at(1).second, 512 + size);
    fs::remove(dest_ / "after.txt");
  }
  fs::remove(archive_);
}

// Refusals that keep an archive from writing anywhere but below the destination.
class TarExtractionSafety : public TarExtraction {};

TEST_F(TarExtractionSafety, AbsoluteAndParentNamesAreCorruptAndWriteNothing) {
  const std::string absolute = (temp_.path() / "evil.txt").string();
  std::vector<std::string> names = {"../evil.txt", "d/../../evil.txt", absolute, "d/..",
                                    "d\\..\\..\\evil.txt"};
  // Names that Windows would take for a stream, a drive, a device or another file's name.
  if (kPlatformMemberNameRules == MemberNameRules::kWindows) {
    names.insert(names.end(), {"d/a.txt:hidden", "C:evil.txt", "d/nul.txt", "d/COM1", "d/a.",
                               "d /a.txt", "d\\aux"});
  }
  for (const std::string& name : names) {
    TarBuilder tar;
    tar.AddDirectory("d/").AddFile(name, "payload").AddEnd();
    EXPECT_FALSE(Extract(tar.Bytes())) << name;
    EXPECT_EQ(error_, kArchiveCorrupt) << name;
    EXPECT_EQ(Listing(dest_), std::vector<std::string>{"d/"}) << name;
    ExpectNothingOutsideDestination();
  }
  EXPECT_FALSE(Extract(TarBuilder().AddDirectory("../up/").AddEnd().Bytes()));
  EXPECT_EQ(error_, kArchiveCorrupt);
  ExpectNothingOutsideDestination();
}

// Whatever stands at a file member's name is replaced by a new file, never written through:
// links to a file outside keep that file as it was, and a dangling link creates nothing.
TEST_F(TarExtractionSafety, LinksAtAFilePathAreReplacedNotWrittenThrough) {
  const fs::path outside = temp_.path() / "outside.txt";
  const fs::path created = temp_.path() / "created.txt";
  WriteFileBytes(outside, "original");
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> make;
  };
  const Row rows[] = {
      {"hard link", [&](const fs::path& at) { fs::create_hard_link(outside, at); }},
      {"read-only file",
       [&](const fs::path& at) {
         WriteFileBytes(at, "old");
         fs::permissions(at, fs::perms::owner_read);
       }},
      {"symbolic link", [&](const fs::path& at) { MakeLink(outside, at); }},
      {"dangling link", [&](const fs::path& at) { MakeLink(created, at); }},
  };
  for (const Row& row : rows) {
    row.make(dest_ / "member.txt");
    if (IsSkipped()) return;
    EXPECT_TRUE(Extract(TarBuilder().AddFile("member.txt", "payload").AddFile("b", "2").Bytes()))
        << row.what << ": " << error_;
    EXPECT_FALSE(fs::is_symlink(dest_ / "member.txt")) << row.what;
    EXPECT_EQ(Read("member.txt"), "payload") << row.what;
    EXPECT_EQ(Read("b"), "2") << row.what;
    EXPECT_EQ(ReadFileBytes(outside), "original") << row.what;
    EXPECT_FALSE(fs::exists(created)) << row.what;
    fs::remove(dest_ / "member.txt");
  }
  // A directory in the way stays, and the member fails as opening it for writing would.
  fs::create_directory(dest_ / "member.txt");
  EXPECT_FALSE(Extract(TarBuilder().AddFile("member.txt", "payload").Bytes()));
  EXPECT_EQ(error_, EISDIR);
  EXPECT_TRUE(fs::is_directory(dest_ / "member.txt"));
  // A link to a directory: replaced where the link alone can be removed, refused with ELOOP
  // where the system would act on its target (wine); the target keeps its content either way.
  const fs::path outside_folder = temp_.path() / "outside";
  fs::create_directory(outside_folder);
  WriteFileBytes(outside_folder / "kept", "kept");
  MakeLink(outside_folder, dest_ / "folder.txt", true);
  if (IsSkipped()) return;
  if (Extract(TarBuilder().AddFile("folder.txt", "payload").Bytes())) {
    EXPECT_EQ(Read("folder.txt"), "payload");
  } else {
    EXPECT_EQ(error_, ELOOP);
  }
  EXPECT_EQ(ReadFileBytes(outside_folder / "kept"), "kept");
}

// The distribution is unpacked into the folder that holds it: a member named like the archive
// replaces its name, while the archive is still read to its end through the open file.
TEST_F(TarExtractionSafety, AMemberNamedLikeTheArchiveLeavesTheArchiveBeingReadWhole) {
  archive_ = dest_ / "archive.tar";
  const std::string later = Pattern(300'000);  // beyond what one buffered read takes in
  TarBuilder tar;
  tar.AddFile("first", "1").AddFile("archive.tar", "inner").AddFile("later", later).AddEnd();
  ASSERT_TRUE(Extract(tar.Bytes())) << error_;
  EXPECT_EQ(Read("first"), "1");
  EXPECT_EQ(Read("archive.tar"), "inner");
  EXPECT_EQ(Read("later"), later);
}

TEST_F(TarExtractionSafety, SymbolicLinkOnTheWayToAMemberIsNotFollowed) {
  const fs::path outside = temp_.path() / "outside";
  fs::create_directory(outside);
  MakeLink(outside, dest_ / "sub", true);
  if (IsSkipped()) return;
  TarBuilder tar;
  tar.AddDirectory("sub/").AddFile("sub/x.txt", "payload").AddDirectory("sub/inner/").AddEnd();
  EXPECT_FALSE(Extract(tar.Bytes()));
  EXPECT_TRUE(error_ == ELOOP || error_ == ENOTDIR) << error_;
  EXPECT_FALSE(Extract(TarBuilder().AddDirectory("sub/inner/").AddEnd().Bytes()));
  EXPECT_TRUE(fs::is_empty(outside));
}

#ifdef _WIN32
// A folder on the way that another user made (a shared temporary folder) is not entered.
TEST_F(TarExtractionSafety, AFolderOfAnotherUserOnTheWayIsRefused) {
  fs::create_directory(dest_ / "sub");
  if (!testing_support::GiveToAnotherUser(dest_ / "sub"))
    GTEST_SKIP() << testing_support::kNoOtherUser;
  EXPECT_FALSE(Extract(TarBuilder().AddFile("sub/x.txt", "payload").AddEnd().Bytes()));
  EXPECT_EQ(error_, EACCES);
  EXPECT_TRUE(fs::is_empty(dest_ / "sub"));
}
#endif

TEST_F(TarExtractionSafety, UstarNamePrefixIsUnsupported) {
  const TarHeaderBlock header = TarHeaderBlock("file.txt", '0', 3).SetBytes(345, "long/prefix");
  EXPECT_FALSE(Extract(TarBuilder().AddMember(header, "abc").AddEnd().Bytes()));
  EXPECT_EQ(error_, kArchiveUnsupported);
  EXPECT_TRUE(Listing(dest_).empty());
  // GNU headers keep other data at that offset: they are extracted.
  const TarHeaderBlock gnu = TarHeaderBlock("file.txt", '0', 3)
                                 .SetBytes(257, std::string("ustar  \0", 8))
                                 .SetOctal(345, 12, 1'300'000'000);
  ASSERT_TRUE(Extract(TarBuilder().AddMember(gnu, "abc").AddEnd().Bytes()));
  EXPECT_EQ(Read("file.txt"), "abc");
}

// A valid archive cut at every length: each cut either succeeds (when it falls after a
// member's complete data, in its zero fill, or after the first 500 bytes of the end block)
// or fails as truncated, and never writes outside the destination or wrong bytes.
class TarTruncation : public ::testing::Test {
 protected:
  void SetUp() override {
    AddMembers();
    const std::size_t end_start = tar_.Bytes().size();
    tar_.AddEnd();
    clean_.push_back({0, 0});
    clean_.push_back({end_start + 500, tar_.Bytes().size()});
  }
  virtual void AddMembers() {
    AddDirectory("d/");
    AddFile("d/a", Pattern(1000));
    AddFile("d/e", "");
    AddFile("d/b", Pattern(600));
  }
  // A directory has no data: the archive may end right after its header.
  void AddDirectory(const std::string& name) {
    tar_.AddDirectory(name);
    clean_.push_back({tar_.Bytes().size(), tar_.Bytes().size()});
  }
  void AddFile(const std::string& name, const std::string& data) {
    const std::size_t data_start = tar_.Bytes().size() + 512;
    tar_.AddFile(name, data);
    contents_[name] = data;
    clean_.push_back({data_start + data.size(), tar_.Bytes().size()});
  }
  bool CleanCut(std::size_t length) const {
    return std::any_of(clean_.begin(), clean_.end(),
                       [&](auto range) { return length >= range.first && length <= range.second; });
  }
  void Check(std::size_t length, bool ok, int error) {
    SCOPED_TRACE(length);
    EXPECT_EQ(ok, CleanCut(length));
    if (!ok) {
      EXPECT_EQ(error, kArchiveTruncated);
    }
    for (const std::string& name : Listing(dest_)) {
      if (name.ends_with("/")) continue;
      const std::string data = ReadFileBytes(dest_ / name);
      EXPECT_EQ(data, contents_.at(name).substr(0, data.size())) << name;
    }
    EXPECT_EQ(Listing(temp_.path()).size(), Listing(dest_).size() + 1);
  }
  // Every cut near a block boundary, a header's 500th byte or the end of a member's data, and
  // a spread of others between them.
  std::set<std::size_t> InterestingLengths() const {
    std::set<std::size_t> lengths;
    const std::size_t size = tar_.Bytes().size();
    auto add_around = [&](std::size_t at) {
      for (std::size_t d = 0; d <= 2; ++d) {
        if (at >= d && at - d <= size) lengths.insert(at - d);
        if (at + d <= size) lengths.insert(at + d);
      }
    };
    for (std::size_t block = 0; block <= size; block += 512) {
      add_around(block);
      add_around(block + 500);
    }
    for (const auto& range : clean_) {
      add_around(range.first);
      add_around(range.second);
    }
    for (std::size_t length = 0; length <= size; length += sample_step_) lengths.insert(length);
    return lengths;
  }
  void ResetDestination() {
    fs::remove_all(dest_);
    fs::create_directory(dest_);
  }

  std::size_t sample_step_ = 29;
  TarBuilder tar_;
  std::map<std::string, std::string> contents_;
  std::vector<std::pair<std::size_t, std::size_t>> clean_;
  testing_support::TempDir temp_;
  fs::path dest_ = temp_.path() / "dest";
};

TEST_F(TarTruncation, CutsAroundEveryBoundaryFromMemory) {
  const std::string& bytes = tar_.Bytes();
  for (std::size_t length : InterestingLengths()) {
    ResetDestination();
    MemoryByteSource source(bytes.substr(0, length));
    errno = 0;
    const bool ok = UntarFromSource(source, dest_, nullptr);
    Check(length, ok, errno);
  }
}

TEST_F(TarTruncation, BlockBoundariesAndOddCutsFromAFile) {
  const std::string& bytes = tar_.Bytes();
  std::vector<std::size_t> lengths = {1, 499, 500, 501, 511, 513, 1023, 2024, 2047, 3000, 4595};
  for (std::size_t length = 0; length <= bytes.size(); length += 512) lengths.push_back(length);
  const fs::path archive = temp_.path() / "cut.tar";
  for (std::size_t length : lengths) {
    ResetDestination();
    WriteFileBytes(archive, bytes.substr(0, length));
    errno = 0;
    const bool ok = UntarArchive(archive, dest_, nullptr);
    const int error = errno;
    fs::remove(archive);
    Check(length, ok, error);
  }
}

// The same for an archive laid out like the distribution: nested directories, a member larger
// than one data chunk, members of exactly one block and of no data, unpacked from a file.
class DistributionTruncation : public TarTruncation {
 protected:
  void AddMembers() override {
    sample_step_ = 97;
    AddDirectory("slax/");
    AddDirectory("slax/boot/");
    AddFile("slax/boot/isolinux.cfg", "default slax\nlabel slax\n  kernel vmlinuz\n");
    AddFile("slax/boot/vmlinuz", Pattern(70'000));
    AddFile("slax/boot/initrd.gz", Pattern(5'000));
    AddDirectory("slax/modules/");
    AddFile("slax/modules/base.lzm", Pattern(512));
    AddFile("slax/modules/empty", "");
    AddFile("slax/mkisofs", Pattern(1'537));
  }
};

TEST_F(DistributionTruncation, EveryBlockBoundaryAndSampledCutFromAFile) {
  const std::string& bytes = tar_.Bytes();
  const fs::path archive = temp_.path() / "cut.tar";
  int truncated = 0;
  int clean = 0;
  for (std::size_t length : InterestingLengths()) {
    ResetDestination();
    WriteFileBytes(archive, bytes.substr(0, length));
    errno = 0;
    const bool ok = UntarArchive(archive, dest_, nullptr);
    const int error = errno;
    fs::remove(archive);
    Check(length, ok, error);
    ++(ok ? clean : truncated);
  }
  std::cout << "[ sweep    ] tar: " << clean + truncated << " cuts of a " << bytes.size()
            << "-byte archive, " << truncated << " truncated (errno 101), " << clean
            << " clean ends, nothing outside the destination\n";
}

}  // namespace

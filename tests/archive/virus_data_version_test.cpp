#include "archive/virus_data_version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iostream>

#include "archive/zip_directory.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;
using testing_support::WriteZip;
using testing_support::ZipMember;

constexpr const char* kName = "virusDataVersion.txt";

class VirusDataVersion : public ::testing::Test {
 protected:
  // Reads the version from a zip of these members; "<none>" when the lookup fails.
  std::string Lookup(const std::vector<ZipMember>& members) {
    WriteZip(zip_, members);
    return LookupFile();
  }
  std::string LookupFile() {
    std::string version = "<none>";
    const bool ok = GetVirusDataVersion(zip_, version);
    EXPECT_EQ(ok, version != "<none>");
    return version;
  }
  // Rewrites the zip file's bytes: every occurrence of from becomes to (same length).
  void Patch(const std::string& from, const std::string& to) {
    std::string bytes = ReadFileBytes(zip_);
    ASSERT_EQ(from.size(), to.size());
    std::size_t at = 0, count = 0;
    while ((at = bytes.find(from, at)) != std::string::npos) {
      bytes.replace(at, to.size(), to);
      ++count;
    }
    ASSERT_GT(count, 0u);
    WriteFileBytes(zip_, bytes);
  }

  testing_support::TempDir temp_;
  fs::path zip_ = temp_.path() / "vdl.zip";
};

TEST_F(VirusDataVersion, FirstLineOfAStoredOrDeflatedMember) {
  const struct {
    std::string content;
    std::string version;
  } cases[] = {
      {"1.23\r\n", "1.23"},   {"1.23\n", "1.23"},
      {"1.23", "1.23"},       {"1.23\nmore\n", "1.23"},
      {"1.23\rmore", "1.23"}, {"\nlater", ""},
      {" 1.23 \n", " 1.23 "}, {std::string("1.2\0x", 5), "1.2"},
  };
  for (bool deflate : {false, true}) {
    for (const auto& c : cases) {
      EXPECT_EQ(Lookup({{"other.txt", "9.99\n"}, {kName, c.content, deflate}}), c.version)
          << c.content << (deflate ? " deflated" : " stored");
    }
  }
}

TEST_F(VirusDataVersion, NameMatchesWholeIgnoringCase) {
  EXPECT_EQ(Lookup({{"VIRUSDATAVERSION.TXT", "2.0\n"}}), "2.0");
  EXPECT_EQ(Lookup({{std::string("data/") + kName, "2.0\n"}}), "<none>");
  EXPECT_EQ(Lookup({{std::string(kName) + ".bak", "2.0\n"}}), "<none>");
}

TEST_F(VirusDataVersion, ArchivePathKeepsItsCharacters) {
  zip_ = temp_.path() / std::filesystem::path(u8"vdl-\u00e9\u20ac.zip");
  EXPECT_EQ(Lookup({{kName, "4.5\n"}}), "4.5");
}

TEST_F(VirusDataVersion, FirstEntryOfTheNameWins) {
  EXPECT_EQ(Lookup({{"VirusDataVersion.TXT", "first\n"}, {kName, "second\n"}}), "first");
  // The same name twice, which libzip will not write: written under two names, then renamed.
  WriteZip(zip_, {{"virusDataVersion.tx1", "first\n", false},
                  {"virusDataVersion.tx2", "second\n", false}});
  Patch("virusDataVersion.tx1", kName);
  Patch("virusDataVersion.tx2", kName);
  EXPECT_EQ(LookupFile(), "first");
}

TEST_F(VirusDataVersion, DamagedMemberFails) {
  WriteZip(zip_, {{kName, "1.23-stored-data\n", false}});
  Patch("1.23-stored-data", "1.23-stored-dat4");  // the data no longer match the CRC-32
  EXPECT_EQ(LookupFile(), "<none>");

  // Damage far past the part that is kept: the member is still read to its end.
  WriteZip(zip_, {{kName, "1.0\n" + std::string(200000, 'z') + "TAIL-MARK", false}});
  Patch("TAIL-MARK", "TAIL-MARX");
  EXPECT_EQ(LookupFile(), "<none>");

  const std::string content = "7.7\n" + std::string(5000, 'z');
  WriteZip(zip_, {{kName, content, true}});
  std::string bytes = ReadFileBytes(zip_);
  // Central-directory header: signature, then the CRC-32 at offset 16.
  const std::size_t central = bytes.find(std::string("PK\1\2", 4));
  ASSERT_NE(central, std::string::npos);
  bytes[central + 16] = static_cast<char>(bytes[central + 16] ^ 0x01);
  WriteFileBytes(zip_, bytes);
  EXPECT_EQ(LookupFile(), "<none>");
}

TEST_F(VirusDataVersion, EmptyOrMissingMemberOrArchiveFails) {
  EXPECT_EQ(Lookup({{kName, "", false}}), "<none>");
  EXPECT_EQ(Lookup({{"readme.txt", "1.0\n"}}), "<none>");
  WriteFileBytes(zip_, "this is not a zip file");
  EXPECT_EQ(LookupFile(), "<none>");
  fs::remove(zip_);
  EXPECT_EQ(LookupFile(), "<none>");
}

TEST_F(VirusDataVersion, LargeMembersAreReadWithinBounds) {
  // Under the size cap: read to the end (CRC checked), only the start kept.
  EXPECT_EQ(Lookup({{kName, "3.1\n" + std::string(10 << 20, 'A')}}), "3.1");
  // A first line longer than what is kept: cut at the kept size.
  EXPECT_EQ(Lookup({{kName, std::string(100000, 'v')}}), std::string(65536, 'v'));
  // A member that inflates past the cap (a zip bomb of a few dozen kilobytes) is refused.
  WriteZip(zip_, {{kName, "3.1\n" + std::string(24 << 20, 'A')}});
  EXPECT_LT(fs::file_size(zip_), 200'000u);
  EXPECT_EQ(LookupFile(), "<none>");
}

// The central-directory reader over an archive in memory. Every read it asks for must lie
// within the archive, however damaged: out_of_bounds counts those that do not.
class ZipDirectoryReader : public VirusDataVersion {
 protected:
  void SetUp() override {
    WriteZip(zip_, {{"avp.dat", std::string(3000, 'a'), true},
                    {kName, "1.23\n", false},
                    {"readme.txt", "virus data\n", true}});
    bytes_ = ReadFileBytes(zip_);
    central_ = EntryAt("PK\1\2", 46);
    local_ = EntryAt("PK\3\4", 30);
    end_ = bytes_.rfind(std::string("PK\5\6", 4));
    ASSERT_NE(central_, std::string::npos);
    ASSERT_NE(local_, std::string::npos);
    ASSERT_NE(end_, std::string::npos);
  }
  // The offset of the header with this signature that is followed, after `fixed` bytes, by
  // the member's name.
  std::size_t EntryAt(const char* signature, std::size_t fixed) const {
    for (std::size_t at = bytes_.find(signature); at != std::string::npos;
         at = bytes_.find(signature, at + 1)) {
      if (bytes_.compare(at + fixed, std::strlen(kName), kName) == 0) return at;
    }
    return std::string::npos;
  }
  bool Locate(const std::string& bytes, std::string_view name, ZipMemberLocation& member) {
    const ZipReadAt read_at = [&](std::uint64_t offset, std::size_t size, void* buffer) {
      if (offset > bytes.size() || bytes.size() - offset < size) {
        ++out_of_bounds_;
        return false;
      }
      std::memcpy(buffer, bytes.data() + offset, size);
      return true;
    };
    return LocateZipMember(read_at, bytes.size(), name, member);
  }
  static void Put16(std::string& bytes, std::size_t at, unsigned value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
  }
  static void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
  }
  static unsigned Get16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
  }

  std::string bytes_;
  std::size_t central_ = 0, local_ = 0, end_ = 0;
  int out_of_bounds_ = 0;
};

TEST_F(ZipDirectoryReader, FindsTheMembersDataAndItsCheckValues) {
  ZipMemberLocation member;
  ASSERT_TRUE(Locate(bytes_, "VIRUSDATAVERSION.TXT", member));
  EXPECT_EQ(member.method, kZipStored);
  EXPECT_EQ(member.size, 5u);
  EXPECT_EQ(member.compressed_size, 5u);
  EXPECT_EQ(member.crc32, 0x29df03f6u);  // CRC-32 of "1.23\n"
  EXPECT_EQ(bytes_.substr(member.data_offset, 5), "1.23\n");
  ASSERT_TRUE(Locate(bytes_, "avp.dat", member));
  EXPECT_EQ(member.method, kZipDeflated);
  EXPECT_EQ(member.size, 3000u);
  EXPECT_LT(member.compressed_size, 100u);
  EXPECT_FALSE(Locate(bytes_, "avp.da", member));
  // An archive comment after the end record.
  std::string commented = bytes_ + "a comment";
  Put16(commented, end_ + 20, 9);
  EXPECT_TRUE(Locate(commented, kName, member));
  EXPECT_EQ(out_of_bounds_, 0);
}

TEST_F(ZipDirectoryReader, DamagedLayoutIsRefusedWithoutReadingOutOfBounds) {
  const std::size_t end = end_, central = central_, local = local_;
  const std::size_t directory = Get16(bytes_, end + 16) | Get16(bytes_, end + 18) << 16;
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
  } rows[] = {
      {"last byte cut", [](std::string& b) { b.pop_back(); }},
      {"end signature", [&](std::string& b) { b[end] = 'X'; }},
      {"comment longer than the rest", [&](std::string& b) { Put16(b, end + 20, 1); }},
      {"one entry more", [&](std::string& b) { Put16(b, end + 8, 4), Put16(b, end + 10, 4); }},
      {"entry counts differ", [&](std::string& b) { Put16(b, end + 8, 2); }},
      {"second disk", [&](std::string& b) { Put16(b, end + 4, 1); }},
      {"directory offset moved", [&](std::string& b) { Put32(b, end + 16, directory + 1); }},
      {"directory past its end", [&](std::string& b) { Put32(b, end + 12, 0x7FFFFFFF); }},
      {"zip64 directory offset", [&](std::string& b) { Put32(b, end + 16, 0xFFFFFFFF); }},
      {"entry name past the directory", [&](std::string& b) { Put16(b, central + 28, 0xFFFF); }},
      {"entry signature", [&](std::string& b) { b[central + 2] = 9; }},
      {"encrypted", [&](std::string& b) { b[central + 8] |= 1; }},
      {"bzip2", [&](std::string& b) { Put16(b, central + 10, 12), Put16(b, local + 8, 12); }},
      {"stored sizes differ", [&](std::string& b) { Put32(b, central + 24, 6); }},
      {"data past the directory",
       [&](std::string& b) { Put32(b, central + 20, 0x10000), Put32(b, central + 24, 0x10000); }},
      {"zip64 size",
       [&](std::string& b) {
         Put32(b, central + 20, 0xFFFFFFFF), Put32(b, central + 24, 0xFFFFFFFF);
       }},
      {"local header past the directory",
       [&](std::string& b) { Put32(b, central + 42, 0x7FFFFFF0); }},
      {"local signature", [&](std::string& b) { b[local + 3] = 9; }},
      {"local method differs", [&](std::string& b) { Put16(b, local + 8, 8); }},
      {"local name past the directory", [&](std::string& b) { Put16(b, local + 26, 0xFFFF); }},
  };
  for (const auto& row : rows) {
    std::string bytes = bytes_;
    row.damage(bytes);
    ZipMemberLocation member;
    EXPECT_FALSE(Locate(bytes, kName, member)) << row.what;
  }
  EXPECT_EQ(out_of_bounds_, 0);
}

TEST(CutAtLineEnd, EndsAtTheFirstLineEndWithinTheSizeOnly) {
  char text[] = "ab\ncd\r";
  CutAtLineEnd(text, 6);
  EXPECT_EQ(std::string(text, 6), std::string("ab\0cd\r", 6));
  char beyond[] = "abc\n";
  CutAtLineEnd(beyond, 3);
  EXPECT_EQ(std::string(beyond), "abc\n");
}

TEST(IsAcceptableVersion, RefusesWhatCannotBeAFileNameOrArgument) {
  for (const char* version : {"", " ", "1.23", " 1.23 ", "2024-05-01 7", "v\xc3\xa9"}) {
    EXPECT_TRUE(IsAcceptableVersion(version)) << version;
  }
  for (const char* version : {".", "..", "a/b", "a\\b", "1:2", "1*", "1?", "\"1\"", "<1", "1>",
                              "1|2", "1\t2", "\x1b[31m", "1\x7f"}) {
    EXPECT_FALSE(IsAcceptableVersion(version)) << version;
  }
  EXPECT_FALSE(IsAcceptableVersion(std::string("1\0002", 3)));
}

// A valid virus data zip cut at every length short of its end: the central directory's end
// record is gone, so the lookup fails and leaves the version alone, whatever the cut.
TEST_F(VirusDataVersion, EveryCutOfAValidArchiveFails) {
  std::string data(6'000, '\0');
  unsigned state = 12345;
  for (char& c : data) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 16);
  }
  WriteZip(zip_, {{"avp.dat", data, true},
                  {kName, "1.23\r\nbuilt 2011-03-13\n", true},
                  {"readme.txt", "virus data\n", false}});
  ASSERT_EQ(LookupFile(), "1.23");
  const std::string bytes = ReadFileBytes(zip_);
  int cuts = 0;
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    WriteFileBytes(zip_, bytes.substr(0, length));
    std::string version = "untouched";
    EXPECT_FALSE(GetVirusDataVersion(zip_, version)) << "cut at " << length;
    EXPECT_EQ(version, "untouched");
    ++cuts;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()), fs::directory_iterator()), 1);
  std::cout << "[ sweep    ] zip: " << cuts << " cuts of a " << bytes.size()
            << "-byte archive, every one refused\n";
}

}  // namespace

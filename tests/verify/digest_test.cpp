// SHA-1 file digests and the checksum check of a manifest entry.
#include "verify/digest.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify/verify_tool.h"

namespace {

using namespace testing_support;
using namespace VerificationToolCrypto;

const std::string kEmptySha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

// SHA-1 of bytes held in memory, in one call.
std::string Sha1Hex(const std::string& bytes) { return ToHex(Sha1(bytes)); }

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
  return bytes;
}

std::optional<std::string> DigestOfFile(const std::string& path) {
  OpenFile file = OpenForHashing(path);
  EXPECT_TRUE(file) << path;
  if (!file) return std::nullopt;
  return FileDigest(file.get());
}

TEST(ToHex, TwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(ToHex(std::string("\x00\x0f\xa0", 3)), "000fa0");
  EXPECT_EQ(ToHex(""), "");
  EXPECT_EQ(ToHex("\xff\x10"), "ff10");
}

TEST(FileDigest, KnownValuesAndBlockBoundaries) {
  TempDir dir;
  WriteFileBytes(dir / "empty", "");
  EXPECT_EQ(DigestOfFile(dir / "empty"), kEmptySha1);
  WriteFileBytes(dir / "abc", "abc");
  EXPECT_EQ(DigestOfFile(dir / "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  for (std::size_t size :
       {kHashBlockSize - 1, kHashBlockSize, kHashBlockSize + 1, 3 * kHashBlockSize + 17}) {
    std::string bytes = Pattern(size);
    WriteFileBytes(dir / "data", bytes);
    EXPECT_EQ(DigestOfFile(dir / "data"), Sha1Hex(bytes)) << size;
  }
}

class CheckFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(dir_ / "product.tar", content_); }

  int Check(const std::string& path, const std::string& checksum) {
    return FileEntry(path, 1, checksum).CheckFile(dir_.path().string() + "/");
  }

  TempDir dir_;
  std::string content_ = Pattern(20000);
  std::string sum_ = Sha1Hex(content_);
};

TEST_F(CheckFileTest, ResultsForMatchDifferenceAndMissingFile) {
  EXPECT_EQ(Check("./product.tar", sum_), 0);
  EXPECT_EQ(Check("product.tar", kEmptySha1), 1);
  EXPECT_EQ(Check("product.tar", ""), 1);
  std::string upper = sum_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Check("product.tar", upper), 1);
  EXPECT_EQ(Check("missing.tar", sum_), 2);
}

TEST_F(CheckFileTest, BackslashInTheEntryIsAPathSeparator) {
  EXPECT_EQ(Check(".\\product.tar", sum_), 0);
  std::filesystem::create_directory(dir_.path() / "sub");
  WriteFileBytes(dir_ / "sub/x", "");
  EXPECT_EQ(Check(".\\sub\\x", kEmptySha1), 0);
}

TEST_F(CheckFileTest, PrefixIsJoinedWithoutASeparator) {
  WriteFileBytes(dir_ / "pre-x", "");
  EXPECT_EQ(FileEntry("x", 1, kEmptySha1).CheckFile(dir_ / "pre-"), 0);
}

TEST_F(CheckFileTest, UnreadableFileIsNotDigestedInPart) {
  std::filesystem::create_directory(dir_.path() / "folder");
  EXPECT_EQ(Check("folder", kEmptySha1), 2);
}

}  // namespace

#include "archive/tar_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/tar_builder.h"

namespace {

using testing_support::TarHeaderBlock;

TarHeader Header(const TarHeaderBlock& block) {
  TarHeader header;
  std::memcpy(header.data(), block.Bytes().data(), header.size());
  return header;
}

bool ParseOctal(const std::string& field, std::uint64_t& value) {
  return ParseOctalField(reinterpret_cast<const unsigned char*>(field.data()), field.size(), value);
}

TEST(TarOctalField, ReadsDigitsUntilTheFirstOtherByteAndAcceptsOnlyFillerAfterIt) {
  const struct {
    std::string field;
    bool valid;
    std::uint64_t value;
  } cases[] = {
      {std::string("00000001750\0", 12), true, 01750},
      {"00000001750 ", true, 01750},
      {std::string("1750\0\0\0\0 \0  ", 12), true, 01750},
      {std::string("\0\0\0\0\0\0\0\0\0\0\0\0", 12), true, 0},
      {"            ", true, 0},
      {"   00001750 ", false, 0},  // a leading space ends the number; digits may not follow
      {"0000000175x ", false, 0},
      {"00000008    ", false, 0},
      {"777777777777", true, 0777777777777},  // all 12 digits: 36 bits, kept whole
  };
  for (const auto& c : cases) {
    std::uint64_t value = 12345;
    EXPECT_EQ(ParseOctal(c.field, value), c.valid) << c.field;
    if (c.valid) {
      EXPECT_EQ(value, c.value) << c.field;
    }
  }
}

TEST(TarOctalField, ValuesBeyond32BitsAreNotWrapped) {
  std::uint64_t value = 0;
  ASSERT_TRUE(ParseOctal("40000000005 ", value));
  EXPECT_EQ(value, (std::uint64_t{1} << 32) + 5);
}

TEST(TarChecksum, MatchesAWellFormedHeaderAndRejectsOffByOne) {
  TarHeaderBlock block("a.txt", '0', 3);
  EXPECT_TRUE(HeaderChecksumMatches(Header(block)));
  block.SetChecksumField(TarHeaderBlock::ChecksumField(block.ComputedChecksum() + 1));
  EXPECT_FALSE(HeaderChecksumMatches(Header(block)));
  block.SetChecksumField("12x4567 ");
  EXPECT_FALSE(HeaderChecksumMatches(Header(block)));
}

TEST(TarChecksum, BytesAfterTheFirst500TakeNoPart) {
  TarHeaderBlock block("a.txt", '0', 3);
  const std::string good = block.Bytes();
  block.SetBytes(505, "xyz");  // changes only the skipped tail and the computed sum
  TarHeader header;
  std::memcpy(header.data(), good.data(), header.size());
  EXPECT_TRUE(HeaderChecksumMatches(header));
}

TEST(TarMemberName, DropsTrailingSpacesAndZerosAndStopsAtTheFirstZero) {
  EXPECT_EQ(MemberName(Header(TarHeaderBlock("dir/file.txt", '0', 0))), "dir/file.txt");
  EXPECT_EQ(MemberName(Header(TarHeaderBlock("name  ", '0', 0))), "name");
  const std::string full(100, 'n');
  EXPECT_EQ(MemberName(Header(TarHeaderBlock(full, '0', 0))), full);
  // Trailing filler is dropped first, then the text ends at the first zero byte.
  TarHeaderBlock inner("", '0', 0);
  inner.SetBytes(0, std::string("ab \0cd", 6));
  EXPECT_EQ(MemberName(Header(inner)), "ab ");
}

TEST(TarMemberName, RefusesAbsoluteNamesParentComponentsAndNamesWindowsWouldChange) {
  const struct {
    std::string name;
    bool posix;
    bool windows;
  } cases[] = {
      {"/etc/passwd", false, false},
      {"\\evil", false, false},
      {"..", false, false},
      {"../x", false, false},
      {"a/../../x", false, false},
      {"a/..", false, false},
      {"a\\..\\x", false, false},
      {"", true, true},
      {"./", true, true},
      {"./slax/boot", true, true},
      {"a..b/c", true, true},
      {"a/.hidden", true, true},
      {"x/..y", true, true},
      {"console/config.sys", true, true},
      {"com10.txt", true, true},
      {"lpt", true, true},
      {"nul_device", true, true},
      // Streams and drive prefixes.
      {"C:evil.txt", true, false},
      {"c:/windows/evil.txt", true, false},
      {"file.txt:stream", true, false},
      {"dir/file::$DATA", true, false},
      // Device names, with an extension, blanks before it, in any case, in any component.
      {"CON", true, false},
      {"nul.txt", true, false},
      {"dir/Aux.tar.gz", true, false},
      {"prn/x", true, false},
      {"com1", true, false},
      {"LPT9.log", true, false},
      {"com0", true, false},
      {"CONOUT$", true, false},
      {"nul .txt", true, false},
      {"COM\xc2\xb9", true, false},
      // Trailing dots and blanks: Windows would drop them and land on another name.
      {"file.", true, false},
      {"dir./file", true, false},
      {"file ", true, false},
      {"dir /file", true, false},
      {"...", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSafeMemberName(c.name, MemberNameRules::kPosix), c.posix) << c.name;
    EXPECT_EQ(IsSafeMemberName(c.name, MemberNameRules::kWindows), c.windows) << c.name;
  }
}

TEST(TarNamePrefix, CountsOnlyInPosixUstarHeaders) {
  TarHeaderBlock posix("file", '0', 0);
  EXPECT_FALSE(HasNamePrefix(Header(posix)));
  posix.SetBytes(345, "some/prefix");
  EXPECT_TRUE(HasNamePrefix(Header(posix)));
  // GNU headers keep access and change times there.
  TarHeaderBlock gnu("file", '0', 0);
  gnu.SetBytes(257, std::string("ustar  \0", 8)).SetOctal(345, 12, 1300000000);
  EXPECT_FALSE(HasNamePrefix(Header(gnu)));
}

}  // namespace

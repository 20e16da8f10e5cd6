// The file list of a manifest's signed text.
#include <gtest/gtest.h>

#include <sstream>

#include "verify/verify_tool.h"

namespace {

const std::string kSum = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

// The entries read, or nothing when the stream failed.
std::optional<std::vector<FileEntry>> Read(const std::string& text) {
  std::istringstream in(text, std::ios::binary);
  std::vector<FileEntry> entries;
  in >> entries;
  if (in.fail()) return std::nullopt;
  return entries;
}

TEST(FileList, EntriesAndCommentsInOrderWithDuplicates) {
  auto entries =
      Read("# head\n\".\\\\a b/c.tar\" 7 " + kSum + "\n#\n\"x\" 1 ab\n\"x\" 2 cd\n# tail\n");
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].path, ".\\\\a b/c.tar");
  EXPECT_EQ((*entries)[0].number, 7u);
  EXPECT_EQ((*entries)[0].Checksum(), kSum);
  EXPECT_EQ((*entries)[1].path, "x");
  EXPECT_EQ((*entries)[2].Checksum(), "cd");
}

TEST(FileList, EmptyPathAndChecksumAreAccepted) {
  auto entries = Read("\"\" 0 \n");
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].path, "");
  EXPECT_EQ((*entries)[0].Checksum(), "");
}

TEST(FileList, OnlyCommentsGiveAnEmptyList) {
  auto entries = Read("# one\n# two\n");
  ASSERT_TRUE(entries);
  EXPECT_TRUE(entries->empty());
}

TEST(FileList, NumberRange) {
  auto largest = Read("\"a\" 4294967295 ab\n");
  ASSERT_TRUE(largest);
  EXPECT_EQ((*largest)[0].number, 4294967295u);
  EXPECT_FALSE(Read("\"a\" 4294967296 ab\n"));
}

TEST(FileList, MalformedLinesFailTheWholeList) {
  const char* lines[] = {
      "\"a\" 1 ABCDEF\n",  // upper-case checksum
      "\"a\" 1 abg\n",     // not hexadecimal
      "\"c:a\" 1 ab\n",    // colon in the path
      "\"a*\" 1 ab\n",     // each of the other refused path bytes
      "\"a<\" 1 ab\n",
      "\"a>\" 1 ab\n",
      "\"a?\" 1 ab\n",
      "\"a|\" 1 ab\n",
      "\"a\tb\" 1 ab\n",   // control byte in the path
      "\"a\x7f\" 1 ab\n",  // byte above the printable range
      "\"a\" 1 ab\r\n",    // carriage return before the line feed
      "\n",                // empty line
      " \"a\" 1 ab\n",     // neither comment nor entry
      "\"a 1 ab\n",        // missing closing quote
      "\"a\"  1 ab\n",     // two spaces
      "\"a\" 1  ab\n",
      "\"a\"1 ab\n",    // no space
      "\"a\" x ab\n",   // no digits
      "\"a\"  ab\n",    // no number at all
      "\"a\" -1 ab\n",  // sign before the digits
      "\"a\" +1 ab\n",
      "\"a\" 1 ab",  // last line without its line feed
  };
  for (const char* line : lines) {
    EXPECT_FALSE(Read(std::string("\"ok\" 1 ab\n") + line)) << line;
  }
}

TEST(FileList, FailureLeavesTheTargetUnchanged) {
  std::istringstream in("\"a\" 1 ab\n\"b\" 2 CD\n");
  std::vector<FileEntry> entries{FileEntry("kept", 9, "ff")};
  in >> entries;
  EXPECT_TRUE(in.fail());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "kept");
}

}  // namespace

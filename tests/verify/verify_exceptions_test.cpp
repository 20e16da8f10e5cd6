#include "verify/verify_exceptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace {

using namespace verify_exceptions;

std::string Described(const ve_base& e) {
  std::ostringstream out;
  e.describe(out);
  return out.str();
}

// The line the verified download prints for a caught error.
std::string PrintedLine(const ve_base& e) {
  char line[256];
  std::snprintf(line, sizeof line, "Manifest verification: %s\n", Described(e).c_str());
  return line;
}

TEST(VerifyExceptions, EveryMemberHasTheSameWhatAndItsOwnCode) {
  std::unique_ptr<ve_base> members[] = {
      std::make_unique<ve_file>(8, "m.dat"), std::make_unique<ve_crypt>("Decoding crl"),
      std::make_unique<ve_badsig>(), std::make_unique<ve_badcert>()};
  int codes[] = {8, 5, 6, 7};
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(members[i]->what(), "VerifyTool Exception");
    EXPECT_EQ(members[i]->code, codes[i]);
  }
}

TEST(VerifyExceptions, DescriptionsAreExact) {
  EXPECT_EQ(Described(ve_badsig()), "[BADSIG]: 6\n");
  EXPECT_EQ(Described(ve_badcert()), "[VE_BADCERT]: 7\n");
  EXPECT_EQ(Described(ve_file(3, "/x/manifest.dat")), "[BADFILE]: 3: '/x/manifest.dat'");
  EXPECT_EQ(Described(ve_file(7, "")), "[BADFILE]: 7: ''");
  EXPECT_EQ(Described(ve_crypt("Decoding certificate")), "[VE_CRYPT] Decoding certificate\n");
}

TEST(VerifyExceptions, InsertionWritesTheDescription) {
  std::ostringstream out;
  out << ve_file(4, "a") << '|' << ve_crypt("x") << ve_badsig() << ve_badcert();
  EXPECT_EQ(out.str(), "[BADFILE]: 4: 'a'|[VE_CRYPT] x\n[BADSIG]: 6\n[VE_BADCERT]: 7\n");
}

TEST(VerifyExceptions, PrintedLineEndsWithTwoLineFeedsExceptForFiles) {
  EXPECT_EQ(PrintedLine(ve_badsig()), "Manifest verification: [BADSIG]: 6\n\n");
  EXPECT_EQ(PrintedLine(ve_crypt("m")), "Manifest verification: [VE_CRYPT] m\n\n");
  EXPECT_EQ(PrintedLine(ve_file(3, "p")), "Manifest verification: [BADFILE]: 3: 'p'\n");
}

TEST(VerifyExceptions, CaughtThroughTheBaseAfterACopy) {
  try {
    ve_file original(8, "list");
    ve_file copy = original;
    throw copy;
  } catch (const ve_base& e) {
    EXPECT_EQ(e.code, 8);
    EXPECT_EQ(Described(e), "[BADFILE]: 8: 'list'");
  }
}

}  // namespace

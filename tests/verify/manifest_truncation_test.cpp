// A valid signed manifest cut at every length: the parser's outcome is the one its place in
// the file calls for, and the manifest reader never accepts a cut file.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "support/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify/version_tool.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using verify_testing::BadFile;
using verify_testing::kBadCert;
using verify_testing::kBadSig;
using verify_testing::Outcome;

constexpr char kParsed[] = "ok";
constexpr char kStreamFailed[] = "stream failed";
constexpr std::size_t kSignatureMarkerLength = 27;  // "\n-----BEGIN SIGNATURE-----\n"

// A body of a few hundred bytes, so that block boundaries fall inside it as well.
std::string Body() {
  std::string body = "# Kavero product for Linux\n";
  for (int i = 0; i < 12; ++i) {
    body += "\"./slax/modules/module" + std::to_string(i) + ".lzm\" " + std::to_string(i) +
            " 0123456789abcdef0123456789abcdef0123456" + std::to_string(i % 10) + "\n";
  }
  return body;
}

class ManifestTruncation : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(root_, pki_.root.Pem());
    WriteFileBytes(crl_, pki_.crlPem);
    // Where each part starts and ends in the file.
    std::size_t offset = manifest_.body.size();
    for (const PemBlock& block : manifest_.blocks) {
      text_starts_.push_back(offset + block.begin.size());
      offset += block.Text().size();
      block_ends_.push_back(offset);
    }
    ASSERT_EQ(offset, bytes_.size());
  }

  // What parsing the first length bytes gives, by the place of the cut: inside the first
  // signature marker, or right after it, there is no signature; up to the first Base64
  // character of the signer's certificate there is none; later the stream fails, except right
  // after a complete certificate block, where a shorter but well-formed manifest ends.
  std::string ExpectedParse(std::size_t length) const {
    const std::size_t marker_end = manifest_.body.size() - 1 + kSignatureMarkerLength;
    if (length <= marker_end) return kBadSig;
    if (length <= text_starts_[1]) return kBadCert;
    for (std::size_t i = 1; i < block_ends_.size(); ++i) {
      if (length == block_ends_[i]) return kParsed;
    }
    return kStreamFailed;
  }

  // Every 512-byte boundary, every cut within two bytes of where a part starts or ends, and
  // every 13th length besides.
  std::set<std::size_t> SampledLengths() const {
    std::set<std::size_t> lengths;
    auto add_around = [&](std::size_t at) {
      for (std::size_t near = at > 2 ? at - 2 : 0; near <= at + 2; ++near) {
        if (near < bytes_.size()) lengths.insert(near);
      }
    };
    for (std::size_t length = 0; length < bytes_.size(); length += 512) lengths.insert(length);
    for (std::size_t length = 0; length < bytes_.size(); length += 13) lengths.insert(length);
    add_around(manifest_.body.size());
    for (std::size_t at : text_starts_) add_around(at);
    for (std::size_t at : block_ends_) add_around(at);
    return lengths;
  }

  static std::string Parse(const std::string& bytes) {
    std::istringstream in(bytes, std::ios::binary);
    VerifyTool target;
    const std::string outcome = Outcome([&] { in >> target; });
    return outcome == kParsed && in.fail() ? kStreamFailed : outcome;
  }

  std::string Verify(const std::string& bytes) {
    WriteFileBytes(path_, bytes);
    VersionTool tool;
    return Outcome([&] { tool.Verify(path_, root_, crl_); });
  }

  TempDir dir_;
  TestPki pki_ = TestPki::Make();
  ManifestWriter manifest_ = SignedManifest(Body(), pki_.signer, {pki_.intermediate});
  std::string bytes_ = manifest_.Bytes();
  std::vector<std::size_t> text_starts_;  // first Base64 character of each block
  std::vector<std::size_t> block_ends_;   // offset after each block's end line
  std::string root_ = dir_ / "ps_rootca.crt";
  std::string crl_ = dir_ / "ps.crl";
  std::string path_ = dir_ / "manifest.dat";
};

TEST_F(ManifestTruncation, EveryCutParsesToTheOutcomeOfItsPlace) {
  ASSERT_GT(bytes_.size(), 3 * 512u);
  std::map<std::string, int> counts;
  for (std::size_t length = 0; length < bytes_.size(); ++length) {
    const std::string outcome = Parse(bytes_.substr(0, length));
    EXPECT_EQ(outcome, ExpectedParse(length)) << "cut at " << length;
    ++counts[outcome];
  }
  EXPECT_EQ(Parse(bytes_), kParsed);
  std::cout << "[ sweep    ] manifest parse: " << bytes_.size() << " cuts, " << counts[kBadSig]
            << " ve_badsig 6, " << counts[kBadCert] << " ve_badcert 7, " << counts[kStreamFailed]
            << " failed stream (ve_file 4), " << counts[kParsed]
            << " well-formed without the chain\n";
}

// Through the reader, a cut file fails: malformed ones as ve_file 4, and one that ends after
// the signer's certificate because the chain no longer reaches the root.
TEST_F(ManifestTruncation, TheReaderRefusesEveryCut) {
  int cuts = 0;
  for (std::size_t length : SampledLengths()) {
    const std::string expected = ExpectedParse(length);
    std::string outcome = Verify(bytes_.substr(0, length));
    if (expected == kStreamFailed) {
      EXPECT_EQ(outcome, BadFile(4, path_)) << "cut at " << length;
    } else if (expected == kParsed) {
      EXPECT_EQ(outcome, kBadCert) << "cut at " << length;
    } else {
      EXPECT_EQ(outcome, expected) << "cut at " << length;
    }
    ++cuts;
  }
  EXPECT_EQ(Verify(bytes_), kParsed);
  std::cout << "[ sweep    ] manifest verify: " << cuts << " cuts, none accepted\n";
}

}  // namespace

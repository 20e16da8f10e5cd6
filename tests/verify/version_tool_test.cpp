// VersionTool end to end: files, parsing, the trust check in its order, the file list.
#include "verify/version_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "support/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using verify_testing::BadFile;
using verify_testing::Crypt;
using verify_testing::kBadCert;
using verify_testing::kBadSig;
using verify_testing::Outcome;

const std::string kBody =
    "# Kavero product\n"
    "\".\\\\product.tar\" 1 0123456789abcdef0123456789abcdef01234567\n"
    "\"./other.tar\" 2 da39a3ee5e6b4b0d3255bfef95601890afd80709\n";

class VersionToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(root_, pki_.root.Pem());
    WriteFileBytes(crl_, pki_.crlPem);
  }

  ManifestWriter Signed(const std::string& body) {
    return SignedManifest(body, pki_.signer, {pki_.intermediate});
  }

  std::string Verify(const ManifestWriter& manifest) {
    WriteFileBytes(manifest_, manifest.Bytes());
    return Outcome([&] { tool_.Verify(manifest_, root_, crl_); });
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (auto it = tool_.EntriesBegin(); it != tool_.EntriesEnd(); ++it) paths.push_back(it->path);
    return paths;
  }

  TempDir dir_;
  TestPki pki_ = TestPki::Make();
  std::string root_ = dir_ / "ps_rootca.crt";
  std::string crl_ = dir_ / "ps.crl";
  std::string manifest_ = dir_ / "manifest.dat";
  VersionTool tool_;
};

TEST_F(VersionToolTest, VerifiedManifestHandsOutItsEntries) {
  ASSERT_EQ(Verify(Signed(kBody)), "ok");
  EXPECT_EQ(tool_.State(), 2);
  EXPECT_EQ(Paths(), (std::vector<std::string>{".\\\\product.tar", "./other.tar"}));
  EXPECT_EQ(tool_.EntriesBegin()->Checksum(), "0123456789abcdef0123456789abcdef01234567");
}

TEST_F(VersionToolTest, CommentsOnlyGiveNoEntries) {
  ASSERT_EQ(Verify(Signed("# nothing\n")), "ok");
  EXPECT_EQ(tool_.EntriesBegin(), tool_.EntriesEnd());
}

TEST_F(VersionToolTest, EntriesNeedAVerifiedManifest) {
  try {
    tool_.EntriesBegin();
    FAIL() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "VersionTool::version, method called when version file is not valid");
  }
  EXPECT_THROW(tool_.EntriesEnd(), std::logic_error);
  ManifestWriter bad = Signed(kBody);
  bad.trailer = "\n";
  Verify(bad);
  EXPECT_THROW(tool_.EntriesBegin(), std::logic_error);
}

TEST_F(VersionToolTest, MissingRootIsReportedFirst) {
  std::filesystem::remove(root_);
  ManifestWriter malformed = Signed(kBody);
  malformed.trailer = "x";
  EXPECT_EQ(Verify(malformed), BadFile(3, root_));
  EXPECT_EQ(tool_.State(), 1);
}

TEST_F(VersionToolTest, MissingCrlIsReportedBeforeTheManifest) {
  std::filesystem::remove(crl_);
  EXPECT_EQ(Verify(Signed("not a manifest")), BadFile(3, crl_));
  EXPECT_EQ(tool_.State(), 1);
}

TEST_F(VersionToolTest, EmptyCrlPathFailsInTheTrustCheck) {
  WriteFileBytes(manifest_, Signed(kBody).Bytes());
  EXPECT_EQ(Outcome([&] { tool_.Verify(manifest_, root_, ""); }), BadFile(7, ""));
  EXPECT_EQ(tool_.State(), 1);
}

TEST_F(VersionToolTest, MissingManifest) {
  EXPECT_EQ(Outcome([&] { tool_.Verify(manifest_, root_, crl_); }), BadFile(3, manifest_));
  EXPECT_EQ(tool_.State(), 3);
}

TEST_F(VersionToolTest, MalformedManifestOutcomes) {
  ManifestWriter trailing = Signed(kBody);
  trailing.trailer = "\n";
  EXPECT_EQ(Verify(trailing), BadFile(4, manifest_));
  EXPECT_EQ(tool_.State(), 4);

  VersionTool fresh;
  ManifestWriter noCertificate = Signed(kBody);
  noCertificate.blocks.resize(1);
  WriteFileBytes(manifest_, noCertificate.Bytes());
  EXPECT_EQ(Outcome([&] { fresh.Verify(manifest_, root_, crl_); }), kBadCert);
  EXPECT_EQ(fresh.State(), 1);
}

TEST_F(VersionToolTest, BadSignatureHidesAMalformedListAndAnUntrustedChain) {
  ManifestWriter manifest = Signed("\"A\" 1 ABC\n");
  manifest.body = "\"B\" 1 ABC\n";
  EXPECT_EQ(Verify(manifest), kBadSig);
  EXPECT_EQ(tool_.State(), 1);

  TestCert stranger = MakeSelfSigned({.commonName = "Stranger", .isCa = false}, PooledRsaKey(4));
  ManifestWriter untrusted = SignedManifest(kBody, stranger, {});
  untrusted.blocks[0] = SignatureBlock(Reversed(SignSha1(stranger.key(), kBody)));
  EXPECT_EQ(Verify(untrusted), kBadSig);
  untrusted.blocks[0] = SignatureBlock(SignSha1(stranger.key(), kBody));
  EXPECT_EQ(Verify(untrusted), kBadCert);
}

TEST_F(VersionToolTest, SecondSignatureMayBeTheValidOne) {
  ManifestWriter manifest = Signed(kBody);
  manifest.blocks.insert(manifest.blocks.begin(),
                         SignatureBlock(SignSha1(pki_.intermediate.key(), kBody)));
  EXPECT_EQ(Verify(manifest), "ok");
}

TEST_F(VersionToolTest, ManifestSizeLimit) {
  // A signed manifest of exactly the limit, its body padded by a comment line, verifies.
  const std::size_t limit = VersionTool::kMaxManifestSize;
  std::size_t blocks = Signed(kBody).Bytes().size() - kBody.size();
  std::string padding = "#" + std::string(limit - blocks - kBody.size() - 2, ' ') + "\n";
  ManifestWriter atLimit = Signed(padding + kBody);
  ASSERT_EQ(atLimit.Bytes().size(), limit);
  EXPECT_EQ(Verify(atLimit), "ok");
  EXPECT_EQ(Paths().size(), 2u);

  // One byte more is refused unread, as malformed (zeros would otherwise lack a signature),
  // and so is a file that reports no size but never ends.
  for (const std::string& path : {manifest_, std::string("/dev/zero")}) {
    WriteFileBytes(manifest_, "");
    std::filesystem::resize_file(manifest_, limit + 1);
    VersionTool tool;
    EXPECT_EQ(Outcome([&] { tool.Verify(path, root_, crl_); }), BadFile(4, path));
    EXPECT_EQ(tool.State(), 4);
  }
}

TEST_F(VersionToolTest, SignedButMalformedFileList) {
  EXPECT_EQ(Verify(Signed("\"a\" 1 ABCDEF\n")), BadFile(8, manifest_));
  EXPECT_EQ(tool_.State(), 8);
}

TEST_F(VersionToolTest, UndecodableChainCertificate) {
  ManifestWriter manifest = Signed(kBody);
  manifest.blocks.push_back(CertificateBlock(std::string(100, 'x')));
  EXPECT_EQ(Verify(manifest), Crypt("Decoding certificate"));
}

TEST_F(VersionToolTest, SignerWithAnEcKey) {
  TestCert ecSigner =
      IssueCertificate({.commonName = "EC Signer", .isCa = false}, NewEcKey(), pki_.intermediate);
  ManifestWriter manifest = Signed(kBody);
  manifest.blocks[1] = CertificateBlock(ecSigner.Der());
  EXPECT_EQ(Verify(manifest), Crypt("CryptImportPublicKeyInfo failed"));
}

TEST_F(VersionToolTest, RevokedSerialInALaterCrlBlockHasNoEffect) {
  std::string other = MakeCrlPem({.revokedSerials = {200}}, pki_.signer);
  WriteFileBytes(crl_, pki_.crlPem + other);
  EXPECT_EQ(Verify(Signed(kBody)), "ok");
  WriteFileBytes(crl_, other + pki_.crlPem);
  EXPECT_EQ(Verify(Signed(kBody)), kBadCert);
}

TEST_F(VersionToolTest, CrlThatIsNotCurrentIsRefusedBeforeTheRootIsRead) {
  VerifyTool parts;
  WriteFileBytes(manifest_, Signed(kBody).Bytes());
  std::ifstream in(manifest_, std::ios::binary);
  in >> parts;
  ASSERT_FALSE(in.fail());
  std::string missingRoot = dir_ / "no-root.crt";
  WriteFileBytes(crl_, MakeCrlPem({.thisUpdate = -2 * kDay, .nextUpdate = -kDay}, pki_.root));
  EXPECT_EQ(Outcome([&] { parts.VerifyTrust(missingRoot, crl_); }), kBadCert);
  WriteFileBytes(crl_, pki_.crlPem);
  EXPECT_EQ(Outcome([&] { parts.VerifyTrust(missingRoot, crl_); }), BadFile(7, missingRoot));
}

// Trust failures of a correctly signed manifest, each reported as ve_badcert 7.
struct Rejection {
  const char* name;
  std::function<void(const TestPki&, ManifestWriter&, std::string& crl)> apply;
};

void PrintTo(const Rejection& rejection, std::ostream* out) { *out << rejection.name; }

ManifestWriter WithSigner(const TestPki& pki, const CertOptions& options) {
  TestCert signer = IssueCertificate(options, pki.signer.key(), pki.intermediate);
  return SignedManifest(kBody, signer, {pki.intermediate});
}

ManifestWriter WithIntermediate(const TestPki& pki, const CertOptions& options) {
  TestCert intermediate = IssueCertificate(options, pki.intermediate.key(), pki.root);
  TestCert signer = IssueCertificate({.commonName = "Signer", .serial = 301, .isCa = false},
                                     pki.signer.key(), intermediate);
  return SignedManifest(kBody, signer, {intermediate});
}

const Rejection kRejections[] = {
    {"ExpiredSigner",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithSigner(
           pki, {.commonName = "S", .notBefore = -2 * kDay, .notAfter = -kDay, .isCa = false});
     }},
    {"SignerNotYetValid",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithSigner(pki, {.commonName = "S", .notBefore = kDay, .isCa = false});
     }},
    {"ExpiredIntermediate",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithIntermediate(
           pki, {.commonName = "Test Intermediate CA", .notBefore = -2 * kDay, .notAfter = -kDay});
     }},
    {"IntermediateNotYetValid",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithIntermediate(pki, {.commonName = "Test Intermediate CA", .notBefore = kDay});
     }},
    {"RevokedLastLink",
     [](const TestPki& pki, ManifestWriter&, std::string& crl) {
       crl = MakeCrlPem({.revokedSerials = {200}}, pki.root);
     }},
    {"CrlNotYetCurrent",
     [](const TestPki& pki, ManifestWriter&, std::string& crl) {
       crl = MakeCrlPem({.thisUpdate = kDay, .nextUpdate = 2 * kDay}, pki.root);
     }},
    {"CrlOutdated",
     [](const TestPki& pki, ManifestWriter&, std::string& crl) {
       crl = MakeCrlPem({.thisUpdate = -2 * kDay, .nextUpdate = -60}, pki.root);
     }},
    {"CrlOfAnotherIssuerOnly", [](const TestPki& pki, ManifestWriter&,
                                  std::string& crl) { crl = MakeCrlPem({}, pki.intermediate); }},
    {"ForgedRootCrl", [](const TestPki& pki, ManifestWriter&,
                         std::string& crl) { crl = MakeCrlPem({}, pki.root, PooledRsaKey(4)); }},
    {"SignerIssuedByNonCa",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithIntermediate(pki, {.commonName = "Test Intermediate CA", .isCa = false});
     }},
    {"NamesDoNotLink",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = WithSigner(
           pki, {.commonName = "S", .isCa = false, .issuerCommonNameOverride = "Somebody Else"});
     }},
    {"ChainMissesTheIntermediate", [](const TestPki& pki, ManifestWriter& m,
                                      std::string&) { m = SignedManifest(kBody, pki.signer, {}); }},
    {"ChainInWrongOrder",
     [](const TestPki& pki, ManifestWriter& m, std::string&) {
       m = SignedManifest(kBody, pki.signer, {pki.root, pki.intermediate});
     }},
};

class VersionToolRejection : public VersionToolTest,
                             public ::testing::WithParamInterface<Rejection> {};

TEST_P(VersionToolRejection, IsABadCertificate) {
  ManifestWriter manifest = Signed(kBody);
  std::string crl = pki_.crlPem;
  GetParam().apply(pki_, manifest, crl);
  WriteFileBytes(crl_, crl);
  EXPECT_EQ(Verify(manifest), kBadCert);
  EXPECT_EQ(tool_.State(), 1);
}

INSTANTIATE_TEST_SUITE_P(Trust, VersionToolRejection, ::testing::ValuesIn(kRejections),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DemoPki, ManifestSignedByTheDemoSignerVerifies) {
  const std::string pki = ORBEC_DEMO_PKI_DIR;
  TestKey key = LoadPemKey(pki + "/signer.key");
  TestCert signer = LoadPemCertificate(pki + "/signer.crt", key);
  TestCert intermediate = LoadPemCertificate(pki + "/intermediate.crt", key);
  TempDir dir;
  WriteFileBytes(dir / "manifest.dat", SignedManifest(kBody, signer, {intermediate}).Bytes());
  VersionTool tool;
  EXPECT_EQ(
      Outcome([&] { tool.Verify(dir / "manifest.dat", pki + "/root.crt", pki + "/crl.pem"); }),
      "ok");
  EXPECT_EQ(tool.State(), 2);
}

}  // namespace

// Link-by-link checks of a certificate chain up to the root and against the root's CRL.
#include "verify/chain.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using namespace VerificationToolCrypto;
using verify_testing::kBadCert;
using verify_testing::Outcome;

CCertContextPtr Context(const TestCert& certificate) {
  return DecodeCertificate(certificate.Pem());
}

class ChainTest : public ::testing::Test {
 protected:
  CCrlContextPtr Crl(const std::string& pem) {
    WriteFileBytes(dir_ / "ps.crl", pem);
    return LoadCrlFile(dir_ / "ps.crl");
  }

  std::string Check(const std::vector<TestCert>& chain, const std::string& crlPem) {
    std::vector<CCertContextPtr> contexts;
    for (const TestCert& certificate : chain) contexts.push_back(Context(certificate));
    CCertContextPtr root = Context(pki_.root);
    CCrlContextPtr crl = Crl(crlPem);
    return Outcome([&] { VerifyCertificateChain(contexts, *root, *crl); });
  }

  std::string Check(const std::vector<TestCert>& chain) { return Check(chain, pki_.crlPem); }

  TempDir dir_;
  TestPki pki_ = TestPki::Make();
};

TEST_F(ChainTest, SignerUnderIntermediateUnderRoot) {
  EXPECT_EQ(Check({pki_.signer, pki_.intermediate}), "ok");
}

TEST_F(ChainTest, SignerDirectlyUnderTheRootIsCheckedAgainstTheRoot) {
  TestCert direct = IssueCertificate({.commonName = "Direct", .serial = 7, .isCa = false},
                                     PooledRsaKey(3), pki_.root);
  EXPECT_EQ(Check({direct}), "ok");
  EXPECT_EQ(Check({direct}, MakeCrlPem({.revokedSerials = {7}}, pki_.root)), kBadCert);
  EXPECT_EQ(Check({pki_.signer}), kBadCert);  // not issued by the root
}

TEST_F(ChainTest, EmptyChainIsRefused) { EXPECT_EQ(Check({}), kBadCert); }

TEST_F(ChainTest, OldSigningAlgorithmsVerify) {
  TestCert root = MakeSelfSigned(
      {.commonName = "Test Root CA", .serial = 100, .digest = Digest::kSha1}, PooledRsaKey(0));
  TestCert signer =
      IssueCertificate({.commonName = "Old", .serial = 8, .isCa = false, .digest = Digest::kSha1},
                       PooledRsaKey(3), root);
  std::vector<CCertContextPtr> chain{Context(signer)};
  CCrlContextPtr crl = Crl(MakeCrlPem({.version = 1, .digest = Digest::kMd5}, root));
  EXPECT_EQ(Outcome([&] { VerifyCertificateChain(chain, *Context(root), *crl); }), "ok");
}

TEST_F(ChainTest, VersionOneIssuerWithoutExtensionsIsAccepted) {
  TestCert intermediate =
      IssueCertificate({.commonName = "Old Intermediate", .serial = 9, .version1 = true},
                       PooledRsaKey(1), pki_.root);
  TestCert signer = IssueCertificate({.commonName = "Signer", .serial = 10, .isCa = false},
                                     PooledRsaKey(2), intermediate);
  EXPECT_EQ(Check({signer, intermediate}), "ok");
}

TEST_F(ChainTest, IssuerThatIsNotACaIsRefused) {
  TestCert endEntity = IssueCertificate({.commonName = "Not A CA", .serial = 11, .isCa = false},
                                        PooledRsaKey(1), pki_.root);
  TestCert signer = IssueCertificate({.commonName = "Signer", .serial = 12, .isCa = false},
                                     PooledRsaKey(2), endEntity);
  EXPECT_EQ(Check({signer, endEntity}), kBadCert);
  // A signer that has been made the last link itself is still fine.
  EXPECT_EQ(Check({endEntity}), "ok");
}

TEST_F(ChainTest, NamesMustLink) {
  TestCert misnamed = IssueCertificate(
      {.commonName = "Signer", .serial = 13, .isCa = false, .issuerCommonNameOverride = "Other CA"},
      PooledRsaKey(2), pki_.intermediate);
  EXPECT_EQ(Check({misnamed, pki_.intermediate}), kBadCert);
}

TEST_F(ChainTest, SignatureMustBeTheIssuers) {
  TestCert impostor =
      MakeSelfSigned({.commonName = "Test Intermediate CA", .serial = 14}, PooledRsaKey(4));
  TestCert signer = IssueCertificate({.commonName = "Signer", .serial = 15, .isCa = false},
                                     PooledRsaKey(2), impostor);
  EXPECT_EQ(Check({signer, pki_.intermediate}), kBadCert);
}

TEST_F(ChainTest, EveryLinkMustBeWithinItsValidityPeriod) {
  CertOptions expired{.commonName = "Signer",
                      .serial = 16,
                      .notBefore = -2 * kDay,
                      .notAfter = -kDay,
                      .isCa = false};
  CertOptions early{
      .commonName = "Signer", .serial = 17, .notBefore = kDay, .notAfter = 2 * kDay, .isCa = false};
  for (const CertOptions& period : {expired, early}) {
    TestCert signer = IssueCertificate(period, PooledRsaKey(2), pki_.intermediate);
    EXPECT_EQ(Check({signer, pki_.intermediate}), kBadCert);
    CertOptions ca = period;
    ca.commonName = "Test Intermediate CA";
    ca.isCa = true;
    TestCert intermediate = IssueCertificate(ca, PooledRsaKey(1), pki_.root);
    EXPECT_EQ(Check({pki_.signer, intermediate}), kBadCert);
  }
}

TEST_F(ChainTest, RevocationAppliesToTheLastLinkOnly) {
  EXPECT_EQ(
      Check({pki_.signer, pki_.intermediate}, MakeCrlPem({.revokedSerials = {200}}, pki_.root)),
      kBadCert);
  EXPECT_EQ(Check({pki_.signer, pki_.intermediate},
                  MakeCrlPem({.version = 1, .revokedSerials = {199, 201, 300}}, pki_.root)),
            "ok");
}

TEST_F(ChainTest, CrlMustBeTheRootsOwn) {
  std::string otherIssuer = MakeCrlPem({}, pki_.intermediate);
  std::string forged = MakeCrlPem({}, pki_.root, PooledRsaKey(4));
  EXPECT_EQ(Check({pki_.signer, pki_.intermediate}, otherIssuer), kBadCert);
  EXPECT_EQ(Check({pki_.signer, pki_.intermediate}, forged), kBadCert);
}

}  // namespace

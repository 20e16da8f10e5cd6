// Link-by-link checks of a certificate chain up to the root and against the root's CRL.
#include "verify/chain.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>

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

// Who may sign and who may issue. Each row makes a root (the usual one unless options are
// given), the CAs from the top down, each issued by the one above, and a signer under the
// last of them; a row without CAs has its signer directly under the root.
using Extension = std::pair<std::string, std::string>;
using Extensions = std::vector<Extension>;

struct UsageRow {
  const char* name;
  const char* expected;
  Extensions signer;
  std::vector<Extensions> cas = {};
  std::optional<CertOptions> root = std::nullopt;
};

void PrintTo(const UsageRow& row, std::ostream* out) { *out << row.name; }

const Extension kCa{"basicConstraints", "critical,CA:TRUE"};
const Extension kCaPathLen0{"basicConstraints", "critical,CA:TRUE,pathlen:0"};
const Extension kUnknownCritical{"1.3.6.1.4.1.55555.1", "critical,DER:05:00"};
const Extension kCodeSigning{"extendedKeyUsage", "codeSigning"};

const UsageRow kUsageRows[] = {
    {"CodeSigningSigner", "ok", {{"keyUsage", "critical,digitalSignature"}, kCodeSigning}, {{kCa}}},
    {"NonRepudiationSignerForAnyUsage",
     "ok",
     {{"keyUsage", "nonRepudiation"}, {"extendedKeyUsage", "anyExtendedKeyUsage"}},
     {{kCa}}},
    {"TlsServerSigner", kBadCert, {{"extendedKeyUsage", "serverAuth"}}, {{kCa}}},
    {"KeyEnciphermentOnlySigner", kBadCert, {{"keyUsage", "keyEncipherment"}}, {{kCa}}},
    {"IntermediateWithoutBasicConstraints", kBadCert, {}, {{}}},
    {"IntermediateWithKeyCertSign", "ok", {}, {{kCa, {"keyUsage", "keyCertSign,cRLSign"}}}},
    {"IntermediateWithoutKeyCertSign", kBadCert, {}, {{kCa, {"keyUsage", "cRLSign"}}}},
    {"PathLenZeroIssuingACa", kBadCert, {}, {{kCaPathLen0}, {kCa}}},
    {"PathLenZeroIssuingTheSigner", "ok", {}, {{kCa}, {kCaPathLen0}}},
    {"RootPathLenZeroAboveAnIntermediate",
     kBadCert,
     {},
     {{kCa}},
     CertOptions{.basicConstraints = false, .extensions = {kCaPathLen0}}},
    {"UnknownCriticalExtensionOnSigner", kBadCert, {kUnknownCritical}, {{kCa}}},
    {"UnknownCriticalExtensionOnIntermediate", kBadCert, {}, {{kCa, kUnknownCritical}}},
    {"UnknownCriticalExtensionOnRoot",
     kBadCert,
     {},
     {},
     CertOptions{.extensions = {kUnknownCritical}}},
    {"UnknownExtensionThatIsNotCritical", "ok", {{"1.3.6.1.4.1.55555.1", "DER:05:00"}}, {{kCa}}},
    {"VersionOneRootWithoutExtensions", "ok", {}, {}, CertOptions{.version1 = true}},
};

class ChainUsage : public ChainTest, public ::testing::WithParamInterface<UsageRow> {};

TEST_P(ChainUsage, Outcome) {
  const UsageRow& row = GetParam();
  if (row.root) {
    CertOptions options = *row.root;
    options.commonName = "Test Root CA";
    pki_.root = MakeSelfSigned(options, PooledRsaKey(0));
    pki_.crlPem = MakeCrlPem({}, pki_.root);
  }
  std::vector<TestCert> chain;
  TestCert issuer = pki_.root;
  for (const Extensions& extensions : row.cas) {
    long serial = 21 + static_cast<long>(chain.size());
    issuer = IssueCertificate({.commonName = "CA " + std::to_string(serial),
                               .serial = serial,
                               .basicConstraints = false,
                               .extensions = extensions},
                              PooledRsaKey(1), issuer);
    chain.insert(chain.begin(), issuer);
  }
  chain.insert(chain.begin(),
               IssueCertificate(
                   {.commonName = "Signer", .serial = 20, .isCa = false, .extensions = row.signer},
                   PooledRsaKey(2), issuer));
  EXPECT_EQ(Check(chain), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Usage, ChainUsage, ::testing::ValuesIn(kUsageRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A self-issued CA certificate below a pathLen 0 CA (a key rollover) is not counted.
TEST_F(ChainTest, SelfIssuedCaDoesNotCountTowardsPathLength) {
  Extensions pathLen0{{"basicConstraints", "critical,CA:TRUE,pathlen:0"}};
  TestCert top = IssueCertificate(
      {.commonName = "Top CA", .serial = 30, .basicConstraints = false, .extensions = pathLen0},
      PooledRsaKey(1), pki_.root);
  TestCert rollover =
      IssueCertificate({.commonName = "Top CA", .serial = 31}, PooledRsaKey(3), top);
  TestCert signer = IssueCertificate({.commonName = "Signer", .serial = 32, .isCa = false},
                                     PooledRsaKey(2), rollover);
  EXPECT_EQ(Check({signer, rollover, top}), "ok");
}

}  // namespace

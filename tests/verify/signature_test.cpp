// RSA signatures over a manifest body.
#include "verify/signature.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/manifest_writer.h"
#include "support/test_pki.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using namespace VerificationToolCrypto;
using verify_testing::Crypt;
using verify_testing::kBadSig;
using verify_testing::Outcome;

const std::string kBody = "\".\\\\a.tar\" 1 0123456789abcdef0123456789abcdef01234567\n";

class SignatureTest : public ::testing::Test {
 protected:
  std::string Check(const std::string& body, const std::vector<std::string>& candidates,
                    const TestCert& signer) {
    CCertContextPtr context = DecodeCertificate(signer.Pem());
    std::istringstream in(body);
    return Outcome([&] { VerifySignature(in, candidates, *context, HashAlgorithm::kSha1); });
  }

  TestPki pki_ = TestPki::Make();
  std::string valid_ = SignSha1(pki_.signer.key(), kBody);
};

TEST_F(SignatureTest, StoredMostSignificantByteFirstVerifies) {
  EXPECT_EQ(Check(kBody, {valid_}, pki_.signer), "ok");
  EXPECT_EQ(Check(kBody, {Reversed(valid_)}, pki_.signer), kBadSig);
}

TEST_F(SignatureTest, FirstCandidateThatVerifiesWins) {
  std::string other = SignSha1(pki_.intermediate.key(), kBody);
  EXPECT_EQ(Check(kBody, {other, "", valid_.substr(1), valid_}, pki_.signer), "ok");
  EXPECT_EQ(Check(kBody, {other, Reversed(valid_)}, pki_.signer), kBadSig);
}

TEST_F(SignatureTest, ManyFailedCandidatesBeforeTheValidOneOverALongBody) {
  std::string body = std::string(200 * 1024 + 1, '#') + "\n";  // several read blocks, one partial
  std::string valid = SignSha1(pki_.signer.key(), body);
  std::vector<std::string> candidates(1000, Reversed(valid));
  candidates[500] = SignSha1(pki_.intermediate.key(), body);
  EXPECT_EQ(Check(body, candidates, pki_.signer), kBadSig);
  candidates.push_back(valid);
  EXPECT_EQ(Check(body, candidates, pki_.signer), "ok");
}

TEST_F(SignatureTest, AnyChangeOfTheBodyFails) {
  std::string crlf = kBody.substr(0, kBody.size() - 1) + "\r\n";
  EXPECT_EQ(Check(crlf, {valid_}, pki_.signer), kBadSig);
  std::string flipped = kBody;
  flipped[3] ^= 1;
  EXPECT_EQ(Check(flipped, {valid_}, pki_.signer), kBadSig);
}

TEST_F(SignatureTest, EmptyListFailsBeforeTheKeyIsLookedAt) {
  TestCert ecSigner = IssueCertificate({.commonName = "EC", .isCa = false}, NewEcKey(), pki_.root);
  EXPECT_EQ(Check(kBody, {}, ecSigner), kBadSig);
}

TEST_F(SignatureTest, KeyThatIsNotRsaCannotBeImported) {
  TestCert ecSigner = IssueCertificate({.commonName = "EC", .isCa = false}, NewEcKey(), pki_.root);
  EXPECT_EQ(Check(kBody, {valid_}, ecSigner), Crypt("CryptImportPublicKeyInfo failed"));
}

}  // namespace

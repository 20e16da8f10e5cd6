// The generated trust cases (tests/verify/make_trust_cases.py): every build must give each the
// decision the table names, so both builds decide alike on the same bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/temp_dir.h"
#include "verify/crypto.h"
#include "verify_testing_outcome.h"

namespace {

using namespace VerificationToolCrypto;

std::string CaseBytes(const std::string& file) {
  return testing_support::ReadFileBytes(std::string(ORBEC_TRUST_CASES_DIR) + "/" + file);
}

// The steps of the trust check, in its order: certificates and CRL decoded, the CRL current,
// the chain checked.
void CheckChain(std::istringstream& files) {
  std::string root, crl, link;
  files >> root >> crl;
  std::vector<CCertContextPtr> chain;
  while (files >> link) chain.push_back(DecodeCertificateDer(CaseBytes(link)));
  CCrlContextPtr list = DecodeCrl(CaseBytes(crl));
  if (!IsCrlTimeValid(list)) throw verify_exceptions::ve_badcert();
  VerifyCertificateChain(chain, *DecodeCertificateDer(CaseBytes(root)), *list);
}

void CheckSignature(std::istringstream& files) {
  std::string signer, body, signature;
  files >> signer >> body >> signature;
  std::istringstream text(CaseBytes(body));
  VerifySignature(text, {CaseBytes(signature)}, *DecodeCertificateDer(CaseBytes(signer)),
                  HashAlgorithm::kSha1);
}

std::string Decision(const std::string& outcome) {
  if (outcome == "ok") return "ok";
  if (outcome == verify_testing::kBadCert) return "badcert";
  if (outcome == verify_testing::kBadSig) return "badsig";
  if (outcome.starts_with("[VE_CRYPT] Decoding")) return "crypt";
  return outcome;
}

TEST(TrustCases, EachGetsTheDecisionTheTableNames) {
  std::ifstream table(std::string(ORBEC_TRUST_CASES_DIR) + "/cases.txt");
  ASSERT_TRUE(table.is_open());
  int rows = 0;
  for (std::string line; std::getline(table, line); ++rows) {
    std::istringstream fields(line);
    std::string kind, name, expected;
    fields >> kind >> name >> expected;
    std::string outcome = verify_testing::Outcome(
        [&] { kind == "chain" ? CheckChain(fields) : CheckSignature(fields); });
    EXPECT_EQ(Decision(outcome), expected) << name;
  }
  EXPECT_GE(rows, 30);
}

}  // namespace

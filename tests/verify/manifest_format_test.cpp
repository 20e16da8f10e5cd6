// The signed manifest format: what the parser takes apart, and which error a malformed file
// gets depending on where its first error stands.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "support/manifest_writer.h"
#include "verify/certificates.h"
#include "verify/verify_tool.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using verify_testing::kBadCert;
using verify_testing::kBadSig;

const std::string kBody = "\".\\\\product.tar\" 1 0123456789abcdef0123456789abcdef01234567\n";
// Byte strings standing in for a signature and certificates: the parser does not decode
// certificates, and their lengths give padding of two, one and no '=' in Base64.
const std::string kSignature(256, '\x5a');
const std::string kSignerDer(301, '\x30');
const std::string kChainDer(302, '\x31');
const std::string kChainDer2(303, '\x32');

ManifestWriter Wellformed() {
  return ManifestWriter{kBody, {SignatureBlock(kSignature), CertificateBlock(kSignerDer)}, ""};
}

std::string Pem(const std::string& der, const LineOptions& options = {}) {
  return CertificateBlock(der, options).Text();
}

// "ok", the description of the thrown error, or "stream failed" (reported as ve_file 4).
std::string Parse(const std::string& bytes, VerifyTool& target) {
  std::istringstream in(bytes, std::ios::binary);
  std::string outcome = verify_testing::Outcome([&] { in >> target; });
  if (outcome == "ok" && in.fail()) return "stream failed";
  return outcome;
}

std::string Parse(const std::string& bytes) {
  VerifyTool target;
  return Parse(bytes, target);
}

TEST(ManifestFormat, MinimalManifestIsTakenApart) {
  VerifyTool tool;
  ASSERT_EQ(Parse(Wellformed().Bytes(), tool), "ok");
  EXPECT_EQ(tool.body, kBody);
  ASSERT_EQ(tool.signatures.size(), 1u);
  EXPECT_EQ(tool.signatures[0], kSignature);
  EXPECT_EQ(tool.signerCertificate, Pem(kSignerDer));
  EXPECT_TRUE(tool.chainCertificates.empty());
}

TEST(ManifestFormat, SignaturesAndChainKeepFileOrder) {
  ManifestWriter m = Wellformed();
  std::string second(256, '\x07');
  m.blocks.insert(m.blocks.begin() + 1, SignatureBlock(second));
  m.blocks.push_back(CertificateBlock(kChainDer));
  m.blocks.push_back(CertificateBlock(kChainDer2));
  VerifyTool tool;
  ASSERT_EQ(Parse(m.Bytes(), tool), "ok");
  EXPECT_EQ(tool.signatures, (std::vector<std::string>{kSignature, second}));
  EXPECT_EQ(tool.chainCertificates, (std::vector<std::string>{Pem(kChainDer), Pem(kChainDer2)}));
}

TEST(ManifestFormat, LinesOf79CharactersAndPaddingOnItsOwnLineAreKeptAsWritten) {
  LineOptions wide{.width = 79, .paddingOnOwnLine = true};
  ManifestWriter m{
      kBody, {SignatureBlock(kSignature, wide), CertificateBlock(kSignerDer, wide)}, ""};
  VerifyTool tool;
  ASSERT_EQ(Parse(m.Bytes(), tool), "ok");
  EXPECT_EQ(tool.signatures[0], kSignature);
  EXPECT_EQ(tool.signerCertificate, Pem(kSignerDer, wide));
  EXPECT_NE(tool.signerCertificate.find("\n==\n-----END"), std::string::npos);
}

TEST(ManifestFormat, SignedBytesEndWithTheLineFeedBeforeTheFirstSignature) {
  ManifestWriter m = Wellformed();
  m.body =
      "# comment\n\n-----BEGIN SIGNATURE-----\r\n" + kBody.substr(0, kBody.size() - 1) + "\r\n";
  VerifyTool tool;
  ASSERT_EQ(Parse(m.Bytes(), tool), "ok");
  EXPECT_EQ(tool.body, m.body);

  m.body = "\n";
  ASSERT_EQ(Parse(m.Bytes(), tool), "ok");
  EXPECT_EQ(tool.body, "\n");
}

TEST(ManifestFormat, FailedParseLeavesTheTargetUnchanged) {
  VerifyTool tool;
  tool.body = "before";
  ManifestWriter m = Wellformed();
  m.trailer = "\n";
  EXPECT_EQ(Parse(m.Bytes(), tool), "stream failed");
  EXPECT_EQ(tool.body, "before");
  EXPECT_TRUE(tool.signatures.empty());
}

struct Malformation {
  const char* name;
  std::function<void(ManifestWriter&)> apply;
  std::string expected;
};

void PrintTo(const Malformation& malformation, std::ostream* out) { *out << malformation.name; }

void InsertAfterSigner(ManifestWriter& m, PemBlock block) {
  m.blocks.insert(m.blocks.begin() + 2, std::move(block));
}

const LineOptions kEighty{.width = 80};

// Each row breaks a well-formed manifest at one place.
const Malformation kMalformations[] = {
    // No "\n-----BEGIN SIGNATURE-----\n" anywhere.
    {"NoSignatureBlock", [](ManifestWriter& m) { m.blocks.erase(m.blocks.begin()); }, kBadSig},
    {"NoBlocksAtAll", [](ManifestWriter& m) { m.blocks.clear(); }, kBadSig},
    {"FileBeginsWithSignatureLine", [](ManifestWriter& m) { m.body.clear(); }, kBadSig},
    {"SignatureBeginLineEndsInCarriageReturn",
     [](ManifestWriter& m) { m.blocks[0].begin = "-----BEGIN SIGNATURE-----\r\n"; }, kBadSig},
    // The first signature block has no Base64 character at its start.
    {"EmptyFirstSignatureBlock", [](ManifestWriter& m) { m.blocks[0].lines.clear(); }, kBadSig},
    {"EmptyLineStartsFirstSignature", [](ManifestWriter& m) { m.blocks[0].lines.insert(0, "\n"); },
     kBadSig},
    {"FirstSignatureOnlyPadded", [](ManifestWriter& m) { m.blocks[0].lines = "=\n"; }, kBadSig},
    // Errors after the first signature's text has begun, up to the signer certificate's text.
    {"EightyCharactersInFirstSignature",
     [](ManifestWriter& m) { m.blocks[0] = SignatureBlock(kSignature, kEighty); }, kBadCert},
    {"ForeignByteInFirstSignatureLine",
     [](ManifestWriter& m) { m.blocks[0].lines.insert(10, "*"); }, kBadCert},
    {"CarriageReturnLineEndsInFirstSignature",
     [](ManifestWriter& m) { m.blocks[0].lines = Base64Lines(kSignature, {.lineEnd = "\r\n"}); },
     kBadCert},
    {"BrokenSignatureEndLine",
     [](ManifestWriter& m) { m.blocks[0].end = "-----END SIGNATURE----\n"; }, kBadCert},
    {"ErrorInSecondSignature",
     [](ManifestWriter& m) {
       m.blocks.insert(m.blocks.begin() + 1, SignatureBlock(kSignature, kEighty));
     },
     kBadCert},
    {"EmptySecondSignature",
     [](ManifestWriter& m) {
       m.blocks.insert(m.blocks.begin() + 1, PemBlock{m.blocks[0].begin, "", m.blocks[0].end});
     },
     kBadCert},
    {"BrokenCertificateBeginLine",
     [](ManifestWriter& m) { m.blocks[1].begin = "-----BEGIN CERTIFICATX-----\n"; }, kBadCert},
    {"UnknownBlockAfterSignature",
     [](ManifestWriter& m) { m.blocks[1].begin = "-----BEGIN PUBLIC KEY-----\n"; }, kBadCert},
    {"CertificateBeginLineEndsInCarriageReturn",
     [](ManifestWriter& m) { m.blocks[1].begin = "-----BEGIN CERTIFICATE-----\r\n"; }, kBadCert},
    {"EmptyLineStartsCertificate", [](ManifestWriter& m) { m.blocks[1].lines.insert(0, "\n"); },
     kBadCert},
    {"FileEndsAfterSignatures", [](ManifestWriter& m) { m.blocks.pop_back(); }, kBadCert},
    {"ByteBetweenSignatureAndCertificate", [](ManifestWriter& m) { m.blocks[0].end += "\n"; },
     kBadCert},
    // Errors once the signer certificate's text has begun.
    {"EightyCharactersInCertificate",
     [](ManifestWriter& m) { m.blocks[1] = CertificateBlock(kSignerDer, kEighty); },
     "stream failed"},
    {"ForeignByteInCertificate", [](ManifestWriter& m) { m.blocks[1].lines.insert(70, "."); },
     "stream failed"},
    {"CarriageReturnLineEndsInCertificate",
     [](ManifestWriter& m) { m.blocks[1].lines = Base64Lines(kSignerDer, {.lineEnd = "\r\n"}); },
     "stream failed"},
    {"ThreePaddingCharactersInCertificate",
     [](ManifestWriter& m) { m.blocks[1].lines.insert(m.blocks[1].lines.size() - 1, "="); },
     "stream failed"},
    {"BrokenCertificateEndLine",
     [](ManifestWriter& m) { m.blocks[1].end = "-----END CERTIFICATE-----"; }, "stream failed"},
    {"ErrorInChainCertificate",
     [](ManifestWriter& m) { m.blocks.push_back(CertificateBlock(kChainDer, kEighty)); },
     "stream failed"},
    {"BrokenChainBeginLine",
     [](ManifestWriter& m) {
       m.blocks.push_back(CertificateBlock(kChainDer));
       m.blocks.back().begin = "-----BEGIN CERTIFICATES-----\n";
     },
     "stream failed"},
    {"SignatureAfterSignerCertificate",
     [](ManifestWriter& m) { InsertAfterSigner(m, SignatureBlock(kSignature)); }, "stream failed"},
    {"TrailingLineFeed", [](ManifestWriter& m) { m.trailer = "\n"; }, "stream failed"},
    {"TrailingBytes", [](ManifestWriter& m) { m.trailer = "x"; }, "stream failed"},
};

class ManifestMalformation : public ::testing::TestWithParam<Malformation> {};

TEST_P(ManifestMalformation, GetsTheErrorOfItsPlace) {
  ManifestWriter m = Wellformed();
  GetParam().apply(m);
  EXPECT_EQ(Parse(m.Bytes()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(OutcomeTable, ManifestMalformation, ::testing::ValuesIn(kMalformations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Base64, certificate and CRL decoding, the trust-anchor file readers and CRL currency.
#include "verify/certificates.h"

#include <gtest/gtest.h>

#include "support/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "verify/chain.h"
#include "verify_testing_outcome.h"

namespace {

using namespace testing_support;
using namespace VerificationToolCrypto;
using verify_testing::BadFile;
using verify_testing::Crypt;
using verify_testing::Outcome;

std::string CrlFile(const TempDir& dir, const std::string& text) {
  std::string path = dir / "ps.crl";
  WriteFileBytes(path, text);
  return path;
}

// The chain check of a certificate with serial, issued by the test root, against root and crl
// as the code under test decoded them: "ok" only when root holds the test root's name and key,
// and crl is the test root's own and does not revoke serial.
std::string CheckIssuedByRoot(const TestPki& pki, const CCertContext& root, const CCrlContext& crl,
                              long serial = 7) {
  TestCert issued = IssueCertificate({.commonName = "Issued", .serial = serial, .isCa = false},
                                     PooledRsaKey(3), pki.root);
  std::vector<CCertContextPtr> chain{DecodeCertificateDer(issued.Der())};
  return Outcome([&] { VerifyCertificateChain(chain, root, crl); });
}

CCrlContextPtr RootCrl(const TestPki& pki) {
  return DecodeCrl(MakeCrlDer({}, pki.root, pki.root.key()));
}

TEST(DecodeBase64, DecodesWhatTheReadersKeep) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("QUJD\nREVG\n"), "ABCDEF");
  EXPECT_EQ(DecodeBase64("QUJD\nREU=\n"), "ABCDE");
  EXPECT_EQ(DecodeBase64("QUJD\nRA\n==\n"), "ABCD");
  EXPECT_EQ(DecodeBase64("QUJD\r\nRA==\r\n"), "ABCD");
  std::string bytes(300, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  EXPECT_EQ(DecodeBase64(Base64Lines(bytes, {.width = 79})), bytes);
}

TEST(DecodeBase64, TextThatIsNotBase64GivesNoBytes) {
  EXPECT_EQ(DecodeBase64("QUJ*"), "");
  EXPECT_EQ(DecodeBase64("QUJDR"), "");  // a lone character after the last quantum
  EXPECT_EQ(DecodeBase64("QQ==QUJD"), "");
}

TEST(DecodeCertificate, TakesTheFirstPemBlock) {
  TestPki pki = TestPki::Make();
  CCertContextPtr certificate = DecodeCertificate(pki.root.Pem() + pki.signer.Pem());
  EXPECT_EQ(CheckIssuedByRoot(pki, *certificate, *RootCrl(pki)), "ok");
}

TEST(DecodeCertificate, RefusesTextsThatAreNotCertificates) {
  std::string notDer = "-----BEGIN CERTIFICATE-----\n" + Base64Lines("not a certificate") +
                       "-----END CERTIFICATE-----\n";
  for (const std::string& text : {std::string(), std::string("garbage"), notDer}) {
    EXPECT_EQ(Outcome([&] { DecodeCertificate(text); }), Crypt("Decoding certificate")) << text;
  }
  // Well-formed DER that is not a SEQUENCE (found by fuzzing: it was read as one).
  for (const std::string& der : {std::string("\x02\x01\x05", 3), std::string("\x0a\x00", 2)}) {
    EXPECT_EQ(Outcome([&] { DecodeCertificateDer(der); }), Crypt("Decoding certificate"));
    EXPECT_EQ(Outcome([&] { DecodeCrl(der); }), Crypt("Decoding crl"));
  }
}

TEST(LoadCertificateFile, MissingFileNamesThePath) {
  TempDir dir;
  std::string path = dir / "ps_rootca.crt";
  EXPECT_EQ(Outcome([&] { LoadCertificateFile(path); }), BadFile(7, path));
  EXPECT_EQ(Outcome([&] { LoadCertificateFile(""); }), BadFile(7, ""));
}

TEST(LoadCertificateFile, ReadsPemWithEitherLineEnd) {
  TempDir dir;
  TestPki pki = TestPki::Make();
  std::string pem = pki.root.Pem();
  std::string crlf;
  for (char c : pem) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& text : {pem, crlf}) {
    WriteFileBytes(dir / "root.crt", text);
    EXPECT_EQ(CheckIssuedByRoot(pki, *LoadCertificateFile(dir / "root.crt"), *RootCrl(pki)), "ok");
  }
  WriteFileBytes(dir / "empty.crt", "");
  EXPECT_EQ(Outcome([&] { LoadCertificateFile(dir / "empty.crt"); }),
            Crypt("Decoding certificate"));
}

TEST(LoadCrlFile, ReadsOnlyTheFirstBlock) {
  TempDir dir;
  TestPki pki = TestPki::Make();
  std::string first = MakeCrlPem({.version = 1, .digest = Digest::kMd5}, pki.root);
  std::string second = MakeCrlPem({.revokedSerials = {1, 2}}, pki.intermediate);
  CCrlContextPtr crl = LoadCrlFile(CrlFile(dir, first + second + "trailing junk"));
  // The intermediate's CRL, or its entries, would fail the check.
  EXPECT_EQ(CheckIssuedByRoot(pki, *DecodeCertificateDer(pki.root.Der()), *crl, 1), "ok");
}

TEST(LoadCrlFile, CarriageReturnLineEndsLoadLikeLineFeeds) {
  TempDir dir;
  TestPki pki = TestPki::Make();
  std::string pem = MakeCrlPem({.revokedSerials = {5}}, pki.root);
  std::string crlf;
  for (char c : pem) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  CCrlContextPtr crl = LoadCrlFile(CrlFile(dir, crlf));
  CCertContextPtr root = DecodeCertificateDer(pki.root.Der());
  EXPECT_EQ(CheckIssuedByRoot(pki, *root, *crl, 5), verify_testing::kBadCert);
  EXPECT_EQ(CheckIssuedByRoot(pki, *root, *crl, 6), "ok");
}

TEST(LoadCrlFile, FirstBlockBreakingTheRulesIsRefused) {
  TempDir dir;
  TestPki pki = TestPki::Make();
  std::string pem = MakeCrlPem({}, pki.root);
  std::string body = pem.substr(pem.find('\n') + 1);
  body = body.substr(0, body.find("-----END"));
  std::string der = DecodeBase64(body);
  const std::string cases[] = {
      "",
      "\n" + pem,                                                       // not the begin line first
      "-----BEGIN X509 CRL-----\n" + body + "-----END X509 CRL----\n",  // broken end marker
      "-----BEGIN X509 CRL-----\n" + body,                              // no end marker
      "-----BEGIN X509 CRL-----\n" + Base64Lines(der, {.width = 80}) + "-----END X509 CRL-----\n",
      "-----BEGIN X509 CRL-----\n" + Base64Lines("not a crl") + "-----END X509 CRL-----\n",
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(Outcome([&] { LoadCrlFile(CrlFile(dir, text)); }), Crypt("Decoding crl")) << text;
  }
}

TEST(LoadCrlFile, MissingFileNamesThePath) {
  TempDir dir;
  std::string path = dir / "ps.crl";
  EXPECT_EQ(Outcome([&] { LoadCrlFile(path); }), BadFile(7, path));
  EXPECT_EQ(Outcome([&] { LoadCrlFile(""); }), BadFile(7, ""));
}

TEST(DecodeCrl, RefusesBytesThatAreNotACrl) {
  TestPki pki = TestPki::Make();
  EXPECT_EQ(Outcome([&] { DecodeCrl(""); }), Crypt("Decoding crl"));
  EXPECT_EQ(Outcome([&] { DecodeCrl(pki.root.Der()); }), Crypt("Decoding crl"));
}

TEST(IsCrlTimeValid, CurrentOnlyBetweenThisAndNextUpdate) {
  TempDir dir;
  TestPki pki = TestPki::Make();
  struct Case {
    CrlOptions options;
    bool current;
  } cases[] = {
      {{.thisUpdate = -kDay, .nextUpdate = kDay}, true},
      {{.thisUpdate = kDay, .nextUpdate = 2 * kDay}, false},
      {{.thisUpdate = -2 * kDay, .nextUpdate = -kDay}, false},
      {{.thisUpdate = -kDay, .nextUpdate = std::nullopt}, true},
      {{.version = 1, .thisUpdate = -60, .nextUpdate = 60, .digest = Digest::kMd5}, true},
  };
  for (const Case& c : cases) {
    CCrlContextPtr crl = LoadCrlFile(CrlFile(dir, MakeCrlPem(c.options, pki.root)));
    EXPECT_EQ(IsCrlTimeValid(crl), c.current) << c.options.thisUpdate;
  }
}

}  // namespace

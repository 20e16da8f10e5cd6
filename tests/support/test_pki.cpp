// The parts of the test PKI that need no cryptography: PEM text and the usual chain.
#include "support/test_pki.h"

#include "support/manifest_writer.h"

namespace testing_support {

std::string TestCert::Pem() const { return CertificateBlock(der_).Text(); }

std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer) {
  return MakeCrlPem(options, issuer, issuer.key());
}

std::string MakeCrlPem(const CrlOptions& options, const TestCert& issuer,
                       const TestKey& signingKey) {
  std::string der = MakeCrlDer(options, issuer, signingKey);
  return "-----BEGIN X509 CRL-----\n" + Base64Lines(der) + "-----END X509 CRL-----\n";
}

TestPki TestPki::Make() {
  TestCert root = MakeSelfSigned({.commonName = "Test Root CA", .serial = 100}, PooledRsaKey(0));
  TestCert intermediate = IssueCertificate({.commonName = "Test Intermediate CA", .serial = 200},
                                           PooledRsaKey(1), root);
  TestCert signer = IssueCertificate({.commonName = "Test Signer", .serial = 300, .isCa = false},
                                     PooledRsaKey(2), intermediate);
  std::string crl = MakeCrlPem({}, root);
  return TestPki{root, intermediate, signer, crl};
}

}  // namespace testing_support

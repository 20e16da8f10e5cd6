#include "verify/certificates.h"
#include "verify/chain.h"
#include "verify/signature.h"
#include "verify/stream_readers.h"
#include "verify/verify_exceptions.h"
#include "verify/verify_tool.h"

namespace crypto = VerificationToolCrypto;

void VerifyTool::VerifyTrust(const std::string& rootCertPath, const std::string& crlPath) const {
  crypto::CCertContextPtr signer = crypto::DecodeCertificate(signerCertificate);
  crypto::TextViewStream bodyStream(body);
  crypto::VerifySignature(bodyStream, signatures, *signer, crypto::HashAlgorithm::kSha1);

  std::vector<crypto::CCertContextPtr> chain{signer};
  for (const std::string& pem : chainCertificates) {
    chain.push_back(crypto::DecodeCertificate(pem));
  }
  crypto::CCrlContextPtr crl = crypto::LoadCrlFile(crlPath);
  if (!crypto::IsCrlTimeValid(crl)) throw verify_exceptions::ve_badcert();
  crypto::CCertContextPtr root = crypto::LoadCertificateFile(rootCertPath);
  crypto::VerifyCertificateChain(chain, *root, *crl);
}

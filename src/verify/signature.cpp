#include "verify/signature.h"

#include <vector>

#include "verify/digest.h"
#include "verify/rsa.h"
#include "verify/verify_exceptions.h"
#include "verify/x509.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badsig;
using verify_exceptions::ve_crypt;

// Size of the blocks the body is read and hashed in.
constexpr std::size_t kBodyBlockSize = 64 * 1024;

// The digest of everything left in body, read in blocks: the body is hashed once, however
// many candidates are then checked against it.
std::string BodyDigest(std::istream& body) {
  Sha1Digest digest;
  std::vector<char> block(kBodyBlockSize);
  while (body.read(block.data(), static_cast<std::streamsize>(block.size())) || body.gcount() > 0) {
    digest.Update(reinterpret_cast<const unsigned char*>(block.data()),
                  static_cast<std::size_t>(body.gcount()));
  }
  return digest.Finish();
}

}  // namespace

void VerifySignature(std::istream& body, const std::vector<std::string>& candidates,
                     const CCertContext& signer, HashAlgorithm) {
  if (candidates.empty()) throw ve_badsig();
  const Certificate& certificate = signer.get();
  if (!certificate.rsa_key) throw ve_crypt("CryptImportPublicKeyInfo failed");
  const std::string digest = BodyDigest(body);
  for (const std::string& candidate : candidates) {
    if (VerifiesRsaSignature(certificate.public_key, SignatureAlgorithm::kSha1Rsa, digest,
                             candidate)) {
      return;
    }
  }
  throw ve_badsig();
}

}  // namespace VerificationToolCrypto

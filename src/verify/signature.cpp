#include "verify/signature.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <iterator>

#include "verify/openssl_owners.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badsig;
using verify_exceptions::ve_crypt;

const EVP_MD* DigestOf(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return EVP_sha1();
  }
  return nullptr;
}

EVP_PKEY* RsaPublicKey(const CCertContext& signer) {
  EVP_PKEY* key = X509_get0_pubkey(signer.get());
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
    throw ve_crypt("CryptImportPublicKeyInfo failed");
  }
  return key;
}

// One candidate against the body, with a fresh verification context.
bool Verifies(const std::string& body, const std::string& candidate, EVP_PKEY* key,
              const EVP_MD* digest) {
  EvpMdCtxOwner context(EVP_MD_CTX_new());
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  EVP_PKEY_CTX* keyContext = nullptr;
  if (digest == nullptr ||
      EVP_DigestVerifyInit(context.get(), &keyContext, digest, nullptr, key) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  if (EVP_DigestVerifyUpdate(context.get(), body.data(), body.size()) != 1) {
    throw ve_crypt("CryptHashData failed");
  }
  const auto* signature = reinterpret_cast<const unsigned char*>(candidate.data());
  return EVP_DigestVerifyFinal(context.get(), signature, candidate.size()) == 1;
}

}  // namespace

void VerifySignature(std::istream& body, const std::vector<std::string>& candidates,
                     const CCertContext& signer, HashAlgorithm algorithm) {
  std::string text(std::istreambuf_iterator<char>(body), std::istreambuf_iterator<char>{});
  if (candidates.empty()) throw ve_badsig();
  ErrorQueueCleaner cleaner;
  EVP_PKEY* key = RsaPublicKey(signer);
  for (const std::string& candidate : candidates) {
    if (Verifies(text, candidate, key, DigestOf(algorithm))) return;
  }
  throw ve_badsig();
}

}  // namespace VerificationToolCrypto

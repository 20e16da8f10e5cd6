#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>

#include "verify/certificates_openssl.h"
#include "verify/owners_openssl.h"
#include "verify/signature.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badsig;
using verify_exceptions::ve_crypt;

// Size of the blocks the body is read and hashed in.
constexpr std::size_t kBodyBlockSize = 64 * 1024;

const EVP_MD* MessageDigest(HashAlgorithm algorithm) {
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

// The digest of everything left in body, read in blocks: the body is hashed once, however
// many candidates are then checked against it.
std::string BodyDigest(std::istream& body, const EVP_MD* digest) {
  EvpMdCtxOwner context(EVP_MD_CTX_new());
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  if (digest == nullptr || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  std::vector<char> block(kBodyBlockSize);
  while (body.read(block.data(), static_cast<std::streamsize>(block.size())) || body.gcount() > 0) {
    if (EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(body.gcount())) !=
        1) {
      throw ve_crypt("CryptHashData failed");
    }
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> value;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), value.data(), &length) != 1) {
    throw ve_crypt("CryptHashData failed");
  }
  return std::string(reinterpret_cast<const char*>(value.data()), length);
}

// A verification context for RSASSA-PKCS1-v1_5 signatures of a digest made with digest.
EvpPkeyCtxOwner NewVerifyContext(EVP_PKEY* key, const EVP_MD* digest) {
  EvpPkeyCtxOwner context(EVP_PKEY_CTX_new(key, nullptr));
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  if (EVP_PKEY_verify_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  return context;
}

bool Verifies(EVP_PKEY_CTX* context, const std::string& candidate, const std::string& digest) {
  return EVP_PKEY_verify(context, reinterpret_cast<const unsigned char*>(candidate.data()),
                         candidate.size(), reinterpret_cast<const unsigned char*>(digest.data()),
                         digest.size()) == 1;
}

}  // namespace

void VerifySignature(std::istream& body, const std::vector<std::string>& candidates,
                     const CCertContext& signer, HashAlgorithm algorithm) {
  if (candidates.empty()) throw ve_badsig();
  ErrorQueueCleaner cleaner;
  EVP_PKEY* key = RsaPublicKey(signer);
  const EVP_MD* digest = MessageDigest(algorithm);
  std::string bodyDigest = BodyDigest(body, digest);
  EvpPkeyCtxOwner context = NewVerifyContext(key, digest);
  for (const std::string& candidate : candidates) {
    if (Verifies(context.get(), candidate, bodyDigest)) return;
  }
  throw ve_badsig();
}

}  // namespace VerificationToolCrypto

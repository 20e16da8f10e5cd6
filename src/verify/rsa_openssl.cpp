#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>

#include "verify/owners_openssl.h"
#include "verify/rsa.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

const EVP_MD* MessageDigest(SignatureAlgorithm algorithm) {
  switch (algorithm) {
    case SignatureAlgorithm::kMd5Rsa:
      return EVP_md5();
    case SignatureAlgorithm::kSha1Rsa:
      return EVP_sha1();
    case SignatureAlgorithm::kSha256Rsa:
      return EVP_sha256();
    case SignatureAlgorithm::kSha384Rsa:
      return EVP_sha384();
    case SignatureAlgorithm::kSha512Rsa:
      return EVP_sha512();
  }
  return nullptr;
}

EvpPkeyOwner RsaKey(const std::string& public_key_info) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(public_key_info.data());
  EvpPkeyOwner key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(public_key_info.size())));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
    throw ve_crypt("CryptImportPublicKeyInfo failed");
  }
  return key;
}

}  // namespace

std::string DigestFor(SignatureAlgorithm algorithm, std::string_view bytes) {
  ErrorQueueCleaner cleaner;
  EvpMdCtxOwner context(EVP_MD_CTX_new());
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  if (EVP_DigestInit_ex(context.get(), MessageDigest(algorithm), nullptr) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> value;
  unsigned int length = 0;
  if (EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), value.data(), &length) != 1) {
    throw ve_crypt("CryptHashData failed");
  }
  return std::string(reinterpret_cast<const char*>(value.data()), length);
}

bool VerifiesRsaSignature(const std::string& public_key_info, SignatureAlgorithm algorithm,
                          const std::string& digest, const std::string& signature) {
  ErrorQueueCleaner cleaner;
  EvpPkeyOwner key = RsaKey(public_key_info);
  EvpPkeyCtxOwner context(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!context) throw ve_crypt("CryptAcquireContext failed");
  // With the digest named, the check wants its DigestInfo in the signature block.
  if (EVP_PKEY_verify_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), MessageDigest(algorithm)) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
  return EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(digest.data()),
                         digest.size()) == 1;
}

}  // namespace VerificationToolCrypto

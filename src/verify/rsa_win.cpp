#include "verify/owners_win.h"
#include "verify/rsa.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_crypt;

// Largest digest of the algorithms below.
constexpr DWORD kLargestDigest = 64;

ALG_ID HashAlgorithmId(SignatureAlgorithm algorithm) {
  switch (algorithm) {
    case SignatureAlgorithm::kMd5Rsa:
      return CALG_MD5;
    case SignatureAlgorithm::kSha1Rsa:
      return CALG_SHA1;
    case SignatureAlgorithm::kSha256Rsa:
      return CALG_SHA_256;
    case SignatureAlgorithm::kSha384Rsa:
      return CALG_SHA_384;
    case SignatureAlgorithm::kSha512Rsa:
      return CALG_SHA_512;
  }
  return 0;
}

// The RSA key of a SubjectPublicKeyInfo, imported into provider.
KeyOwner ImportPublicKey(HCRYPTPROV provider, const std::string& public_key_info) {
  DecodedOwner<CERT_PUBLIC_KEY_INFO> info;
  void* decoded = nullptr;
  DWORD size = 0;
  if (::CryptDecodeObjectEx(kCertEncoding, X509_PUBLIC_KEY_INFO,
                            reinterpret_cast<const BYTE*>(public_key_info.data()),
                            static_cast<DWORD>(public_key_info.size()), CRYPT_DECODE_ALLOC_FLAG,
                            nullptr, &decoded, &size)) {
    info.reset(static_cast<CERT_PUBLIC_KEY_INFO*>(decoded));
  }
  KeyOwner key;
  if (!info ||
      !::CryptImportPublicKeyInfo(provider, kCertAndMessageEncoding, info.get(), key.out())) {
    throw ve_crypt("CryptImportPublicKeyInfo failed");
  }
  return key;
}

// A hash object that carries digest, as computed before.
HashOwner HashHolding(HCRYPTPROV provider, SignatureAlgorithm algorithm,
                      const std::string& digest) {
  HashOwner hash = CreateHash(provider, HashAlgorithmId(algorithm));
  if (!::CryptSetHashParam(hash.get(), HP_HASHVAL, reinterpret_cast<const BYTE*>(digest.data()),
                           0)) {
    throw ve_crypt("CryptCreateHash failed");
  }
  return hash;
}

// The check wants the signature least significant byte first.
bool Verifies(HCRYPTHASH hash, HCRYPTKEY key, const std::string& signature, DWORD flags) {
  const std::string reversed(signature.rbegin(), signature.rend());
  return ::CryptVerifySignatureA(hash, reinterpret_cast<const BYTE*>(reversed.data()),
                                 static_cast<DWORD>(reversed.size()), key, nullptr, flags) != FALSE;
}

}  // namespace

std::string DigestFor(SignatureAlgorithm algorithm, std::string_view bytes) {
  ProviderOwner provider = AcquireVerifyContext();
  HashOwner hash = CreateHash(provider.get(), HashAlgorithmId(algorithm));
  BYTE value[kLargestDigest];
  DWORD length = kLargestDigest;
  if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()), 0) ||
      !::CryptGetHashParam(hash.get(), HP_HASHVAL, value, &length, 0)) {
    throw ve_crypt("CryptHashData failed");
  }
  return std::string(reinterpret_cast<const char*>(value), length);
}

// A signature block must hold the digest's DigestInfo. Wine's provider also takes a block
// with the bare digest when the DigestInfo does not match; a block that verifies as a bare
// digest (CRYPT_NOHASHOID) is therefore refused, on Windows too, where it never verifies
// both ways.
bool VerifiesRsaSignature(const std::string& public_key_info, SignatureAlgorithm algorithm,
                          const std::string& digest, const std::string& signature) {
  ProviderOwner provider = AcquireVerifyContext();
  KeyOwner key = ImportPublicKey(provider.get(), public_key_info);
  HashOwner hash = HashHolding(provider.get(), algorithm, digest);
  return Verifies(hash.get(), key.get(), signature, 0) &&
         !Verifies(hash.get(), key.get(), signature, CRYPT_NOHASHOID);
}

}  // namespace VerificationToolCrypto

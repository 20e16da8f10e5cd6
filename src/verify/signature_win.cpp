#include <algorithm>
#include <array>
#include <vector>

#include "verify/certificates_win.h"
#include "verify/owners_win.h"
#include "verify/signature.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {
namespace {

using verify_exceptions::ve_badsig;
using verify_exceptions::ve_crypt;

// Size of the blocks the body is read and hashed in.
constexpr std::size_t kBodyBlockSize = 64 * 1024;

// Largest digest of the algorithms below.
constexpr DWORD kLargestDigest = 64;

ALG_ID HashAlgorithmId(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return CALG_SHA1;
  }
  return 0;
}

// The signer's public key in provider; only an RSA key imports into an RSA provider.
KeyOwner ImportPublicKey(HCRYPTPROV provider, const CCertContext& signer) {
  KeyOwner key;
  if (!::CryptImportPublicKeyInfo(provider, kCertAndMessageEncoding,
                                  &signer.get()->pCertInfo->SubjectPublicKeyInfo, key.out())) {
    throw ve_crypt("CryptImportPublicKeyInfo failed");
  }
  return key;
}

// The digest of everything left in body, read in blocks: the body is hashed once, however
// many candidates are then checked against it.
std::string BodyDigest(std::istream& body, HCRYPTPROV provider, ALG_ID algorithm) {
  HashOwner hash = CreateHash(provider, algorithm);
  std::vector<char> block(kBodyBlockSize);
  while (body.read(block.data(), static_cast<std::streamsize>(block.size())) || body.gcount() > 0) {
    if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(block.data()),
                         static_cast<DWORD>(body.gcount()), 0)) {
      throw ve_crypt("CryptHashData failed");
    }
  }
  std::array<BYTE, kLargestDigest> value;
  DWORD length = kLargestDigest;
  if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, value.data(), &length, 0)) {
    throw ve_crypt("CryptHashData failed");
  }
  return std::string(reinterpret_cast<const char*>(value.data()), length);
}

// Whether candidate (most significant byte first) is an RSASSA-PKCS1-v1_5 signature of digest
// under key. The hash object handed to the check carries the digest computed before; the check
// wants the signature least significant byte first.
bool Verifies(HCRYPTPROV provider, ALG_ID algorithm, const std::string& digest, HCRYPTKEY key,
              const std::string& candidate) {
  HashOwner hash = CreateHash(provider, algorithm);
  if (!::CryptSetHashParam(hash.get(), HP_HASHVAL, reinterpret_cast<const BYTE*>(digest.data()),
                           0)) {
    throw ve_crypt("CryptCreateHash failed");
  }
  std::string reversed(candidate.rbegin(), candidate.rend());
  return ::CryptVerifySignatureA(hash.get(), reinterpret_cast<const BYTE*>(reversed.data()),
                                 static_cast<DWORD>(reversed.size()), key, nullptr, 0) != FALSE;
}

}  // namespace

void VerifySignature(std::istream& body, const std::vector<std::string>& candidates,
                     const CCertContext& signer, HashAlgorithm algorithm) {
  if (candidates.empty()) throw ve_badsig();
  ProviderOwner provider = AcquireVerifyContext();
  KeyOwner key = ImportPublicKey(provider.get(), signer);
  ALG_ID algorithmId = HashAlgorithmId(algorithm);
  std::string bodyDigest = BodyDigest(body, provider.get(), algorithmId);
  for (const std::string& candidate : candidates) {
    if (Verifies(provider.get(), algorithmId, bodyDigest, key.get(), candidate)) return;
  }
  throw ve_badsig();
}

}  // namespace VerificationToolCrypto

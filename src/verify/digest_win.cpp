#include <algorithm>
#include <array>

#include "verify/digest.h"
#include "verify/owners_win.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {

using verify_exceptions::ve_crypt;

namespace {

constexpr DWORD kSha1Size = 20;

}  // namespace

ProviderOwner AcquireVerifyContext() {
  ProviderOwner provider;
  if (!::CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
    throw ve_crypt("CryptAcquireContext failed");
  }
  return provider;
}

HashOwner CreateHash(HCRYPTPROV provider, ALG_ID algorithm) {
  HashOwner hash;
  if (!::CryptCreateHash(provider, algorithm, 0, 0, hash.out())) {
    throw ve_crypt("CryptCreateHash failed");
  }
  return hash;
}

class Sha1Digest::State {
 public:
  ProviderOwner provider = AcquireVerifyContext();
  HashOwner hash = CreateHash(provider.get(), CALG_SHA1);
};

Sha1Digest::Sha1Digest() : state_(std::make_unique<State>()) {}

Sha1Digest::~Sha1Digest() = default;

// CryptHashData takes a 32-bit length: larger pieces go in several calls.
void Sha1Digest::Update(const unsigned char* data, std::size_t size) {
  constexpr std::size_t kLargestPiece = 1u << 30;
  do {
    std::size_t piece = std::min(size, kLargestPiece);
    if (!::CryptHashData(state_->hash.get(), data, static_cast<DWORD>(piece), 0)) {
      throw ve_crypt("CryptHashData failed");
    }
    data += piece;
    size -= piece;
  } while (size > 0);
}

std::string Sha1Digest::Finish() {
  std::array<BYTE, kSha1Size> digest;
  DWORD length = kSha1Size;
  if (!::CryptGetHashParam(state_->hash.get(), HP_HASHVAL, digest.data(), &length, 0) ||
      length != kSha1Size) {
    throw ve_crypt("CryptGetHashParam failed");
  }
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

}  // namespace VerificationToolCrypto

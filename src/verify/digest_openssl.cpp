#include <openssl/evp.h>

#include <array>

#include "verify/digest.h"
#include "verify/owners_openssl.h"
#include "verify/verify_exceptions.h"

namespace VerificationToolCrypto {

using verify_exceptions::ve_crypt;

class Sha1Digest::State {
 public:
  EvpMdCtxOwner context{EVP_MD_CTX_new()};
};

Sha1Digest::Sha1Digest() : state_(std::make_unique<State>()) {
  ErrorQueueCleaner cleaner;
  if (!state_->context) throw ve_crypt("CryptAcquireContext failed");
  if (EVP_DigestInit_ex(state_->context.get(), EVP_sha1(), nullptr) != 1) {
    throw ve_crypt("CryptCreateHash failed");
  }
}

Sha1Digest::~Sha1Digest() = default;

// Called once per block: the error queue is emptied only when there is something in it.
void Sha1Digest::Update(const unsigned char* data, std::size_t size) {
  if (EVP_DigestUpdate(state_->context.get(), data, size) != 1) {
    ErrorQueueCleaner cleaner;
    throw ve_crypt("CryptHashData failed");
  }
}

std::string Sha1Digest::Finish() {
  ErrorQueueCleaner cleaner;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1) {
    throw ve_crypt("CryptGetHashParam failed");
  }
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

}  // namespace VerificationToolCrypto

// Scoped owners of OpenSSL objects, released on every path.
#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace VerificationToolCrypto {

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};

using EvpMdCtxOwner = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using EvpPkeyOwner = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using EvpPkeyCtxOwner = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;

// Empties the thread's OpenSSL error queue on leaving a scope, so that failed checks leave
// nothing behind for other users of OpenSSL on the thread.
class ErrorQueueCleaner {
 public:
  ErrorQueueCleaner() = default;
  ~ErrorQueueCleaner() { ERR_clear_error(); }
  ErrorQueueCleaner(const ErrorQueueCleaner&) = delete;
  ErrorQueueCleaner& operator=(const ErrorQueueCleaner&) = delete;
};

}  // namespace VerificationToolCrypto
